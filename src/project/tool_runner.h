#pragma once
// Runs one build tool: the command line goes through the command interpreter (/bin/sh -c)
// with standard output redirected into "MyOutPut.TXT" in the working directory; standard
// error is not captured, standard input is empty.
//
// While the tool runs, the caller's notification interface pumps its messages every 50 ms
// or less, so a window stays drawn and its Cancel button works. A stop request ends the
// tool's whole process group: SIGTERM, then SIGKILL after a grace period.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "env/operation_status.h"

namespace ostrel {

inline constexpr const char* kToolOutputFileName = "MyOutPut.TXT";
// The longest text handed to the command interpreter (the command line with its
// redirection); longer ones are refused.
inline constexpr std::size_t kMaxCommandLineLength = 519;
inline constexpr std::chrono::milliseconds kToolPollInterval{50};
inline constexpr std::chrono::milliseconds kToolStopGracePeriod{2000};

struct TToolRun {
  int start_error = 0;          // 0 when the tool ran, otherwise an errno value
  std::uint32_t exit_code = 0;  // the tool's exit status; 128 + signal when a signal ended it
  bool refused_too_long = false;  // the command line was longer than kMaxCommandLineLength
  bool stopped = false;           // a stop request ended the tool
};

// The text the command interpreter runs: the command line and the redirection.
std::string InterpreterCommand(const std::string& command_line);

// The environment of a tool from the SETENV entries: every ";" becomes "=".
std::vector<std::string> ToolEnvironment(const std::vector<std::string>& setenv_entries);

// Deletes the output file of an earlier run, then runs the command in `working_dir`
// (this process's current directory when empty). With `environment` given it is the
// tool's whole environment; otherwise the tool inherits this process's.
TToolRun RunCommand(const std::string& command_line, const std::string& working_dir,
                    const std::vector<std::string>* environment, const TUserInterface& ui);

}  // namespace ostrel
