#include "env/operation_status.h"

namespace ostrel {

int TUserInterface::Notify(NotifyCode code, std::int64_t value) const {
  if (!notifier) return 0;
  int result = notifier->Notify(code, value);
  notifier->ProcessMessages();
  return result;
}

int TUserInterface::Notify(NotifyCode code, const std::string& text) const {
  if (!notifier) return 0;
  int result = notifier->Notify(code, text);
  notifier->ProcessMessages();
  return result;
}

void TUserInterface::ProcessMessages() const {
  if (notifier) notifier->ProcessMessages();
}

DialogResult TUserInterface::MessageBox(DialogKind kind, const std::string& text,
                                        DialogButtons buttons) const {
  if (dialogs) return dialogs->MessageBox(kind, text, buttons);
  switch (buttons) {
    case DialogButtons::OK: return mrOK;
    case DialogButtons::OKCancel: return mrCancel;
    case DialogButtons::YesNo: return mrNo;
  }
  return mrNone;
}

std::atomic<std::uint8_t>& StopRequest() {
  static std::atomic<std::uint8_t> request{0};
  return request;
}

std::string StopReasonText(std::uint8_t reason) {
  switch (reason) {
    case stopByUser: return "Manually cancelled!";
    case stopByLink: return "Automatically cancelled!";
    default: return "Unknown cancel reason!";
  }
}

}  // namespace ostrel
