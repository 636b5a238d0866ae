#pragma once
// How a running operation talks to the user: notifications (status, progress, addresses,
// diagnostics lines, calculator and image data, questions), modal dialogs, and the
// process-wide stop request. The window, the command line and the tests implement the
// two interfaces; operations and the protocol object only ever call them.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

enum NotifyCode : int {
  nfProgressMax = 1,
  nfProgressPos = 2,
  nfLogLine = 3,       // text: a diagnostics line, shown with the elapsed-time prefix
  nfLogLineRaw = 4,    // text: a diagnostics line as it is
  nfLogClear = 5,
  nfBlockProgressMax = 7,
  nfBlockProgressPos = 8,
  nfInfoBox = 9,       // text: information box, OK
  nfErrorBox = 10,     // text: error box, OK
  nfFlashAddress = 11,
  nfRAMAddress = 12,
  nfConfirmBox = 13,   // text: confirmation box, OK/Cancel; result = pressed button
  nfStatus = 14,
  nfWarningBox = 15,   // text: warning box, OK/Cancel; result = pressed button
  nfCalcData = 16,
  nfImageData = 17,
  nfSessionActive = 19,
  nfSpeed = 20,
  nfLCDContrast = 21,
};

// Buttons pressed in a modal box.
enum DialogResult : int { mrNone = 0, mrOK = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class TNotifier {
 public:
  virtual ~TNotifier() = default;
  // Delivered synchronously. Returns 0, except for nfConfirmBox and nfWarningBox, which
  // return the pressed button (mrOK or mrCancel).
  virtual int Notify(NotifyCode code, std::int64_t value) = 0;
  virtual int Notify(NotifyCode code, const std::string& text) = 0;
  // Lets pending window messages run (where the Cancel button is seen).
  virtual void ProcessMessages() = 0;
};

enum class DialogKind { Information, Warning, Error, Confirmation };
enum class DialogButtons { OK, OKCancel, YesNo };

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A modal box; returns the pressed button.
  virtual DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) = 0;
  // A modal input box; nothing when the user cancels.
  virtual std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                              const std::string& default_value) = 0;
};

// What an operation reports to. Either pointer may be null: a null notifier means "no
// window" (nothing is reported); a null dialog interface answers every box with its
// negative button (No / Cancel, or OK where OK is the only one).
struct TUserInterface {
  TNotifier* notifier = nullptr;
  TDialogs* dialogs = nullptr;

  // Convenience: forward when a notifier exists, then let messages run.
  int Notify(NotifyCode code, std::int64_t value) const;
  int Notify(NotifyCode code, const std::string& text) const;
  void ProcessMessages() const;
  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) const;
};

// The stop request: 0 carry on, 1 stopped by the user (Cancel), 2 stopped by the link
// layer, anything else unknown. Lock-free so that a signal handler may set it.
enum StopReason : std::uint8_t { stopNone = 0, stopByUser = 1, stopByLink = 2 };
std::atomic<std::uint8_t>& StopRequest();

// The text FinishOperation reports for a stop reason.
std::string StopReasonText(std::uint8_t reason);

}  // namespace ostrel
