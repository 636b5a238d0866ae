#include "operations/finish_operation.h"

#include <string>

namespace ostrel {

std::uint8_t FinishOperation(TUserInterface ui, bool calculator_held) {
  const std::uint8_t reason = StopRequest().load();
  if (reason == stopNone) return stopNone;
  std::string text = StopReasonText(reason);
  if (calculator_held) text += std::string("\r\n") + kResetAdvice;
  ui.Notify(nfLogLine, text);
  ui.MessageBox(DialogKind::Warning, text, DialogButtons::OK);
  StopRequest().store(stopNone);
  return reason;
}

}  // namespace ostrel
