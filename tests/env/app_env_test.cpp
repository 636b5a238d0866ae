#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "base/error.h"
#include "base/text.h"
#include "env/app_env.h"
#include "env/env_fixture.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

using testing::AppEnvFixture;
using testing::TemporaryFolder;
using testing::ReadFileText;
using testing::WriteFileText;

class AppEnvTest : public AppEnvFixture {};

TEST_F(AppEnvTest, CreationSetsProgramAndCurrentDirectory) {
  EXPECT_EQ(Value("PD"), tmp / "bin");
  EXPECT_EQ(Value("CD"), tmp / "work");
  EXPECT_EQ(Value("pd"), tmp / "bin") << "IDs compare without regard to case";
}

TEST_F(AppEnvTest, DefaultsWithoutParameters) {
  Start();
  EXPECT_EQ(Value("PN"), "Ostrel Maintenance");
  EXPECT_EQ(Value("IN"), "ostrel");
  EXPECT_EQ(Value("IF"), ConfigDir() + "/ostrel.INI") << "the program's internal name + .INI";
  EXPECT_EQ(Value("UD"), tmp / "home/.local/share/ostrel/");
  EXPECT_EQ(Value("OS"), "Linux 6.1");
  EXPECT_EQ(Value("OS_MJV"), "6");
  EXPECT_EQ(Value("PL"), "");
  EXPECT_FALSE(IsBlank(Value("FV")));
}

TEST_F(AppEnvTest, TheWindowAndTheCommandLineShareOneSettingsFile) {
  program_name = "ostrel-gui";
  Start();
  EXPECT_EQ(Value("IF"), ConfigDir() + "/ostrel.INI");
}

TEST_F(AppEnvTest, XdgFoldersAndAppDataAreHonoured) {
  environment["XDG_CONFIG_HOME"] = tmp / "cfg";
  environment["XDG_DATA_HOME"] = tmp / "data";
  Start();
  EXPECT_EQ(Value("IF"), tmp / "cfg/ostrel/ostrel.INI");
  EXPECT_EQ(Value("UD"), tmp / "data/ostrel/");

  environment["APPDATA"] = "/srv/appdata";
  Start();
  EXPECT_EQ(Value("UD"), "/srv/appdata/");
}

// Precedence of the sources of an ID: parameter file, command line, the settings file's
// AppEnv section, then the defaults.
struct PrecedenceCase {
  const char* name;
  std::vector<std::string> parameter_file;
  std::vector<std::string> arguments;   // "<INI>" stands for the settings file's path
  std::string app_env_section;          // lines of [AppEnv] in that settings file
  std::map<std::string, std::string> expected;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const PrecedenceCase& c, std::ostream* os) { *os << c.name; }

class PrecedenceTest : public AppEnvFixture, public ::testing::WithParamInterface<PrecedenceCase> {};

