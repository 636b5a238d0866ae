// Tool runs of the build: command line, working directory, option file, environment,
// exit codes and start errors, output filters, and stopping a running tool.

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "base/error.h"
#include "project/project_fixture.h"
#include "project/tool_runner.h"

namespace ostrel::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

// EXECUTE with MAKEALL, in the folder as working directory.
std::string ExecuteScript(const std::string& lines, const std::string& tool = "tool.sh") {
  return "WORKDIR=@DIR@\nMAKEALL=TRUE\nPROG=demo\n" + lines + "EXECUTE=@DIR@/" + tool + "\nAFTER=1\n";
}

TEST_F(ProjectTest, ExecuteRunsTheToolWithItsOptionFileInTheWorkingDirectory) {
  ::mkdir(File("work").c_str(), 0755);
  EXPECT_TRUE(Run("WORKDIR=@DIR@/work\nMAKEALL=TRUE\nPROG=demo\nD=\"a b\"\n"
                  "OPTION=-I\"$(D)\"\nOPTION=-o \"$(PROG).OBJ\"\nEXECUTE=@DIR@/tool.sh\n"));
  const std::vector<ToolCall> calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, "-SUB=TEMP.TXT");
  EXPECT_EQ(calls[0].cwd, "@DIR@/work");
  // Entries expanded with their own quotes kept; substituted values never carry quotes.
  EXPECT_THAT(calls[0].options, ElementsAre("-I\"a b\"", "-o \"demo.OBJ\""));
  EXPECT_THAT(Shown(), ElementsAre("\"@DIR@/tool.sh\" -SUB=TEMP.TXT demo 00000100", "line one",
                                   "warning: line two"));
  EXPECT_THAT(LogText(), HasSubstr("options:\r\n-I\"a b\"\r\n-o \"demo.OBJ\"\r\n--- --- ---\r\n"
                                   "cmd: \"" + Dir() + "/tool.sh\" -SUB=TEMP.TXT\r\nwd: " + Dir() +
                                   "/work\r\nresult: 0 0\r\n"));
  EXPECT_EQ(project_->StepCounter(), 0x100u);
  EXPECT_EQ(project_->ToolRuns(), 1);
  EXPECT_EQ(project_->FailedTools(), 0);
}

TEST_F(ProjectTest, PathsWithBackslashesAreMappedWhereFilesAreTouched) {
  ::mkdir(File("work").c_str(), 0755);
  SetFileTime(Write("old.o", "x"), 1600000000);
  SetFileTime(Write("new.c", "x"), 1700000000);
  const std::string dir = "C:" + ReplaceAll(Dir(), "/", "\\");
  EXPECT_TRUE(Run("WORKDIR=" + dir + "\\work\nDEPENDANT=" + dir + "\\old.o\nDEPENDENCY=" + dir +
                  "\\new.c\nEXECUTE=@DIR@/tool.sh\n"));
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0].cwd, "@DIR@/work");
  // Up to date only when both files are found.
  NewProject();
  EXPECT_TRUE(Run("WORKDIR=" + dir + "\\work\nDEPENDANT=" + dir + "\\new.c\nDEPENDENCY=" + dir +
                  "\\old.o\nEXECUTE=@DIR@/tool.sh\n"));
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_TRUE(LogHas("No news!"));
}

