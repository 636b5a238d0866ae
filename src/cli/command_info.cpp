// `ostrel info`: asks the calculator to describe itself and prints the sixteen lines of
// its device information on standard output. Exit status: 0 when the calculator answered,
// 130 when stopped with Ctrl-C, 1 otherwise.

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cable_options.h"
#include "cli/cli_common.h"
#include "operations/device_query.h"

namespace {

void RunInfo(const ostrel::cli::TCableOptions& cable_options, ostrel::cli::TCliContext& context) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  ostrel::cli::TCableChoice cable(cable_options, context.trace_file);
  context.exit_status = ostrel::cli::RunLinkOperation(terminal, [&](std::string& failure_line) {
    std::string cause;
    const std::optional<std::string> text =
        ostrel::ReadDeviceInformation(cable.CableBits(), terminal.Ui(), cable.Target(), &cause);
    terminal.FinishProgress();
    if (text) {
      std::cout << ostrel::ReplaceAll(*text, "\r\n", "\n");
    } else {
      failure_line = "ostrel: no device information from the calculator" + (cause.empty() ? "" : ": " + cause);
    }
    return text.has_value();
  });
}

const ostrel::cli::TCommandRegistration registration{
    "info", "Print the calculator's device information",
    [](CLI::App& command, ostrel::cli::TCliContext& context) {
      auto cable = std::make_shared<ostrel::cli::TCableOptions>();
      ostrel::cli::AddCableOptions(command, *cable);
      command.callback([cable, &context] { RunInfo(*cable, context); });
    }};

}  // namespace
