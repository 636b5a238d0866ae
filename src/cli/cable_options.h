#pragma once
// The cable options every link command shares, and what they turn into:
//   --usb          USB, searching the calculator (the default)
//   --serial PORT  the serial port with the 3-pin cable
//   --device PATH  USB through this device file (a usbfs node or a simulator endpoint)
//   --simulate     a simulated calculator for the length of the command, over USB;
//                  --simulate=serial over its serial line
// Also the frame every link command runs its operation in, and the exit status it ends
// with.

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cli/terminal_ui.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"
#include "protocol/packet_trace.h"
#include "simulation/simulated_calculator.h"

namespace ostrel::cli {

struct TCableOptions {
  bool usb = false;
  std::string serial_port;
  std::string device;
  std::string simulate;  // empty, "usb" or "serial"
};

// Adds the four options (mutually exclusive) to `command`; `options` must outlive it.
void AddCableOptions(CLI::App& command, TCableOptions& options);

// The cable chosen: the option bits and the link target for an operation. A simulated
// calculator asked for runs as long as this object lives.
class TCableChoice {
 public:
  // With a trace file named, every packet of the operation is traced into it (the file is
  // created here; IoError when it cannot be).
  explicit TCableChoice(const TCableOptions& options, const std::string& trace_file = "");
  ~TCableChoice();
  TCableChoice(const TCableChoice&) = delete;
  TCableChoice& operator=(const TCableChoice&) = delete;

  TOptionWord CableBits() const { return bits_; }
  const TLinkTarget& Target() const { return target_; }
  // The simulated calculator, or null.
  const TSimulatedCalculator* Simulator() const { return simulator_.get(); }

 private:
  TOptionWord bits_ = OPT_USB;
  TLinkTarget target_;
  std::unique_ptr<TSimulatedCalculator> simulator_;
  std::unique_ptr<TPacketTrace> trace_;
};

// How long a command without a terminal waits for a calculator that does not take the link.
inline constexpr std::chrono::milliseconds kUnwatchedReceiveModeWait{60000};

// Exit statuses of the link commands.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitInterrupted = 130;  // stopped with Ctrl-C

// 0 for a successful operation; otherwise 130 when the user stopped it, else 1.
int LinkCommandExitStatus(bool succeeded, std::uint8_t stop_reason);

// Runs one link operation (true when it succeeded) in the frame every operation has: a
// fresh stop request and start time before; after it, also when an error leaves it, the
// progress line ended and a stop reported. The operation may leave a failure line (why it
// failed, what to do); it goes to standard error after the stop report, so that it is the
// last line a user sees. Gives the command's exit status.
int RunLinkOperation(TTerminalUi& terminal, const std::function<bool(std::string& failure_line)>& operation);

}  // namespace ostrel::cli
