#include "patch/fx9860g_file.h"

#include "patch/patcher.h"

namespace ostrel {

bool TFX9860GFile::RunBugfix(TUserInterface ui, bool console, int* line_no) const {
  TPatcher patcher(ui);
  patcher.SetConsole(console);
  try {
    const bool ok = patcher.RunPatchScript(script_file_);
    if (line_no) *line_no = patcher.LineNo();
    return ok;
  } catch (...) {
    if (line_no) *line_no = patcher.LineNo();
    throw;
  }
}

}  // namespace ostrel
