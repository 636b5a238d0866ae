#include "cli/cli_common.h"

#include <algorithm>
#include <iostream>
#include <set>
#include <string_view>

#include "base/error.h"
#include "cli/window_launch.h"
#include "env/app_env.h"
#include "protocol/fx9860sio.h"

namespace ostrel::cli {

namespace {

// The registry is filled by static objects of other translation units; a function-local
// static is constructed on first use, whatever the order of their initialisation.
std::vector<TCommandEntry>& Registry() {
  static std::vector<TCommandEntry> registry;
  return registry;
}

bool IsCommandName(const std::string& word, const std::vector<std::string>& command_names) {
  return std::find(command_names.begin(), command_names.end(), word) != command_names.end();
}

// The last line for an error that ended a command. An error answer that carried data
// ends a link command with "Error: " and its two-character code alone; the line adds what
// the code means and what to do. A program file the upload cannot send ("filesize 0:" or
// "filesize too large:" and its name) gets the sizes an upload takes.
std::string TopLevelErrorLine(const std::string& what) {
  constexpr std::string_view kErrorAnswer = "Error: ";
  if (what.size() == kErrorAnswer.size() + 2 && what.starts_with(kErrorAnswer)) {
    return what + ": the calculator ended the transfer with " + ErrorAnswerMeaning(what.substr(kErrorAnswer.size())) +
           std::string(kRepeatAdvice);
  }
  if (what.starts_with("filesize 0:")) {
    return what + ": the file is empty, and an upload sends 1 to 4294967295 bytes; name the program file itself "
                  "(.BIN, .SH3, .SH4)";
  }
  if (what.starts_with("filesize too large:")) {
    return what + ": an upload sends at most 4294967295 bytes (and the calculator's RAM holds far less); name the "
                  "program file itself (.BIN, .SH3, .SH4)";
  }
  return what;
}

}  // namespace

void RegisterCommand(std::string name, std::string description, TCommandSetup setup) {
  Registry().push_back({std::move(name), std::move(description), std::move(setup)});
}

std::vector<TCommandEntry> RegisteredCommands() {
  std::vector<TCommandEntry> commands = Registry();
  std::stable_sort(commands.begin(), commands.end(),
                   [](const TCommandEntry& a, const TCommandEntry& b) { return a.name < b.name; });
  return commands;
}

TSplitCommandLine SplitCommandLine(const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& command_names) {
  TSplitCommandLine split;
  std::vector<std::string> stray_words;
  std::size_t i = 0;
  for (; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (IsCommandName(word, command_names)) break;
    if (!word.empty() && word[0] == '-') {
      split.cli_arguments.push_back(word);
      // A program option with a value in the next word: the value is no start word.
      if (word == "--trace" && i + 1 < arguments.size()) split.cli_arguments.push_back(arguments[++i]);
      continue;
    }
    split.start_parameters.push_back(word);
    if (word.find('=') == std::string::npos && (word.empty() || word[0] != '/')) stray_words.push_back(word);
  }
  if (i < arguments.size()) {
    split.command = arguments[i];
  } else {
    // No command: let the parser report the words that were meant as one.
    split.cli_arguments.insert(split.cli_arguments.end(), stray_words.begin(), stray_words.end());
  }
  for (; i < arguments.size(); ++i) split.cli_arguments.push_back(arguments[i]);
  return split;
}

void SetupApplication(CLI::App& app, TCliContext& context) {
  app.require_subcommand(1);
  app.set_version_flag("--version", AppEnv().PGetValue("PN") + " " + AppEnv().PGetValue("FV"));
  app.add_flag("-y,--yes", context.assume_yes, "Answer every question with Yes/OK");
  app.add_flag("-v,--verbose", context.verbose, "Show the diagnostics lines of an operation");
  app.add_flag("-q,--quiet", context.quiet, "Show no status, speed or progress");
  app.add_option("--trace", context.trace_file,
                 "Write every packet a link command sends and receives into FILE (time, direction, hex "
                 "and readable form), for a bug report")
      ->type_name("FILE");
  app.footer(
      "Start parameters NAME=VALUE before the command preset the application environment,\n"
      "for example: ostrel IF=/tmp/other.INI env");

  std::set<std::string> seen;
  for (const TCommandEntry& entry : RegisteredCommands()) {
    if (!seen.insert(entry.name).second) throw Error("ostrel: command " + entry.name + " registered twice");
    CLI::App* command = app.add_subcommand(entry.name, entry.description);
    command->fallthrough();
    if (entry.setup) entry.setup(*command, context);
  }
}

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  try {
    std::vector<std::string> names;
    for (const TCommandEntry& entry : RegisteredCommands()) names.push_back(entry.name);
    TSplitCommandLine split = SplitCommandLine(arguments, names);

    if (split.command.empty()) {
      for (const std::string& word : split.cli_arguments) {
        if (!word.empty() && word[0] != '-') {
          err << "ostrel: unknown command " << word << "\nRun with --help for more information.\n";
          return 2;
        }
      }
    }

    PreLoadAppEnv(split.start_parameters);
    ApplyStartupDefaults();

    TCliContext context;
    CLI::App app{AppEnv().PGetValue("PN") + " " + AppEnv().PGetValue("FV"), "ostrel"};
    SetupApplication(app, context);

    if (split.command.empty() && split.cli_arguments.empty()) {
      // No command: the window, or the help where no window can be shown.
      const TStartupContext& process = AppEnv().Context();
      if (DisplayAvailable(process.environment)) {
        StartWindowProgram(process.executable_path, arguments);
        err << "ostrel: the window program ostrel-gui could not be started; install it beside ostrel or on the "
               "PATH\n";
      }
      out << app.help();
      return 0;
    }

    std::vector<const char*> argv{"ostrel"};
    for (const std::string& word : split.cli_arguments) argv.push_back(word.c_str());
    try {
      app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
      int code = app.exit(e, out, err);
      return code == 0 ? 0 : 2;
    }
    return context.exit_status;
  } catch (const ostrel::LinkError& e) {
    // The system's text, and beside it what went wrong and what to do.
    out.flush();
    err << "ostrel: " << e.what() << (e.Cause().empty() ? std::string() : ": " + e.Cause()) << kRepeatAdvice << '\n';
    return 1;
  } catch (const std::exception& e) {
    // The top-level error box of the command line.
    out.flush();
    err << "ostrel: " << TopLevelErrorLine(e.what()) << '\n';
    return 1;
  }
}

}  // namespace ostrel::cli
