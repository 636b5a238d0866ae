// The `ostrel` program. Subcommands live in command_*.cpp files and register themselves
// (see cli/cli_common.h).

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_common.h"

int main(int argc, char** argv) {
  ostrel::cli::InstallInterruptHandler();
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  int status = ostrel::cli::RunCommandLine(arguments, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
