#pragma once
// Test helpers of the environment tests: a temporary folder and a fake process (program
// file, current directory, environment variables, configuration and data folders) from
// which the application environment is started.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "env/app_env.h"
#include "env/logger.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel::testing {

inline std::vector<std::string> ReadFileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// A fixture whose application environment comes from a fake process inside a temporary
// folder: the program is <tmp>/bin/ostrel.x, HOME is <tmp>/home, no other variable is set
// unless the test sets it in `environment`.
class AppEnvFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    environment["HOME"] = tmp / "home";
    std::filesystem::create_directories(tmp / "bin");
    ResetReleaseLogForTesting();
    ResetAppEnvForTesting(Context());
  }
  void TearDown() override {
    ResetReleaseLogForTesting();
    ResetAppEnvForTesting(TStartupContext::FromProcess());
  }

  TStartupContext Context() const {
    TStartupContext context;
    context.executable_path = tmp / ("bin/" + program_name);
    context.current_dir = tmp / "work";
    auto variables = environment;
    context.environment = [variables](const std::string& name) {
      auto it = variables.find(name);
      return it == variables.end() ? std::string() : it->second;
    };
    context.os_name = "Linux";
    context.os_release = "6.1.0-18-amd64";
    return context;
  }

  // A new process: creation, PreLoadAppEnv with the arguments, the start-up defaults.
  void Start(const std::vector<std::string>& arguments = {}) {
    ResetAppEnvForTesting(Context());
    PreLoadAppEnv(arguments);
    ApplyStartupDefaults();
  }

  std::string Value(const std::string& id) const { return AppEnv().PGetValue(id); }

  std::string ConfigDir() const { return tmp / "home/.config/ostrel"; }
  std::string program_name = "ostrel.x";  // the executable's file name
  std::string ProgramDir() const { return tmp / "bin"; }

  TemporaryFolder tmp;
  std::map<std::string, std::string> environment;
};

}  // namespace ostrel::testing
