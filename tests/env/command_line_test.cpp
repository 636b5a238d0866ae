#include <gtest/gtest.h>

#include <sstream>

#include "base/error.h"
#include "cli/cli_common.h"
#include "env/env_fixture.h"

namespace ostrel::cli {
namespace {

using Strings = std::vector<std::string>;

struct SplitCase {
  const char* name;
  Strings arguments;
  Strings start_parameters;
  Strings cli_arguments;
  const char* command;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Split) {
  const SplitCase& c = GetParam();
  TSplitCommandLine split = SplitCommandLine(c.arguments, {"env", "check"});
  EXPECT_EQ(split.start_parameters, c.start_parameters);
  EXPECT_EQ(split.cli_arguments, c.cli_arguments);
  EXPECT_EQ(split.command, c.command);
}

INSTANTIATE_TEST_SUITE_P(
    Words, SplitTest,
    ::testing::Values(
        SplitCase{"CommandOnly", {"env"}, {}, {"env"}, "env"},
        SplitCase{"StartParametersBeforeCommand",
                  {"IF=/tmp/x.INI", "/D=1", "stray", "--yes", "check", "IMAGE=1", "file"},
                  {"IF=/tmp/x.INI", "/D=1", "stray"},
                  {"--yes", "check", "IMAGE=1", "file"},
                  "check"},
        SplitCase{"WordsAfterTheCommandAreItsOwn", {"env", "UD=/x", "env"}, {}, {"env", "UD=/x", "env"}, "env"},
        SplitCase{"NoCommandPassesStrayWordsOn", {"UD=/x", "chek", "-v"}, {"UD=/x", "chek"}, {"-v", "chek"}, ""},
        SplitCase{"HelpAlone", {"--help"}, {}, {"--help"}, ""},
        SplitCase{"TraceTakesTheNextWord",
                  {"--trace", "t.txt", "UD=/x", "env"},
                  {"UD=/x"},
                  {"--trace", "t.txt", "env"},
                  "env"},
        SplitCase{"TraceWithItsValueInOneWord", {"--trace=t.txt", "env"}, {}, {"--trace=t.txt", "env"}, "env"}),
    [](const auto& info) { return std::string(info.param.name); });

// A command for the tests: reports the common options it saw, fails on request.
struct ProbeRun {
  bool ran = false;
  bool yes = false;
  std::string argument;
};

ProbeRun& Probe() {
  static ProbeRun probe;
  return probe;
}

const TCommandRegistration probe_registration{
    "probe", "A command for the tests", [](CLI::App& command, TCliContext& context) {
      auto argument = std::make_shared<std::string>();
      command.add_option("ARG", *argument);
      command.callback([argument, &context] {
        Probe().ran = true;
        Probe().yes = context.assume_yes;
        Probe().argument = *argument;
        if (*argument == "fail") throw Error("Cable error");
        context.exit_status = *argument == "three" ? 3 : 0;
      });
    }};

class RunCommandLineTest : public testing::AppEnvFixture {
 protected:
  int Run(const Strings& arguments) {
    Probe() = ProbeRun{};
    ResetAppEnvForTesting(Context());
    return RunCommandLine(arguments, out, err);
  }
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(RunCommandLineTest, StartParametersReachTheEnvironmentAndOptionsTheCommand) {
  EXPECT_EQ(Run({"IF=/tmp/x.INI", "probe", "three", "--yes"}), 3);
  EXPECT_TRUE(Probe().ran);
  EXPECT_TRUE(Probe().yes) << "common options may follow the command";
  EXPECT_EQ(Probe().argument, "three");
  EXPECT_EQ(AppEnv().PGetValue("IF"), "/tmp/x.INI");
  EXPECT_EQ(err.str(), "");
}

TEST_F(RunCommandLineTest, ErrorsEndWithStatusOneAndTheirText) {
  EXPECT_EQ(Run({"probe", "fail"}), 1);
  EXPECT_EQ(err.str(), "ostrel: Cable error\n");

  err.str("");
  EXPECT_EQ(Run({"NOPE=1", "probe"}), 1);
  EXPECT_FALSE(Probe().ran);
  EXPECT_EQ(err.str(),
            "ostrel: BASE_00.TAppEnv.PSetValue: NOPE not registered! (the start parameter NOPE=1 on the command line: "
            "correct the name; `ostrel env` lists the names)\n");
}

TEST_F(RunCommandLineTest, UsageErrorsAndHelp) {
  EXPECT_EQ(Run({"prob"}), 2);
  EXPECT_EQ(err.str(), "ostrel: unknown command prob\nRun with --help for more information.\n");
  EXPECT_FALSE(Probe().ran);

  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out.str().find("probe"), std::string::npos) << out.str();

  EXPECT_EQ(Run({"probe", "--no-such-option"}), 2);
  EXPECT_FALSE(Probe().ran);
}

TEST_F(RunCommandLineTest, NoCommandWithoutADisplayPrintsTheHelp) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_NE(out.str().find("probe"), std::string::npos) << out.str();
  EXPECT_EQ(err.str(), "");
  out.str("");
  EXPECT_EQ(Run({"IF=/tmp/x.INI"}), 0) << "start parameters alone name no command";
  EXPECT_NE(out.str().find("probe"), std::string::npos);
}

}  // namespace
}  // namespace ostrel::cli
