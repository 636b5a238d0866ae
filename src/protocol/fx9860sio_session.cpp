// TFX9860sio: opening and closing a session, the control packets and answer checks.

#include <algorithm>

#include "base/error.h"
#include "protocol/fx9860sio.h"
#include "protocol/message_wait.h"
#include "protocol/packet_codec.h"

namespace ostrel {

namespace {

constexpr std::string_view kBackupHint = "Backup is supported by Link/receive-mode only!";

}  // namespace

std::string ErrorAnswerText(std::string_view code) {
  if (code == "00") return "default";
  if (code == "01") return "Resend request";
  if (code == "02") return "Overwrite request if file exists";
  if (code == "03") return "\u201CNo\u201D-response to an overwrite request";
  if (code == "04") return "Overwrite impossible/requested file does not exist";
  if (code == "05") return "Memory is full";
  return "Unknown errorcode";
}

std::string ErrorAnswerMeaning(std::string_view code) {
  return "error " + ReadableBytes(code) + " (" + ErrorAnswerText(code) + ")";
}

int TFX9860sio::FStart(bool skip_check, int retries) {
  Report("FStart in");
  int status = 0;
  switch (kind_) {
    case LinkKind::Serial: status = SerialStart(); break;
    case LinkKind::Usb: status = UsbStart(skip_check, retries); break;
  }
  Report("FStart out");
  return status;
}

int TFX9860sio::SerialStart() {
  Open(SerialConnection(9600));
  timeout_ = timings_.baud_check;
  if (SendCheck("00") != kNoAnswer) {
    Report("switching to 115200 baud...");
    timeout_ = timings_.baud_check;
    if (SendLinkSettings("115200", "NONE", "1") != kAcknowledged) {
      // The calculator did not take the new speed: switching alone would leave the two
      // sides talking past each other. Stay at 9600 if it still answers there.
      Report("the calculator kept 9600 baud (" + FailureCause() + "); staying at 9600 baud");
      Report("checking...");
      if (SendCheck("01") == kNoAnswer) {
        Report("Receive mode not activated!");
        NoSerialSession();
        return 2;
      }
      return 0;
    }
    Open(SerialConnection(115200));
    Report("checking...");
    SendCheck("01");
    return 0;
  }
  // The calculator may still be at 115200 from a session that was not ended.
  Report("9600 baud not successful");
  Open(SerialConnection(115200));
  timeout_ = timings_.baud_check;
  if (SendCheck("00") == kNoAnswer) {
    Report("Receive mode not activated!");
    NoSerialSession();
    return 2;
  }
  return 0;
}

void TFX9860sio::NoSerialSession() {
  if (channel_ && channel_->Handle() < 0 && !open_diagnostics_.empty()) {
    failure_cause_ = open_diagnostics_.back();  // the port itself could not be opened
    return;
  }
  failure_cause_ = "the calculator did not answer on " + port_name_ +
                   " at 9600 or 115200 baud: check the 3-pin cable and put the calculator into receive mode";
}

int TFX9860sio::UsbStart(bool skip_check, int retries) {
  failure_cause_.clear();
  bool waiting_shown = false;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    Open(UsbConnection());
    if (channel_->Handle() >= 0) break;
    // Why this attempt failed, as the channel said it (the last of its lines).
    const std::string why = open_diagnostics_.empty() ? std::string() : open_diagnostics_.back();
    if (channel_->Unusable()) {
      // Permission denied, not a device, a socket nobody serves: waiting will not help.
      failure_cause_ = why;
      Report("USB communication failed: " + why);
      StopRequest() = stopByLink;
    } else if (!channel_->DevicePath().empty()) {
      // Present but not openable: typically not in receive mode yet; wait for the user.
      Report("Receive mode not activated!");
      if (!waiting_shown) {
        ui_.Notify(nfStatus, std::string("Waiting for the calculator: put it into receive mode (") + why + ")");
        waiting_shown = true;
      }
      if (timings_.receive_mode_wait && std::chrono::steady_clock::now() - start >= *timings_.receive_mode_wait) {
        const long long limit = timings_.receive_mode_wait->count();
        failure_cause_ = why + " The calculator did not take the link within " +
                         (limit % 1000 == 0 ? std::to_string(limit / 1000) + " s" : std::to_string(limit) + " ms") +
                         ": put it into receive mode and repeat the command.";
        Report("USB communication failed: " + failure_cause_);
        return 2;
      }
    } else if (retries > 0) {
      --retries;
    } else {
      Report("USB communication failed: check USB-driver or cabling.");
      // The permissions are the usual cause on this system, whatever its version.
      Report("Check the USB permissions (udev rule) and that no other program holds the calculator.");
      failure_cause_ = (why.empty() ? std::string("no calculator found on USB") : why) +
                       " Connect the calculator, put it into receive mode, and check the USB permissions "
                       "(the udev rule, see docs/usb.md).";
      StopRequest() = stopByLink;
    }
    WaitWithMessages(ui_, timings_.usb_retry, [] { return StopRequest() != stopNone; });
    if (const std::uint8_t stop = StopRequest(); stop != stopNone) return stop;
  }
  if (!skip_check) {
    Report("start...");
    SendCheck("00");
  }
  return 0;
}

