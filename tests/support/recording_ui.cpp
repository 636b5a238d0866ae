#include "support/recording_ui.h"

#include <algorithm>

namespace ostrel::testing {

DialogResult RecordingUi::NextAnswer(DialogResult fallback) {
  if (answers.empty()) return fallback;
  DialogResult answer = answers.front();
  answers.pop_front();
  return answer;
}

int RecordingUi::Notify(NotifyCode code, std::int64_t value) {
  notifications.push_back({code, false, value, {}});
  return 0;
}

int RecordingUi::Notify(NotifyCode code, const std::string& text) {
  notifications.push_back({code, true, 0, text});
  if (code == nfConfirmBox || code == nfWarningBox) return NextAnswer(mrCancel);
  return 0;
}

void RecordingUi::ProcessMessages() {
  ++process_messages_calls;
  if (on_process_messages) on_process_messages();
}

DialogResult RecordingUi::MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) {
  dialogs.push_back({kind, buttons, text});
  switch (buttons) {
    case DialogButtons::OK: return NextAnswer(mrOK);
    case DialogButtons::OKCancel: return NextAnswer(mrCancel);
    case DialogButtons::YesNo: return NextAnswer(mrNo);
  }
  return mrNone;
}

std::optional<std::string> RecordingUi::InputBox(const std::string& caption, const std::string& prompt,
                                                 const std::string& default_value) {
  dialogs.push_back({DialogKind::Confirmation, DialogButtons::OKCancel, caption + ": " + prompt});
  (void)default_value;
  if (input_answers.empty()) return std::nullopt;
  auto answer = input_answers.front();
  input_answers.pop_front();
  return answer;
}

std::vector<std::string> RecordingUi::Texts(NotifyCode code) const {
  std::vector<std::string> result;
  for (const auto& n : notifications) {
    if (n.code == code && n.is_text) result.push_back(n.text);
  }
  return result;
}

std::vector<std::int64_t> RecordingUi::Values(NotifyCode code) const {
  std::vector<std::int64_t> result;
  for (const auto& n : notifications) {
    if (n.code == code && !n.is_text) result.push_back(n.value);
  }
  return result;
}

bool RecordingUi::HasLogLine(const std::string& text) const {
  auto lines = LogLines();
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

std::vector<std::string> RecordingUi::BoxTexts() const {
  std::vector<std::string> result;
  for (const auto& d : dialogs) result.push_back(d.text);
  for (const auto& n : notifications) {
    if (n.is_text && (n.code == nfInfoBox || n.code == nfErrorBox || n.code == nfConfirmBox ||
                      n.code == nfWarningBox)) {
      result.push_back(n.text);
    }
  }
  return result;
}

}  // namespace ostrel::testing
