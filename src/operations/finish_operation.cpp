#include "operations/finish_operation.h"

#include <string>

namespace ostrel {

std::uint8_t FinishOperation(TUserInterface ui) {
  const std::uint8_t reason = StopRequest().load();
  if (reason == stopNone) return stopNone;
  const std::string text = StopReasonText(reason);
  ui.Notify(nfLogLine, text);
  ui.MessageBox(DialogKind::Warning, text, DialogButtons::OK);
  StopRequest().store(stopNone);
  return reason;
}

}  // namespace ostrel
