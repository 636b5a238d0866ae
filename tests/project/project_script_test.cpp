// The project script language: lines and variables, option lists, the stack, EXIT_IF,
// CHKENV, CONSTANT_DEPENDENCY_FILE, INCLUDE and the direct forms, and the project log.

#include <cstdlib>
#include <ctime>

#include "base/error.h"
#include "project/file_dates.h"
#include "project/project_fixture.h"

namespace ostrel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> Entries(const TProject& project, TOptionListId id) {
  const TOptionList* list = project.OptionList(id);
  return list ? list->Entries() : std::vector<std::string>{"<absent>"};
}

TEST_F(ProjectTest, LinesDefineVariablesAsWritten) {
  struct Case {
    const char* script;
    const char* name;
    const char* value;  // nullptr: no entry
  };
  const Case cases[] = {
      {"A=1\n", "A", "1"},
      {"A = b\n", "A ", " b"},
      {"A=1\nA=\n", "A", nullptr},
      {"exit_if=X\n", "exit_if", "X"},
      {"//A=1\n", "A", nullptr},
      {"\\\\A=1\n", "A", nullptr},
      {"A 1\n", "A 1", nullptr},
      {"P=$(Q)x\nQ=y\n", "P", "$(Q)x"},
      {"OPTION=-O2\n", "OPTION", "-O2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    NewProject();
    EXPECT_TRUE(Run(c.script));
    EXPECT_EQ(project_->Variables().Has(c.name), c.value != nullptr);
    if (c.value) {
      EXPECT_EQ(project_->Variables().Get(c.name), c.value);
    }
  }
}

TEST_F(ProjectTest, ProjectAndSdkDirectoriesComeFromTheTopScript) {
  Write("sub/inc.PRJ", "SEEN=$(PROJECTDIR)\n");
  EXPECT_TRUE(Run("INCLUDE=@DIR@/sub/inc.PRJ\n"));
  EXPECT_EQ(project_->Variables().Get("PROJECTDIR"), "\"" + Dir() + "\"");
  const std::string parent = Dir().substr(0, Dir().rfind('/'));
  EXPECT_EQ(project_->Variables().Get("SDKDIR"), "\"" + parent + "\"");
}

TEST_F(ProjectTest, ExitIfNeedsExactlyTrue) {
  EXPECT_TRUE(Run("DONE=true\nEXIT_IF=DONE\nA=1\nDONE=TRUE\nEXIT_IF=DONE\nB=1\n"));
  EXPECT_TRUE(project_->Variables().Has("A"));
  EXPECT_FALSE(project_->Variables().Has("B"));
  EXPECT_THAT(LogText(), HasSubstr("EXIT_IF=DONE\r\nAlready invoked.\r\n--- --- ---\r\nScript closed.\r\n"));
}

TEST_F(ProjectTest, ChkEnvSkipsTheNextLineOnMismatch) {
  ::setenv("OSTREL_PROJECT_TEST_VALUE", "Yes", 1);
  struct Case {
    const char* script;
    bool next_runs;
  };
  const Case cases[] = {
      {"CHKENV=OSTREL_PROJECT_TEST_VALUE;yes\nNEXT=1\nAFTER=1\n", true},
      {"CHKENV=OSTREL_PROJECT_TEST_VALUE;no\nNEXT=1\nAFTER=1\n", false},
      {"CHKENV=OSTREL_PROJECT_TEST_UNSET;\nNEXT=1\nAFTER=1\n", true},
      {"CHKENV=OSTREL_PROJECT_TEST_VALUE\nNEXT=1\nAFTER=1\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    NewProject();
    EXPECT_TRUE(Run(c.script));
    EXPECT_EQ(project_->Variables().Has("NEXT"), c.next_runs);
    EXPECT_TRUE(project_->Variables().Has("AFTER"));
  }
  NewProject();
  EXPECT_TRUE(Run("A=1\nCHKENV=OSTREL_PROJECT_TEST_VALUE;no"));
  EXPECT_TRUE(project_->Variables().Has("A"));
  ::unsetenv("OSTREL_PROJECT_TEST_VALUE");
}

TEST_F(ProjectTest, OptionListsCollectEntriesOnceAndEmptyRemoves) {
  EXPECT_TRUE(Run("D=dir\nOPTION=-I$(D)\noption=-I$(D)\nOPTION=-i$(d)\nOPTION=-O2\n"
                  "SETENV=PATH;$(D)\nASM_OPT=--big\nASM_OPT=\nDEPENDENCY=a.c\nDEPENDENCY=b.c\n"
                  "MESSAGE_TO_IGNORE=\"warning\"\n"));
  EXPECT_THAT(Entries(*project_, olOption), ElementsAre("-I$(D)", "-O2"));
  EXPECT_THAT(Entries(*project_, olSetEnv), ElementsAre("PATH;dir"));
  EXPECT_THAT(Entries(*project_, olAsmOpt), ElementsAre("<absent>"));
  EXPECT_THAT(Entries(*project_, olDependency), ElementsAre("a.c", "b.c"));
  EXPECT_EQ(project_->Variables().Get("DEPENDENCY"), "b.c");
  EXPECT_THAT(Entries(*project_, olMessageToIgnore), ElementsAre("\"warning\""));
  EXPECT_THAT(Entries(*project_, olLibOpt), ElementsAre("<absent>"));
}

TEST_F(ProjectTest, PopRestoresListsThatExistAndTheVariables) {
  EXPECT_TRUE(Run("V=1\nOPTION=-a\nPUSH=\nV=2\nOPTION=-b\nLIB_OPT=x\nPOP=\n"));
  EXPECT_THAT(Entries(*project_, olOption), ElementsAre("-a"));
  // Absent when pushed: left as it is.
  EXPECT_THAT(Entries(*project_, olLibOpt), ElementsAre("x"));
  EXPECT_EQ(project_->Variables().Get("V"), "1");
  EXPECT_EQ(project_->StackCount(), 0u);

  NewProject();
  EXPECT_TRUE(Run("OPTION=-a\nPUSH=\nOPTION=\nPOP=\nPOP=\nV=3\n"));
  // Present when pushed, absent when popped: not recreated. A second POP changes nothing.
  EXPECT_THAT(Entries(*project_, olOption), ElementsAre("<absent>"));
  EXPECT_EQ(project_->Variables().Get("V"), "3");
}

TEST_F(ProjectTest, ConstantDependencyFileGivesTheFileDate) {
  Write("dep.txt", "x");
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 13;
  local.tm_min = 7;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  SetFileTime(File("dep.txt"), std::mktime(&local));
  EXPECT_TRUE(Run("F=@DIR@/dep.txt\nCONSTANT_DEPENDENCY_FILE=\"$(F)\"\n"));
  EXPECT_EQ(project_->Variables().Get("CONSTANT_DEPENDENCY_FILEDATE"), "20240305130709");
  EXPECT_FALSE(project_->Variables().Has("CONSTANT_DEPENDENCY_FILE"));
  EXPECT_TRUE(Run("CONSTANT_DEPENDENCY_FILE=@DIR@/none.txt\n"));
  EXPECT_EQ(project_->Variables().Get("CONSTANT_DEPENDENCY_FILEDATE"), "18991230000000");
  EXPECT_TRUE(Run("CONSTANT_DEPENDENCY_FILE=\n"));
  EXPECT_FALSE(project_->Variables().Has("CONSTANT_DEPENDENCY_FILEDATE"));
}

TEST_F(ProjectTest, DateStampsCompareAsDates) {
  struct Case {
    const char* stamp;
    const char* reference;
    bool later;
  };
  const Case cases[] = {
      {"20240101000000", "20231231235959", true},
      {"20231231235959", "20240101000000", false},
      {"20240101000000", "20240101000000", false},
      {"20240101000000", "", true},
      {"20240101000000", "garbage", true},
      {"", "20240101000000", false},
      {"", "", false},
      {"20241301000000", "18991230000000", false},
      {"20230229000000", "18991230000000", false},
      {"20240229235959", "18991230000000", true},
      {"2024010100000", "18991230000000", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stamp) + " vs " + c.reference);
    EXPECT_EQ(DateStampIsLater(c.stamp, c.reference), c.later);
  }
}

TEST_F(ProjectTest, IncludeRunsNestedAndAMissingScriptIsShown) {
  Write("inc.PRJ", "INNER=1\nINCLUDE=@DIR@/none.PRJ\n");
  Write("inc.PRJ", ReplaceAll(Read("inc.PRJ"), "@DIR@", Dir()));
  EXPECT_TRUE(Run("F=inc.PRJ\nINCLUDE=@DIR@/$(F)\nOUTER=1\n"));
  EXPECT_TRUE(project_->Variables().Has("INNER"));
  EXPECT_TRUE(project_->Variables().Has("OUTER"));
  EXPECT_EQ(project_->Depth(), -1);
  EXPECT_THAT(Shown(), ElementsAre("..Missing \"@DIR@/none.PRJ\"\r\n"
                                   "Use Pelvost (File - Full setup - Save) to create the project scripts."));
  // The included script's lines are indented by one blank, the missing one's by two.
  EXPECT_THAT(LogText(), HasSubstr(" --- --- ---\r\n INNER=1\r\n"));
  EXPECT_THAT(LogText(), HasSubstr("  Missing \""));
  EXPECT_THAT(LogText(), HasSubstr("OUTER=1\r\n--- --- ---\r\nScript closed.\r\n"));
}

TEST_F(ProjectTest, MissingTopScriptIsReported) {
  EXPECT_FALSE(project_->RunScript(File("none.PRJ")));
  EXPECT_THAT(Shown(), ElementsAre(HasSubstr("Missing \"@DIR@/none.PRJ\"")));
}

TEST_F(ProjectTest, ScriptThatCannotBeReadRaises) {
  ::mkdir(File("dir.PRJ").c_str(), 0755);
  EXPECT_THROW(project_->RunScript(File("dir.PRJ")), IoError);
  EXPECT_EQ(project_->Depth(), -1);
}

TEST_F(ProjectTest, LogHoldsEveryLineButOptionsAndEnvironment) {
  EXPECT_TRUE(Run("D=\"x y\"\nNAME=$(D)/\"f\"\n OPTION =-a\nSETENV=A;b\n"));
  EXPECT_EQ(LogText(),
            "--- --- ---\r\nD=x y\r\n--- --- ---\r\nNAME=x y/f\r\n--- --- ---\r\nScript closed.\r\n");
}

TEST_F(ProjectTest, SelfReferenceEndsTheBuildWithAnError) {
  EXPECT_THROW(Run("A=$(B)\nB=$(A)\nC=$(A)\n"), Error);
}

TEST_F(ProjectTest, LogThatCannotBeCreatedRaises) {
  EXPECT_THROW(TProject(ui_.Ui(), File("missing/dir/project.log")), IoError);
}

}  // namespace
}  // namespace ostrel::testing