bool TFX9860sio::WaitUntilCalculatorLeaves(std::chrono::milliseconds limit) {
  if (kind_ != LinkKind::Usb) return true;
  constexpr std::chrono::milliseconds kProbeInterval{50};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Open(UsbConnection());
    const bool present = channel_->Handle() >= 0;
    Close();
    if (!present) return true;
    if (std::chrono::steady_clock::now() >= deadline) {
      Report("the calculator is still on the link after the restart command");
      return false;
    }
    if (!WaitWithMessages(ui_, kProbeInterval, [] { return StopRequest() != stopNone; })) return false;
  }
}

int TFX9860sio::FStop() {
  if (kind_ == LinkKind::Serial && channel_) {
    Report("switching to 9600 baud...");
    timeout_ = timings_.baud_check;
    SendLinkSettings("9600", "NONE", "1");
    Open(SerialConnection(9600));
  }
  Close();
  return 0;
}

int TFX9860sio::SendCheck(std::string_view subtype) {
  return SendCommand(subtype, nullptr, 0, kTypeCheck, false, false);
}

int TFX9860sio::SendRoleswap() { return ExchangeControl(kTypeRoleswap).Code(); }

int TFX9860sio::SendAck() { return ExchangeControl(kTypeAck).Code(); }

int TFX9860sio::SendTerminate() { return ExchangeControl(kTypeTerminate).Code(); }

int TFX9860sio::SendLinkSettings(const std::string& baud_rate, const std::string& parity,
                                 const std::string& stop_bits) {
  return SendParameterCommand("02", 0, 0, 0, {baud_rate, parity, stop_bits, "", "", ""});
}

bool TFX9860sio::CheckAnswer(std::string_view expected, bool show_error, bool backup_hint) {
  TAnswer last;
  last.header = header_;
  return CheckAnswer(last, expected, show_error, backup_hint);
}

bool TFX9860sio::CheckAnswer(const TAnswer& answer, std::string_view expected, bool show_error,
                             bool backup_hint) {
  if (answer.Is(expected)) return true;
  if (!show_error) return false;

  std::string message;
  if (answer.Type() == kTypeError) {
    const std::string code(reinterpret_cast<const char*>(&answer.header[1]), 2);
    message = "Error " + code + ": " + ErrorAnswerText(code);
    if (code == "04" && backup_hint) message += "\r\n" + std::string(kBackupHint);
  } else {
    // Control bytes shown readably; what came instead (or why nothing came) beside it.
    message = "wrong answer on:" + ReadableBytes(expected.substr(0, std::min(expected.size(), answer.header.size())));
    if (answer.Type() != 0) {
      message += " (the calculator sent " + ReadableBytes(answer.header) + ")";
    } else if (!failure_cause_.empty()) {
      message += " (" + failure_cause_ + ")";
    }
  }
  ui_.MessageBox(DialogKind::Error, message, DialogButtons::OK);
  return false;
}

}  // namespace ostrel
