#pragma once
// Runs project scripts in a temporary folder with small shell-script tools that record
// every call (arguments, working directory, option file, environment), and reads back
// the project log and the lines shown.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "env/operation_status.h"
#include "project/project.h"
#include "support/recording_ui.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel::testing {

// One recorded tool call.
struct ToolCall {
  std::string tool;
  std::string args;
  std::string cwd;
  std::vector<std::string> options;      // lines of TEMP.TXT in the working directory
  std::vector<std::string> environment;  // without PWD, which the shell adds
};

// Sets a file's last-write time to `seconds` after the epoch.
inline void SetFileTime(const std::string& path, std::time_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class ProjectTest : public ::testing::Test {
 protected:
  ProjectTest() {
    StopRequest() = stopNone;
    // A tool that records its call, prints two lines and ends with its exit code.
    WriteTool("tool.sh", 0);
    WriteTool("fail.sh", 3);
    NewProject();
  }
  ~ProjectTest() override { StopRequest() = stopNone; }

  void NewProject() {
    project_.reset();
    project_ = std::make_unique<TProject>(ui_.Ui(), File("project.log"));
  }

  // A shell-script tool in the folder that records each call in calls.txt.
  std::string WriteTool(const std::string& name, int exit_code, const std::string& extra = "") {
    const std::string rec = File("calls.txt");
    const std::string script = "#!/bin/sh\n"
                               "rec='" + rec + "'\n"
                               "echo 'call=" + name + "' >> \"$rec\"\n"
                               "echo \"args=$*\" >> \"$rec\"\n"
                               "echo \"cwd=$(pwd)\" >> \"$rec\"\n"
                               "if [ -f TEMP.TXT ]; then while IFS= read -r l; do echo \"opt=$l\" >> \"$rec\"; done < TEMP.TXT; fi\n"
                               "/usr/bin/env | while IFS= read -r l; do echo \"env=$l\" >> \"$rec\"; done\n" +
                               extra +
                               "echo 'line one'\n"
                               "echo 'warning: line two'\n"
                               "exit " + std::to_string(exit_code) + "\n";
    const std::string path = Write(name, script);
    ::chmod(path.c_str(), 0755);
    return path;
  }

  std::string Dir() const { return folder_.Path(); }
  std::string File(const std::string& name) const { return folder_.File(name); }
  std::string Write(const std::string& name, const std::string& bytes) const { return WriteFileText(File(name), bytes); }
  std::string Read(const std::string& name) const { return ReadFileText(File(name)); }
  bool Exists(const std::string& name) const { return ::access(File(name).c_str(), F_OK) == 0; }

  // Writes the script (with "@DIR@" replaced by the folder) as p.PRJ and runs it.
  bool Run(const std::string& script, const std::string& name = "p.PRJ") {
    Write(name, ReplaceAll(script, "@DIR@", Dir()));
    return project_->RunScript(File(name));
  }

  std::string LogText() const { return ReadFileText(folder_.File("project.log")); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }
  // The diagnostics lines shown, with the folder written as "@DIR@".
  std::vector<std::string> Shown() const {
    std::vector<std::string> lines;
    for (const std::string& line : ui_.Texts(nfLogLineRaw)) lines.push_back(ReplaceAll(line, Dir(), "@DIR@"));
    return lines;
  }
  bool ShownHas(const std::string& text) const {
    for (const std::string& line : Shown()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<ToolCall> Calls() const {
    std::vector<ToolCall> calls;
    std::string text = ReadFileText(folder_.File("calls.txt"));
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = ReplaceAll(text.substr(at, end - at), Dir(), "@DIR@");
      at = end + 1;
      const std::size_t eq = line.find('=');
      const std::string key = line.substr(0, eq);
      const std::string value = line.substr(eq + 1);
      if (key == "call") calls.push_back({value, "", "", {}, {}});
      if (calls.empty()) continue;
      if (key == "args") calls.back().args = value;
      if (key == "cwd") calls.back().cwd = value;
      if (key == "opt") calls.back().options.push_back(value);
      if (key == "env" && !value.starts_with("PWD=")) calls.back().environment.push_back(value);
    }
    return calls;
  }

  TemporaryFolder folder_;
  RecordingUi ui_;
  std::unique_ptr<TProject> project_;
};

}  // namespace ostrel::testing
