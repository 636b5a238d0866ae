#pragma once
// Running a built program as a user runs it: in a folder, without a terminal (standard
// input from /dev/null), with its standard output and standard error captured.

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/test_files.h"

namespace ostrel::testing {

struct ProgramRun {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `'program' arguments` (a shell command line) in `folder`; the captured output goes
// through the files out.txt and err.txt of that folder.
inline ProgramRun RunProgramIn(const std::string& folder, const std::string& program, const std::string& arguments) {
  const std::string command =
      "cd '" + folder + "' && '" + program + "' " + arguments + " </dev/null >out.txt 2>err.txt";
  ProgramRun result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadFileText(folder + "/out.txt");
  result.err = ReadFileText(folder + "/err.txt");
  return result;
}

// The last line of a text (without its line end).
inline std::string LastLine(const std::string& text) {
  const std::size_t end = text.ends_with('\n') ? text.size() - 1 : text.size();
  const std::size_t newline = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
  const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
  return text.substr(start, end - start);
}

}  // namespace ostrel::testing
