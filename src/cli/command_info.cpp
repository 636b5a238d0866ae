// `ostrel info`: asks the calculator to describe itself and prints the sixteen lines of
// its device information on standard output. Exit status: 0 when the calculator answered,
// 130 when stopped with Ctrl-C, 1 otherwise.

#include <iostream>
#include <memory>
#include <string>

#include "base/text.h"
#include "cli/cable_options.h"
#include "cli/cli_common.h"
#include "operations/device_query.h"
#include "operations/finish_operation.h"

namespace {

void RunInfo(const ostrel::cli::TCableOptions& cable_options, ostrel::cli::TCliContext& context) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  ostrel::cli::TCableChoice cable(cable_options);
  ostrel::StopRequest() = ostrel::stopNone;
  terminal.StartOperation();
  std::optional<std::string> text;
  try {
    text = ostrel::ReadDeviceInformation(cable.CableBits(), terminal.Ui(), cable.Target());
  } catch (...) {
    ostrel::FinishOperation(terminal.Ui());
    throw;
  }
  terminal.FinishProgress();
  if (text) {
    std::cout << ostrel::ReplaceAll(*text, "\r\n", "\n");
  } else {
    std::cerr << "ostrel: no device information from the calculator\n";
  }
  const std::uint8_t stop = ostrel::FinishOperation(terminal.Ui());
  context.exit_status = ostrel::cli::LinkCommandExitStatus(text.has_value(), stop);
}

const ostrel::cli::TCommandRegistration registration{
    "info", "Print the calculator's device information",
    [](CLI::App& command, ostrel::cli::TCliContext& context) {
      auto cable = std::make_shared<ostrel::cli::TCableOptions>();
      ostrel::cli::AddCableOptions(command, *cable);
      command.callback([cable, &context] { RunInfo(*cable, context); });
    }};

}  // namespace
