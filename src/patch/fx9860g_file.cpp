#include "patch/fx9860g_file.h"

#include "patch/patcher.h"

namespace ostrel {

bool TFX9860GFile::RunBugfix(TUserInterface ui, bool console, int* line_no, std::string* error_text) const {
  TPatcher patcher(ui);
  patcher.SetConsole(console);
  try {
    const bool ok = patcher.RunPatchScript(script_file_);
    if (line_no) *line_no = patcher.LineNo();
    if (error_text) *error_text = patcher.ErrorText();
    return ok;
  } catch (...) {
    if (line_no) *line_no = patcher.LineNo();
    throw;
  }
}

}  // namespace ostrel
