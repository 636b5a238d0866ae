#pragma once
// The `ostrel` command line: how subcommands are added, and what they share.
//
// Adding a subcommand: write src/cli/command_<name>.cpp (src/cli/CMakeLists.txt builds
// every .cpp of the folder into the program) and register the command there with a
// static registration object. Nobody edits main.cpp or another command's file:
//
//   #include "cli/cli_common.h"
//
//   namespace {
//   const ostrel::cli::TCommandRegistration registration{
//       "check", "Check a flash image file",
//       [](CLI::App& command, ostrel::cli::TCliContext& context) {
//         auto image = std::make_shared<std::string>();   // options outlive the setup
//         command.add_option("IMAGE", *image, "Flash image file")->required();
//         command.callback([image, &context] {
//           ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
//           int result = RunTheOperation(*image, terminal.Ui());
//           context.exit_status = result;      // the program's exit status
//         });
//       }};
//   }  // namespace
//
// main() then:
// 1. splits the arguments (SplitCommandLine): the words before the first subcommand name
//    that hold a "=" are start parameters NAME=VALUE for PreLoadAppEnv ("ostrel
//    IF=/tmp/x.INI env"), words beginning with "-" are options of the program;
// 2. fills the application environment (PreLoadAppEnv, ApplyStartupDefaults);
// 3. creates the CLI::App with the common options (--yes, --verbose, --quiet, which may
//    also follow the subcommand) and one subcommand per registration, sorted by name;
//    each setup function adds its options and a callback;
// 4. parses; CLI11 runs the chosen subcommand's callback; main() returns
//    context.exit_status.
// An ostrel::Error (or any std::exception) leaving a callback is printed as
// "ostrel: <text>" on standard error and ends the program with status 1. Usage errors
// print CLI11's message and end with status 2.
//
// Questions, progress and diagnostics of an operation go through TTerminalUi (see
// cli/terminal_ui.h). Ctrl-C sets StopRequest() to stopByUser (installed by main()).

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/terminal_ui.h"

namespace ostrel::cli {

// What every command shares: the common options and the exit status.
struct TCliContext {
  bool assume_yes = false;  // --yes, -y
  bool verbose = false;     // --verbose, -v
  bool quiet = false;       // --quiet, -q
  std::string trace_file;   // --trace FILE: every packet of a link command into FILE
  int exit_status = 0;      // set by the command's callback

  TTerminalOptions TerminalOptions() const { return {assume_yes, verbose, quiet}; }
};

// What to do after a transfer the calculator ended or lost track of; follows the line that
// says what happened.
inline constexpr std::string_view kRepeatAdvice = "; put it into receive mode again and repeat the command";

// Adds the command's options and its callback to `command` (already named and described).
using TCommandSetup = std::function<void(CLI::App& command, TCliContext& context)>;

struct TCommandEntry {
  std::string name;
  std::string description;
  TCommandSetup setup;
};

// Registers a subcommand. Names must be unique (a second registration of a name is
// reported when the program starts).
void RegisterCommand(std::string name, std::string description, TCommandSetup setup);
// Every registered command, sorted by name.
std::vector<TCommandEntry> RegisteredCommands();

// A static object of this type in a command_*.cpp registers the command at start.
struct TCommandRegistration {
  TCommandRegistration(std::string name, std::string description, TCommandSetup setup) {
    RegisterCommand(std::move(name), std::move(description), std::move(setup));
  }
};

// The arguments of the program (without the program name), split for start-up.
struct TSplitCommandLine {
  std::vector<std::string> start_parameters;  // for PreLoadAppEnv
  std::vector<std::string> cli_arguments;     // for CLI11
  std::string command;                        // the first word naming a command, or empty
};

// Every word before the first word that names a command is a start-up word: a word that
// begins with "-" is an option for CLI11 (with the next word when it is --trace FILE); any other word goes to PreLoadAppEnv, which
// ignores words without "=" and words beginning with "/". The command word and all words
// after it go to CLI11. When no word names a command, the start-up words without "=" go
// to CLI11 as well, and RunCommandLine reports the first of them as an unknown command.
TSplitCommandLine SplitCommandLine(const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& command_names);

// Builds the application with its common options and every registered command.
// `context` must outlive the application.
void SetupApplication(CLI::App& app, TCliContext& context);

// The whole program: splits the arguments, fills the application environment, parses and
// runs the command. Returns the exit status. Errors are printed to `err`.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace ostrel::cli
