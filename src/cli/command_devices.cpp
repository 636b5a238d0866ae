// `ostrel devices`: the serial ports and the calculators on USB, with whether each can be
// used now and, when not, what to do about it.

#include <iostream>

#include "cli/cli_common.h"
#include "link/port_discovery.h"
#include "link/usb_listing.h"

namespace {

void ListDevices() {
  std::cout << "Serial ports (--serial PORT):\n";
  const auto ports = ostrel::SerialPortStates();
  for (const ostrel::TSerialPortState& port : ports) {
    std::cout << "  " << port.path << "  " << (port.usable ? "usable" : "not usable: " + port.why_not) << '\n';
  }
  if (ports.empty()) std::cout << "  none found (a USB serial cable appears as /dev/ttyUSB0 when plugged in)\n";

  std::cout << "Calculators on USB (--usb):\n";
  const auto calculators = ostrel::ListCalculatorsOnUsb();
  for (const ostrel::TUsbCalculatorState& calculator : calculators) {
    std::cout << "  " << calculator.node << "  " << calculator.state << '\n';
  }
  if (calculators.empty()) {
    std::cout << "  none found (connect the calculator with its USB cable; it appears as 07CF:6101)\n";
  }
}

const ostrel::cli::TCommandRegistration registration{
    "devices", "List the serial ports and the calculators on USB, and whether each can be used",
    [](CLI::App& command, ostrel::cli::TCliContext&) { command.callback([] { ListDevices(); }); }};

}  // namespace
