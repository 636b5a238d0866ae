#pragma once
// What the window asks the user besides the operations' own boxes: which file to open or
// save. Together with the message and input boxes it is the window's whole dialog
// interface, so that tests can answer every dialog without a screen.

#include <optional>
#include <string>

#include "env/operation_status.h"

namespace ostrel {

struct TFileDialogRequest {
  enum class Kind { Open, Save };
  Kind kind = Kind::Open;
  // "Description|*.ext1;*.ext2" as the settings and the handlers spell it.
  std::string filter;
  // The file name the dialog starts with (the last choice from the settings).
  std::string file_name;
  // Appended (with a dot) to a chosen name that has no extension.
  std::string default_extension;
};

class TWindowDialogs : public TDialogs {
 public:
  // The chosen file, or nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile(const TFileDialogRequest& request) = 0;
};

}  // namespace ostrel
