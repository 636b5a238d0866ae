#pragma once
// The diagnostics log (TMiniLogger) and the release routine with its release error log.

#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

#include "base/object.h"

namespace ostrel {

class TMiniLogger : public TObject {
 public:
  // Writes one line "<program> dd.mm.yyyy hh:nn:ss <text>" when enabled; the first line
  // truncates the file, later ones append. Failures are ignored: logging never interrupts
  // an operation.
  void LogLine(const std::string& text);

  bool first_write = true;
  bool enabled = false;
  // Resolved at the first write when blank: the program's name up to its first dot +
  // ".LOG", in the program's directory (or, when that is not writable, the user data
  // directory) with program_dir, else in the current directory.
  std::string file_name;
  bool program_dir = false;   // the file lies in the program's directory
};

// Writes one line to UD + "FreeAndNil3_ErrorLog.TXT": "DD.MM.YYYY HH:NN:SS.ZZZ 00000000 "
// + stage as two hex digits + " " + class name. Nothing when UD is blank. At most 1001
// lines per run; the first line of a run replaces the file of earlier runs.
void LogReleaseFailure(int stage, const std::string& class_name);

// The class name recorded by the latest release (one per process, as the release log's
// line counter).
std::string LastReleasedClassName();
void RecordReleasedClassName(std::string class_name);
// The readable name of a type ("TFX9860sio" for ostrel::TFX9860sio).
std::string ReadableClassName(const std::type_info& type);

// Starts a new run of the release error log (tests only): counter 0, no class recorded.
void ResetReleaseLogForTesting();

// Records a failed release step (2 or 3) in the release error log; never throws.
void NoteReleaseFailure(int stage) noexcept;

// Releases an owned object and clears the reference; a failing release is recorded in the
// release error log instead of being passed on.
//
// Stage 2 records the class name (the object's own ClassName() when it has one, else its
// dynamic type). Stage 3 clears the reference, runs the object's Release() step when it
// has one, and destroys the object. A failure in stage 2 is logged and the release still
// happens; exceptions from Release() and from a destructor declared noexcept(false) are
// logged at stage 3. On every path the reference ends empty and the object is destroyed.
template <typename T, typename D>
void FreeAndNil3(std::unique_ptr<T, D>& reference) noexcept {
  if (!reference) return;
  try {
    if constexpr (requires { reference->ClassName(); }) {
      RecordReleasedClassName(std::string(reference->ClassName()));
    } else {
      RecordReleasedClassName(ReadableClassName(typeid(*reference)));
    }
  } catch (...) {
    NoteReleaseFailure(2);
  }
  std::unique_ptr<T, D> doomed = std::move(reference);
  try {
    if constexpr (requires { doomed->Release(); }) {
      try {
        doomed->Release();
      } catch (...) {
        // Destroy the object all the same, then record the failure.
        doomed.get_deleter()(doomed.release());
        throw;
      }
    }
    // Through the deleter rather than reset(): reset() is noexcept, so a throwing
    // destructor there would end the program instead of being recorded.
    doomed.get_deleter()(doomed.release());
  } catch (...) {
    NoteReleaseFailure(3);
  }
}

}  // namespace ostrel
