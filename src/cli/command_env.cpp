// `ostrel env`: prints the resolved application environment, one "ID=value" per line.

#include <iostream>

#include "base/text.h"
#include "cli/cli_common.h"
#include "env/app_env.h"

namespace {

// A value on one line: control characters (a line break inside a start value) are shown
// as <0A>, so that no value can add a line of its own to the output.
std::string OneLineText(const std::string& value) {
  std::string text;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      text += "<" + ostrel::IntToHex(byte, 2) + ">";
    } else {
      text += c;
    }
  }
  return text;
}

const ostrel::cli::TCommandRegistration registration{
    "env", "Print the application environment (ID=value lines; control characters as <0A>)",
    [](CLI::App& command, ostrel::cli::TCliContext&) {
      command.callback([] {
        for (const char* id : {"PN", "FV", "IN", "IF", "UD", "PD", "CD", "OS", "OS_MJV", "PL"}) {
          std::cout << id << '=' << OneLineText(ostrel::AppEnv().PGetValue(id)) << '\n';
        }
      });
    }};

}  // namespace