TEST_P(PrecedenceTest, FirstSourceWins) {
  const PrecedenceCase& c = GetParam();
  std::string ini = tmp / "settings/test.INI";
  WriteFileText(ini, "[PROGRAM]\nCABLE=1\n[AppEnv]\n" + c.app_env_section);
  auto expand = [&](std::string line) { return ReplaceAll(line, "<INI>", ini); };
  if (!c.parameter_file.empty()) {
    std::string text;
    for (const auto& line : c.parameter_file) text += expand(line) + "\r\n";
    WriteFileText(ConfigDir() + "/ostrel_PARAMETER.TXT", text);
  }
  std::vector<std::string> arguments;
  for (const auto& a : c.arguments) arguments.push_back(expand(a));
  Start(arguments);
  for (const auto& [id, value] : c.expected) EXPECT_EQ(Value(id), expand(value)) << id;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PrecedenceTest,
    ::testing::Values(
        PrecedenceCase{"CommandLineBeatsDefault", {}, {"OS=Plan9 1.0"}, "", {{"OS", "Plan9 1.0"}, {"PL", "OS"}}},
        PrecedenceCase{"ParameterFileBeatsCommandLine",
                       {"OS=FromFile"},
                       {"OS=FromArgs", "OS_MJV=7"},
                       "",
                       {{"OS", "FromFile"}, {"OS_MJV", "7"}, {"PL", "OS,OS_MJV"}}},
        PrecedenceCase{"FirstLineOfTheCommandLineWins", {}, {"OS=first", "os=second"}, "", {{"OS", "first"}}},
        PrecedenceCase{"AppEnvSectionBelowCommandLineAboveDefaults",
                       {},
                       {"IF=<INI>", "OS=FromArgs"},
                       "OS=FromIni\nOS_MJV=42\n",
                       {{"IF", "<INI>"}, {"OS", "FromArgs"}, {"OS_MJV", "42"}, {"PL", "IF,OS,OS_MJV"}}},
        PrecedenceCase{"AppEnvSectionNotReadWithoutIfParameter",
                       {},
                       {"OS=FromArgs"},
                       "OS_MJV=42\n",
                       {{"OS_MJV", "6"}}},
        PrecedenceCase{"IfFromParameterFileAppliesItsSection",
                       {"IF=<INI>", "", "just a comment"},
                       {},
                       "UD=/from/ini\n",
                       {{"IF", "<INI>"}, {"UD", "/from/ini"}, {"PL", "IF,UD"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppEnvTest, LockedIdKeepsItsValue) {
  Start({"OS=Locked"});
  AppEnv().PSetValue("OS", "Changed");
  AppEnv().PSetValue("os", "Changed");
  EXPECT_EQ(Value("OS"), "Locked");
  AppEnv().PSetValue("OS_MJV", "9");
  EXPECT_EQ(Value("OS_MJV"), "9") << "an unlocked ID can still be set";
}

TEST_F(AppEnvTest, SlashWordsWordsWithoutEqualsAndBlankValuesAreIgnored) {
  Start({"/OS=slash", "OS", "help", "OS=", "OS= \t", "/NOTREGISTERED=1", "NOEQUALSIGN"});
  EXPECT_EQ(Value("OS"), "Linux 6.1");
  EXPECT_EQ(Value("PL"), "");
}

TEST_F(AppEnvTest, ProgramDirParameterNamesSettingsFileBesideTheProgram) {
  WriteFileText(ProgramDir() + "/other.ini", "[AppEnv]\nOS_MJV=77\nCD=@CURRENTDIR@/sub\n");
  Start({"IF=@PROGRAMDIR@/other.ini"});
  EXPECT_EQ(Value("IF"), ProgramDir() + "/other.ini") << "the default does not replace it";
  EXPECT_EQ(Value("OS_MJV"), "77") << "its AppEnv section is applied";
  EXPECT_EQ(Value("CD"), tmp / "work/sub");
}

struct UdCase {
  const char* argument;
  const char* expected;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const UdCase& c) { return std::string(c.argument); }
void PrintTo(const UdCase& c, std::ostream* os) { *os << Describe(c); }

class UdParameterTest : public AppEnvFixture, public ::testing::WithParamInterface<UdCase> {};

TEST_P(UdParameterTest, EndsWithOneSeparator) {
  Start({GetParam().argument});
  EXPECT_EQ(Value("UD"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, UdParameterTest,
                         ::testing::Values(UdCase{"UD=/data//", "/data/"}, UdCase{"UD=/data", "/data/"},
                                           UdCase{"UD=/data/", "/data/"}, UdCase{"ud=/a//b///c", "/a/b/c/"}),
                         ostrel::testing::DescribedName{});

TEST_F(AppEnvTest, UnregisteredAndDoubleRegisteredIdsFailWithTheirTexts) {
  try {
    Start({"NOPE=1"});
    FAIL() << "an unregistered start parameter must end the start";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "BASE_00.TAppEnv.PSetValue: NOPE not registered! (the start parameter NOPE=1 on the command "
                        "line: correct the name; `ostrel env` lists the names)");
  }
  try {
    AppEnv().RegisterID("if");
    FAIL() << "IF is registered already";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "BASE_00.TAppEnv.RegisterID: if already registered!");
  }
  EXPECT_EQ(AppEnv().PGetValue("NOPE"), "");
  AppEnv().RegisterID("DEVELOP");
  AppEnv().PSetValue("develop", "1");
  EXPECT_EQ(AppEnv().PGetValue("DEVELOP"), "1");
}

TEST_F(AppEnvTest, RegistryFileAnswersWhenTheEnvironmentIsBlank) {
  std::string registry = tmp / "registry.ini";
  WriteFileText(registry, "[SoftWare\\ostrel]\nDEVELOP=1\nAPPDATA=/reg/appdata\n[SoftWare\\other]\nOS=Nope\n");
  environment["OSTREL_REGISTRY"] = registry;
  environment["DEVELOP"] = "  ";
  Start();
  EXPECT_EQ(GetEnvOrRegValue("DEVELOP"), "1") << "a blank variable falls back to the registry";
  EXPECT_EQ(GetEnvOrRegValue("develop"), "1") << "value names compare without regard to case";
  EXPECT_EQ(Value("UD"), "/reg/appdata/");
  EXPECT_EQ(GetEnvOrRegValue("OS"), "") << "only the program's own key counts";

  environment["APPDATA"] = "/env/appdata";
  environment["OSTREL_REGISTRY"] = tmp / "missing.ini";
  Start();
  EXPECT_EQ(Value("UD"), "/env/appdata/");
  EXPECT_EQ(GetEnvOrRegValue("DEVELOP"), "") << "a missing registry file gives the empty text";
}

TEST_F(AppEnvTest, ParameterFileIsConsumedOnce) {
  std::string fresh = ConfigDir() + "/ostrel_PARAMETER.TXT";
  std::string consumed = ConfigDir() + "/ostrel_PARAMETER.OLD";
  WriteFileText(fresh, "OS=Once\n");
  Start();
  EXPECT_EQ(Value("OS"), "Once");
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(ReadFileText(consumed), "OS=Once\n");

  Start();
  EXPECT_EQ(Value("OS"), "Linux 6.1") << "a consumed file is not read again";

  WriteFileText(fresh, "OS=Twice\n");
  Start();
  EXPECT_EQ(Value("OS"), "Twice") << "a new file replaces the old consumed one";
  EXPECT_EQ(ReadFileText(consumed), "OS=Twice\n");
}

TEST_F(AppEnvTest, ParameterFileNamedByTheEnvironmentIsReadAndKept) {
  std::string named = tmp / "params.txt";
  WriteFileText(named, "OS=Named\r\nUD=/named\r\n");
  WriteFileText(ConfigDir() + "/ostrel_PARAMETER.TXT", "OS=Default\n");
  environment["ostrel_PARAMETER"] = named;
  Start({"OS=Args"});
  EXPECT_EQ(Value("OS"), "Named");
  EXPECT_EQ(Value("UD"), "/named/");
  EXPECT_TRUE(std::filesystem::exists(named));
  EXPECT_TRUE(std::filesystem::exists(ConfigDir() + "/ostrel_PARAMETER.TXT")) << "the folder's file is not used";
}

TEST_F(AppEnvTest, SettingsFileFollowsIf) {
  std::string ini = tmp / "s/settings.INI";
  Start({"IF=" + ini});
  SettingsFile().WriteString("PROGRAM", "COMPORT", "/dev/ttyUSB1");
  EXPECT_EQ(ReadFileText(ini), "[PROGRAM]\nCOMPORT=/dev/ttyUSB1\n");
}

// What stands where a settings or parameter file is expected: only a regular file is
// read; the rest ends the start at once with a message that names the path and what it is.
struct NotAFileCase {
  const char* name;
  std::function<std::string(const TemporaryFolder&)> make;  // the path to name
  const char* said;                                         // the message after the path
};

const NotAFileCase kNotAFileCases[] = {
    {"FIFO without a writer",
     [](const TemporaryFolder& t) {
       ::mkfifo((t / "fifo").c_str(), 0600);
       return t / "fifo";
     },
     " is a FIFO, not a regular file: it is not read. Name a text file."},
    {"endless device", [](const TemporaryFolder&) { return std::string("/dev/zero"); },
     " is a device, not a regular file: it is not read. Name a text file."},
    {"folder",
     [](const TemporaryFolder& t) {
       std::filesystem::create_directories(t / "dir");
       return t / "dir";
     },
     " is a folder, not a regular file: it is not read. Name a text file."},
    {"file over the cap",
     [](const TemporaryFolder& t) {
       WriteFileText(t / "big", "[AppEnv]\n");
       std::filesystem::resize_file(t / "big", (16u << 20) + 1);
       return t / "big";
     },
     " is larger than 16 MiB: it is not read. Name the right file, or shorten it."},
};

TEST_F(AppEnvTest, OnlyARegularSettingsFileOfSaneSizeIsRead) {
  for (const NotAFileCase& c : kNotAFileCases) {
    const std::string path = c.make(tmp);
    try {
      Start({"IF=" + path});
      ADD_FAILURE() << c.name << ": the start went on";
    } catch (const IoError& e) {
      EXPECT_EQ(e.Text(), "Settings file " + path + c.said) << c.name;
    }
  }
}

TEST_F(AppEnvTest, OnlyARegularParameterFileIsRead) {
  for (const NotAFileCase& c : kNotAFileCases) {
    if (std::string(c.name) == "file over the cap") continue;  // the parameter file's cap is 1 MiB
    const std::string path = c.make(tmp);
    environment["ostrel_PARAMETER"] = path;
    try {
      Start();
      ADD_FAILURE() << c.name << ": the start went on";
    } catch (const IoError& e) {
      EXPECT_EQ(e.Text(), "Parameter file " + path + c.said) << c.name;
    }
  }
  WriteFileText(tmp / "params.txt", std::string(1u << 20, '\n') + "OS=x\n");
  environment["ostrel_PARAMETER"] = tmp / "params.txt";
  EXPECT_THROW(Start(), IoError);
}

TEST_F(AppEnvTest, UnknownIdsNameTheirFileAndLine) {
  const std::string ini = tmp / "s.INI";
  WriteFileText(ini, "[PROGRAM]\nCABLE=1\n\n[AppEnv]\nOS=Mine\nFOO=1\n");
  try {
    Start({"IF=" + ini});
    FAIL() << "an unknown ID in AppEnv ends the start";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "BASE_00.TAppEnv.PSetValue: FOO not registered! (" + ini +
                            ", section AppEnv, line 6: remove the line or correct the name)");
  }

  WriteFileText(tmp / "params.txt", "OS=Named\r\n/skipped=1\r\nBAR=2\r\n");
  environment["ostrel_PARAMETER"] = tmp / "params.txt";
  try {
    Start();
    FAIL() << "an unknown ID in the parameter file ends the start";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "BASE_00.TAppEnv.PSetValue: BAR not registered! (" + tmp / "params.txt" +
                            ", line 3: remove the line or correct the name)");
  }
}

struct OsCase {
  const char* release;
  const char* text;
  const char* major;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const OsCase& c) { return std::string(c.release); }
void PrintTo(const OsCase& c, std::ostream* os) { *os << Describe(c); }

class OsTextTest : public ::testing::TestWithParam<OsCase> {};

TEST_P(OsTextTest, MajorAndMinorOfTheRelease) {
  TOsText os = OsText("Linux", GetParam().release);
  EXPECT_EQ(os.text, GetParam().text);
  EXPECT_EQ(os.major, GetParam().major);
}

INSTANTIATE_TEST_SUITE_P(Releases, OsTextTest,
                         ::testing::Values(OsCase{"6.1.0-18-amd64", "Linux 6.1", "6"},
                                           OsCase{"10.25", "Linux 10.25", "10"}, OsCase{"5", "Linux 5.0", "5"},
                                           OsCase{"", "Linux 0.0", "0"}),
                         ostrel::testing::DescribedName{});

}  // namespace
}  // namespace ostrel