TEST_F(ProjectTest, ExecuteChoosesItsOptionList) {
  struct Case {
    const char* lines;
    const char* tool_variable;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"OPTION=-c\nASM_OPT=--big\n", "", {"-c"}},
      {"OPTION=-c\nASM_OPT=--big\nASM_CMD=@DIR@/tool.sh\n", "$(ASM_CMD)", {"--big"}},
      {"ASM_OPT=--big\n", "", {"FOption[ optXXX ] not assigned."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    NewProject();
    std::filesystem::remove(File("calls.txt"));
    const std::string tool = *c.tool_variable ? std::string(c.tool_variable) : "@DIR@/tool.sh";
    EXPECT_TRUE(Run(std::string("WORKDIR=@DIR@\nMAKEALL=TRUE\n") + c.lines + "EXECUTE=" + tool + "\n"));
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_EQ(Calls()[0].options, c.options);
  }
}

TEST_F(ProjectTest, SetEnvIsTheToolsWholeEnvironment) {
  ::setenv("OSTREL_PROJECT_INHERITED", "yes", 1);
  EXPECT_TRUE(Run(ExecuteScript("")));
  EXPECT_THAT(Calls().at(0).environment, Contains("OSTREL_PROJECT_INHERITED=yes"));

  NewProject();
  std::filesystem::remove(File("calls.txt"));
  EXPECT_TRUE(Run(ExecuteScript("SETENV=PATH;/usr/bin:/bin\nSETENV=LIST;C:\\A;C:\\B\n")));
  EXPECT_THAT(Calls().at(0).environment, UnorderedElementsAre("PATH=/usr/bin:/bin", "LIST=C:\\A=C:\\B"));
  EXPECT_THAT(LogText(), HasSubstr("ENV: \r\nPATH;/usr/bin:/bin\r\nLIST;C:\\A;C:\\B\r\n\r\n"));
  ::unsetenv("OSTREL_PROJECT_INHERITED");
}

TEST_F(ProjectTest, FailuresAreLoggedAndTheBuildGoesOn) {
  struct Case {
    const char* lines;
    const char* tool;
    const char* result;
  };
  const Case cases[] = {
      {"", "fail.sh", "result: 0 3\r\n"},
      {"", "none.sh", "result: 0 127\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool);
    NewProject();
    EXPECT_TRUE(Run(ExecuteScript(c.lines, c.tool)));
    EXPECT_THAT(LogText(), HasSubstr(c.result));
    EXPECT_EQ(project_->FailedTools(), 1);
    EXPECT_TRUE(project_->Variables().Has("AFTER"));
  }
}

TEST_F(ProjectTest, MissingWorkingDirectoryEndsTheBuild) {
  // The option file cannot be written there.
  EXPECT_THROW(Run(ExecuteScript("WORKDIR=@DIR@/missing\n")), IoError);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(ProjectTest, ToolThatCannotStartGivesTheStartError) {
  const TToolRun run = RunCommand("true", File("missing"), nullptr, ui_.Ui());
  EXPECT_EQ(run.start_error, ENOENT);
  EXPECT_EQ(run.exit_code, 0u);
}

TEST_F(ProjectTest, OverlongCommandLineIsRefused) {
  Write("MyOutPut.TXT", "stale output\n");
  const std::string name(kMaxCommandLineLength, 'x');
  EXPECT_TRUE(Run(ExecuteScript("", name)));
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(ShownHas("Not started: the command line with its output redirection is longer than 519 characters."));
  EXPECT_FALSE(ShownHas("stale output"));
  EXPECT_THAT(LogText(), HasSubstr("result: 7 0\r\n"));
  EXPECT_EQ(project_->FailedTools(), 1);

  // The limit counts the command line with its redirection " > MyOutPut.TXT".
  const std::string longest = "true" + std::string(kMaxCommandLineLength - 15 - 4, ' ');
  EXPECT_EQ(InterpreterCommand(longest).size(), kMaxCommandLineLength);
  EXPECT_FALSE(RunCommand(longest, Dir(), nullptr, ui_.Ui()).refused_too_long);
  EXPECT_TRUE(RunCommand(longest + " ", Dir(), nullptr, ui_.Ui()).refused_too_long);
}

TEST_F(ProjectTest, OutputFiltersHideMatchingLines) {
  struct Case {
    const char* filters;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"", {"line one", "warning: line two"}},
      {"MESSAGE_TO_IGNORE=\"warning\"\n", {"line one"}},
      {"MESSAGE_TO_IGNORE=warning;OFF\n", {"line one", "warning: line two"}},
      {"MESSAGE_TO_IGNORE=warning;off\nMESSAGE_TO_IGNORE=one\n", {"warning: line two"}},
      {"MESSAGE_TO_IGNORE=Warning\n", {"line one", "warning: line two"}},
      {"MESSAGE_TO_IGNORE=;ON\n", {"line one", "warning: line two"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filters);
    ui_.notifications.clear();
    NewProject();
    EXPECT_TRUE(Run(ExecuteScript(c.filters)));
    std::vector<std::string> shown = Shown();
    ASSERT_FALSE(shown.empty());
    shown.erase(shown.begin());  // the command line
    EXPECT_EQ(shown, c.shown);
  }
}

TEST_F(ProjectTest, StopRequestEndsASleepingToolAndTheBuild) {
  WriteTool("sleep.sh", 0, "sleep 30\n");
  const auto start = std::chrono::steady_clock::now();
  ui_.on_process_messages = [&] {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200)) StopRequest() = stopByUser;
  };
  EXPECT_TRUE(Run(ExecuteScript("", "sleep.sh")));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(1));
  EXPECT_TRUE(project_->Stopped());
  EXPECT_FALSE(project_->Variables().Has("AFTER"));
  EXPECT_TRUE(ShownHas("Build stopped: the tool was ended by a stop request."));
  EXPECT_THAT(LogText(), HasSubstr("result: 0 143\r\n"));
  EXPECT_GT(ui_.process_messages_calls, 2);
}

TEST_F(ProjectTest, ToolThatIgnoresTerminateIsKilled) {
  // The interpreter ends at SIGTERM, the tool it started does not.
  WriteTool("stubborn.sh", 0, "trap '' TERM\necho $$ > '" + File("ready") + "'\nsleep 30\n");
  const auto start = std::chrono::steady_clock::now();
  ui_.on_process_messages = [&] {
    if (Exists("ready")) StopRequest() = stopByUser;
  };
  EXPECT_TRUE(Run(ExecuteScript("", "stubborn.sh")));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, kToolStopGracePeriod);
  EXPECT_LT(elapsed, kToolStopGracePeriod + std::chrono::seconds(2));
  EXPECT_TRUE(project_->Stopped());
  const std::string tool_pid = Trim(Read("ready"));
  const std::string state = ReadFileText("/proc/" + tool_pid + "/stat");
  EXPECT_TRUE(state.empty() || state.find(") Z ") != std::string::npos) << state;
}

TEST_F(ProjectTest, StopRequestBetweenLinesEndsTheBuild) {
  EXPECT_TRUE(Run("A=1\n"));
  StopRequest() = stopByUser;
  NewProject();
  EXPECT_TRUE(Run("A=1\nB=1\n"));
  EXPECT_TRUE(project_->Variables().Has("A"));
  EXPECT_FALSE(project_->Variables().Has("B"));
  EXPECT_THAT(Shown(), ElementsAre("Build stopped: Manually cancelled!"));
}

}  // namespace
}  // namespace ostrel::testing
