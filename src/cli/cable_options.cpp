#include "cli/cable_options.h"

#include <unistd.h>

#include <iostream>
#include <string_view>
#include <string>

#include "base/text.h"
#include "env/operation_status.h"
#include "operations/finish_operation.h"

namespace ostrel::cli {

void AddCableOptions(CLI::App& command, TCableOptions& options) {
  auto* usb = command.add_flag("--usb", options.usb, "Link over USB, searching the calculator (the default)");
  auto* serial = command.add_option("--serial", options.serial_port, "Link over this serial port (3-pin cable)");
  auto* device = command.add_option("--device", options.device,
                                    "Link over USB through this device file or simulator endpoint");
  auto* simulate = command
                       .add_flag("--simulate{usb}", options.simulate,
                                 "Run against a simulated calculator (a generated OS image) for the length "
                                 "of the command, over USB; --simulate=serial over its serial line")
                       ->check(CLI::IsMember({"usb", "serial"}));
  usb->excludes(serial)->excludes(device)->excludes(simulate);
  serial->excludes(device)->excludes(simulate);
  device->excludes(simulate);
}

TCableChoice::TCableChoice(const TCableOptions& options, const std::string& trace_file) {
  // Nobody at a terminal puts the calculator into receive mode or presses Ctrl-C: a script
  // learns within a minute that the calculator did not take the link.
  if (::isatty(STDIN_FILENO) != 1) target_.timings.receive_mode_wait = kUnwatchedReceiveModeWait;
  if (!trace_file.empty()) {
    trace_ = std::make_unique<TPacketTrace>(trace_file);
    target_.trace = trace_.get();
  }
  if (!options.simulate.empty()) {
    const SimulatedLink link = options.simulate == "serial" ? SimulatedLink::Serial : SimulatedLink::Usb;
    simulator_ = std::make_unique<TSimulatedCalculator>(link);
    if (link == SimulatedLink::Serial) {
      bits_ = OPT_3PIN;
      target_.serial_port = simulator_->Endpoint();
    } else {
      bits_ = OPT_USB;
      target_.usb_device = simulator_->Endpoint();
    }
  } else if (!options.serial_port.empty()) {
    bits_ = OPT_3PIN;
    target_.serial_port = options.serial_port;
  } else {
    bits_ = OPT_USB;
    if (!options.device.empty()) target_.usb_device = options.device;
  }
}

TCableChoice::~TCableChoice() = default;

int LinkCommandExitStatus(bool succeeded, std::uint8_t stop_reason) {
  if (succeeded) return kExitSuccess;
  return stop_reason == stopByUser ? kExitInterrupted : kExitFailure;
}

int RunLinkOperation(TTerminalUi& terminal, const std::function<bool(std::string& failure_line)>& operation) {
  StopRequest() = stopNone;
  terminal.StartOperation();
  bool succeeded = false;
  std::string failure_line;
  try {
    succeeded = operation(failure_line);
  } catch (...) {
    terminal.FinishProgress();
    FinishOperation(terminal.Ui());
    throw;
  }
  terminal.FinishProgress();
  // The calculator may still be held in the transfer that broke off: a stop report carries
  // the reset advice; without a stop it gets a line of its own.
  const bool held = terminal.SessionActive();
  const std::uint8_t stop = FinishOperation(terminal.Ui(), held);
  if (held && stop == stopNone) std::cerr << "ostrel: " << ReplaceAll(kResetAdvice, "\r\n", " ") << '\n';
  // The user's stop is what ended the command; the line says so before what it left.
  constexpr std::string_view kPrefix = "ostrel: ";
  if (stop == stopByUser && failure_line.starts_with(kPrefix)) failure_line.insert(kPrefix.size(), "stopped (Ctrl-C): ");
  if (!failure_line.empty()) std::cerr << failure_line << '\n' << std::flush;
  return LinkCommandExitStatus(succeeded, stop);
}

}  // namespace ostrel::cli
