#pragma once
// A bugfix: one patch script (".PSC") applied once with a fresh interpreter of its own,
// whose report lines go to the diagnostics memo (or, in console mode, to standard output).

#include <string>

#include "base/object.h"
#include "env/operation_status.h"

namespace ostrel {

class TFX9860GFile : public TObject {
 public:
  explicit TFX9860GFile(std::string script_file) : script_file_(std::move(script_file)) {}

  const std::string& FScriptFile() const { return script_file_; }

  // Runs the script once with a new interpreter (its own parameter list), destroyed
  // also when the run raises: its target is then closed, and deleted when the run made
  // it by copying. True when the run ended without an error text; exceptions pass.
  // `line_no`, when given, receives the number of the line where the run ended (also
  // when it raised); `error_text`, the error text that ended a run that returned false.
  bool RunBugfix(TUserInterface ui = {}, bool console = false, int* line_no = nullptr,
                 std::string* error_text = nullptr) const;

 private:
  std::string script_file_;
};

}  // namespace ostrel
