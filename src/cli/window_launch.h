#pragma once
// `ostrel` without a command: the window when there is a display to show it on.

#include <functional>
#include <string>
#include <vector>

namespace ostrel::cli {

// A graphical display is there: DISPLAY or WAYLAND_DISPLAY is set (not blank).
bool DisplayAvailable(const std::function<std::string(const std::string&)>& environment);

// Replaces this process by the window program ostrel-gui (beside this program's file,
// else found on the PATH) with the same arguments. Returns only when it could not be
// started.
void StartWindowProgram(const std::string& executable_path, const std::vector<std::string>& arguments);

}  // namespace ostrel::cli
