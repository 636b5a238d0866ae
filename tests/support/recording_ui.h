#pragma once
// A user interface for tests: records every notification and dialog, and answers
// questions from a script of answers given in advance.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "env/operation_status.h"

namespace ostrel::testing {

struct RecordedNotification {
  NotifyCode code;
  bool is_text;
  std::int64_t value;
  std::string text;
};

struct RecordedDialog {
  DialogKind kind;
  DialogButtons buttons;
  std::string text;
};

class RecordingUi : public TNotifier, public TDialogs {
 public:
  int Notify(NotifyCode code, std::int64_t value) override;
  int Notify(NotifyCode code, const std::string& text) override;
  void ProcessMessages() override;
  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& default_value) override;

  TUserInterface Ui() { return TUserInterface{this, this}; }

  // Answers for questions, used in order; when none is left, questions get the
  // negative answer (Cancel / No) and OK-only boxes get OK.
  std::deque<DialogResult> answers;
  std::deque<std::optional<std::string>> input_answers;
  // Called on every ProcessMessages (a test can set the stop request from here).
  std::function<void()> on_process_messages;

  std::vector<RecordedNotification> notifications;
  std::vector<RecordedDialog> dialogs;
  int process_messages_calls = 0;

  // Texts of the notifications with one code, in order.
  std::vector<std::string> Texts(NotifyCode code) const;
  std::vector<std::int64_t> Values(NotifyCode code) const;
  // The nfLogLine texts.
  std::vector<std::string> LogLines() const { return Texts(nfLogLine); }
  bool HasLogLine(const std::string& text) const;
  // All dialog texts plus the texts of the box notifications (9, 10, 13, 15).
  std::vector<std::string> BoxTexts() const;

 private:
  DialogResult NextAnswer(DialogResult fallback);
};

}  // namespace ostrel::testing
