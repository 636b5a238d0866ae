#pragma once
// The arguments of ostrel-gui: start parameters NAME=VALUE for the application environment,
// --simulate[=usb|serial] and --help.

#include <string>
#include <vector>

namespace ostrel {

struct TWindowArguments {
  std::vector<std::string> start_parameters;  // for PreLoadAppEnv
  std::string simulate;                       // empty, "usb" or "serial"
  bool help = false;
  std::string error;  // a usage error, with what to do about it
};

TWindowArguments ParseWindowArguments(const std::vector<std::string>& arguments);

// The text of --help.
std::string WindowUsage();

}  // namespace ostrel
