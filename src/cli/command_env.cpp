// `ostrel env`: prints the resolved application environment, one "ID=value" per line.

#include <iostream>

#include "cli/cli_common.h"
#include "env/app_env.h"

namespace {

const ostrel::cli::TCommandRegistration registration{
    "env", "Print the application environment (ID=value lines)",
    [](CLI::App& command, ostrel::cli::TCliContext&) {
      command.callback([] {
        for (const char* id : {"PN", "FV", "IN", "IF", "UD", "PD", "CD", "OS", "OS_MJV", "PL"}) {
          std::cout << id << '=' << ostrel::AppEnv().PGetValue(id) << '\n';
        }
      });
    }};

}  // namespace
