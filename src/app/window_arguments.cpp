#include "app/window_arguments.h"

namespace ostrel {

TWindowArguments ParseWindowArguments(const std::vector<std::string>& arguments) {
  TWindowArguments parsed;
  for (const std::string& word : arguments) {
    if (word == "--help" || word == "-h") {
      parsed.help = true;
    } else if (word == "--simulate" || word == "--simulate=usb") {
      parsed.simulate = "usb";
    } else if (word == "--simulate=serial") {
      parsed.simulate = "serial";
    } else if (word.starts_with("-")) {
      parsed.error = "unknown option " + word + "; run ostrel-gui --help for the options";
    } else {
      parsed.start_parameters.push_back(word);
    }
  }
  return parsed;
}

std::string WindowUsage() {
  return "Usage: ostrel-gui [NAME=VALUE...] [--simulate[=usb|serial]]\n"
         "\n"
         "The maintenance window for fx-9860G calculators.\n"
         "\n"
         "  NAME=VALUE          preset an application environment value, e.g. IF=/tmp/other.INI\n"
         "  --simulate          run against a simulated calculator over its USB stand-in, for as\n"
         "                      long as the window is open (no hardware needed)\n"
         "  --simulate=serial   the same over the simulated calculator's serial line\n"
         "  -h, --help          show this text\n";
}

}  // namespace ostrel
