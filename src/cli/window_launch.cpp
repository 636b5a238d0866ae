#include "cli/window_launch.h"

#include <unistd.h>

#include <filesystem>

#include "base/text.h"

namespace ostrel::cli {

namespace {

constexpr const char* kWindowProgram = "ostrel-gui";

}  // namespace

bool DisplayAvailable(const std::function<std::string(const std::string&)>& environment) {
  return !IsBlank(environment("DISPLAY")) || !IsBlank(environment("WAYLAND_DISPLAY"));
}

void StartWindowProgram(const std::string& executable_path, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::string name = kWindowProgram;
  argv.push_back(name.data());
  std::vector<std::string> words = arguments;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::filesystem::path beside = std::filesystem::path(executable_path).parent_path() / kWindowProgram;
  std::error_code error;
  if (std::filesystem::exists(beside, error)) ::execv(beside.c_str(), argv.data());
  ::execvp(kWindowProgram, argv.data());
}

}  // namespace ostrel::cli
