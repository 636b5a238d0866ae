#pragma once
// The diagnostics log (TMiniLogger) and the release routine with its release error log.

#include <memory>
#include <string>
#include <typeinfo>

namespace ostrel {

class TMiniLogger {
 public:
  TMiniLogger();
  // Writes one line "<program> dd.mm.yyyy hh:nn:ss <text>" when enabled; the first line
  // truncates the file. Failures are ignored.
  void LogLine(const std::string& text);

  bool first_write = true;
  bool enabled = false;
  std::string file_name;      // resolved at the first write when blank
  bool program_dir = false;   // the file lies in the program's directory
};

// Writes one line to UD + "FreeAndNil3_ErrorLog.TXT" (at most 1001 lines per run).
void LogReleaseFailure(int stage, const std::string& class_name);

// Releases an owned object and clears the reference; a failing release is recorded in the
// release error log instead of being passed on.
template <typename T>
void FreeAndNil3(std::unique_ptr<T>& reference) noexcept {
  int stage = 1;
  static thread_local std::string last_class;  // the class name of the previous release
  try {
    if (!reference) return;
    stage = 2;
    last_class = typeid(*reference).name();
    stage = 3;
    std::unique_ptr<T> doomed = std::move(reference);
    doomed.reset();
  } catch (...) {
    LogReleaseFailure(stage, last_class);
  }
}

}  // namespace ostrel
