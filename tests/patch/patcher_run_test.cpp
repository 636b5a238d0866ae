// The run loop of the patch interpreter: the report of a run, lines that are no command,
// variables, exceptions, and what becomes of the target when a run fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "base/error.h"
#include "base/paramlist.h"
#include "env/app_env.h"
#include "patch/fx9860g_file.h"
#include "patch/patcher.h"
#include "patch/script_numbers.h"
#include "patch_fixture.h"
#include "support/recording_ui.h"

namespace ostrel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::uint32_t Permissions(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(PatchTest, EmptyScriptReportsStartCountAndReady) {
  EXPECT_TRUE(Run(""));
  EXPECT_THAT(Reports(), ElementsAre("Start! script.psc", "0 lines processed.\r\nReady! script.psc <time>"));
}

TEST_F(PatchTest, MissingTargetWithoutSourceStopsAtTheFirstLine) {
  EXPECT_FALSE(Run("TARGETFILE=@DIR@x.bin\r\nGOTO=0\r\n"));
  EXPECT_THAT(Reports(), ElementsAre("Start! script.psc",
                                     "Error at lineNo: 1\r\nTarget missing and Source not defined!\r\n@DIR@x.bin\r\n"
                                     "Ready! script.psc <time>"));
}

TEST_F(PatchTest, MissingTargetAndSourceNameBoth) {
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nTARGETFILE=t.bin"));
  EXPECT_EQ(patcher_->ErrorText(), "Target and Source missing!\r\n" + Dir() + "t.bin\r\n" + Dir() + "s.bin");
  EXPECT_FALSE(std::filesystem::exists(File("t.bin")));
}

TEST_F(PatchTest, CommentsVariablesAndUnknownLines) {
  Write("t.bin", "");
  EXPECT_TRUE(Run("//\n// a remark\n   \nDIRECTORY=@DIR@\nTARGETFILE=t.bin\nVARIABLES=VER, Name2\n"
                  "ver=1.02\nINSERTSTRING=v$(VER)\nNAME2=x\nVER2=1\nVER =3"));
  EXPECT_EQ(Read("t.bin"), std::string("v1.02", 6));
  EXPECT_EQ(patcher_->ParamList().Get("VER"), "1.02");
  EXPECT_EQ(patcher_->ParamList().Get("name2"), "x");
  EXPECT_FALSE(patcher_->ParamList().Has("VER2"));
  EXPECT_THAT(CommandReports(),
              ElementsAre("variable: VARIABLES=VER, Name2", "variable: ver=1.02", "INSERTSTRING=v$(VER) -> \"v1.02\"",
                          "variable: NAME2=x", "Unknown command at lineNo: 10(ignored)\r\nVER2=1",
                          "Unknown command at lineNo: 11(ignored)\r\nVER =3"));
  EXPECT_EQ(Reports()[1], "// a remark");
}

TEST_F(PatchTest, WindowShowsForcedLinesAndWithReportAllEveryLine) {
  RecordingUi ui;
  TPatcher patcher(ui.Ui());
  Write("t.bin", "12");
  Write("s.psc", "DIRECTORY=" + Dir() + "\nTARGETFILE=t.bin\nGOTO=1\nbogus\nREPORTALL=TRUE\nGOTO=0\n");
  EXPECT_TRUE(patcher.RunPatchScript(File("s.psc")));
  ASSERT_FALSE(ui.notifications.empty());
  EXPECT_EQ(ui.notifications[0].code, nfLogClear) << "Start! clears the memo";
  const auto shown = ui.Texts(nfLogLineRaw);
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[0], "Start! s.psc");
  EXPECT_EQ(shown[1], "Unknown command at lineNo: 4(ignored)\r\nbogus");
  EXPECT_EQ(shown[2], "REPORTALL=TRUE -> TRUE");
  EXPECT_EQ(shown[3], "GOTO=0 -> 00000000");
  EXPECT_THAT(shown[4], HasSubstr("6 lines processed.\r\nReady! s.psc "));
  EXPECT_EQ(ui.Values(nfLogClear).size(), 1u);
  EXPECT_GE(ui.process_messages_calls, 7) << "messages run after every report line";
}

TEST_F(PatchTest, SharedParameterListStaysTheCallers) {
  TParamlist params;
  params.Set("NAME", "t.bin");
  params.Set("VARIABLES", "RESULT");
  {
    TPatcher patcher(params);
    Write("t.bin", "");
    Write("s.psc", "DIRECTORY=" + Dir() + "\nTARGETFILE=$(NAME)\nINSERTSTRING=$(NAME)\nRESULT=done\n");
    EXPECT_TRUE(patcher.RunPatchScript(File("s.psc")));
  }
  EXPECT_EQ(params.Get("RESULT"), "done");
  EXPECT_EQ(Read("t.bin"), std::string("t.bin", 6));
}

// Exceptions end the run without a summary; a copy of the source made by the run goes.
struct ExceptionCase {
  const char* name;
  const char* line;
  const char* message;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const ExceptionCase& c, std::ostream* os) { *os << c.name; }

class ExceptionTest : public PatchTest, public ::testing::WithParamInterface<ExceptionCase> {};

TEST_P(ExceptionTest, EndsTheRunAndDeletesTheCopy) {
  Write("s.bin", "0123456789");
  try {
    Run(std::string("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nTARGETFILE=t.bin\nINSERTSTRING=x\n") + GetParam().line);
    ADD_FAILURE() << "no exception";
  } catch (const Error& error) {
    EXPECT_EQ(error.Text(), GetParam().message);
  }
  EXPECT_EQ(patcher_->LineNo(), 5);
  EXPECT_THAT(FolderEntries(folder_.Path()), ElementsAre("s.bin", "script.psc")) << "no half-patched copy stays";
  EXPECT_EQ(Read("s.bin"), "0123456789");
  EXPECT_FALSE(Reports().back().starts_with("Ready!")) << "no summary";
}

const ExceptionCase kExceptionCases[] = {
    {"EmptyByteList", "INSERTLIST=", "Not a number: \"\""},
    {"MalformedPosition", "GOTO=12ab", "Not a number: \"12ab\""},
    {"DecimalBeyond32Bits", "GOTO=2147483648", "Number beyond 32 bits: \"2147483648\""},
    {"HexBeyond32Bits", "CHECKLIST=$100000000,1", "Number beyond 32 bits: \"$100000000\""},
    {"UnwritableOutputFile", "MAKECSOURCE=/nonexistent-folder/a.src,0,4",
     "Cannot open /nonexistent-folder/a.src: No such file or directory"},
};

INSTANTIATE_TEST_SUITE_P(Run, ExceptionTest, ::testing::ValuesIn(kExceptionCases),
                         [](const ::testing::TestParamInfo<ExceptionCase>& info) { return info.param.name; });

TEST_F(PatchTest, CommandBeforeTheTargetRaisesTargetFileNotOpen) {
  EXPECT_THROW(
      {
        try {
          Run("INSERTSTRING=x");
        } catch (const Error& error) {
          EXPECT_EQ(error.Text(), "TargetFile not open");
          throw;
        }
      },
      Error);
}

TEST_F(PatchTest, ExceptionLeavesATargetPatchedInPlace) {
  Write("t.bin", "abcd");
  EXPECT_THROW(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nINSERTSTRING=X\nGOTO=?"), ConversionError);
  patcher_.reset();
  EXPECT_EQ(Read("t.bin"), std::string("X\0cd", 4)) << "the user's file stays, with the lines done";
}

TEST_F(PatchTest, ErrorDeletesTheCopyButNotAnInPlaceTarget) {
  Write("s.bin", "abcd");
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nTARGETFILE=t.bin\nINSERTSTRING=X\nCHECKSTRING=0,x"));
  EXPECT_THAT(FolderEntries(folder_.Path()), ElementsAre("s.bin", "script.psc"));

  NewPatcher();
  Write("t.bin", "abcd");
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nINSERTSTRING=X\nCHECKSTRING=0,x"));
  EXPECT_EQ(Read("t.bin"), std::string("X\0cd", 4));
}

// A file that has the target's name before a failed run keeps its contents; the copy
// takes the name only when the run ends without error.
TEST_F(PatchTest, FailedRunLeavesAnOlderFileOfTheTargetsName) {
  Write("s.bin", "new contents");
  Write("t.bin", "older file");
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nTARGETFILE=t.bin\nINSERTSTRING=X\nCHECKSTRING=0,x"));
  EXPECT_EQ(Read("t.bin"), "older file");

  NewPatcher();
  EXPECT_THROW(Run("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nTARGETFILE=t.bin\nINSERTSTRING=X\nGOTO=?"), ConversionError);
  EXPECT_EQ(Read("t.bin"), "older file");
  EXPECT_THAT(FolderEntries(folder_.Path()), ElementsAre("s.bin", "script.psc", "t.bin"));
}

TEST_F(PatchTest, ReadOnlyTargetReplacedByACopyStaysReadOnly) {
  Write("s.bin", "new");
  const std::string target = Write("t.bin", "old");
  ::chmod(target.c_str(), 0440);
  EXPECT_TRUE(Run("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nTARGETUNLOCK=TRUE\nTARGETFILE=t.bin\nINSERTSTRING=N"));
  patcher_.reset();
  EXPECT_EQ(Read("t.bin"), std::string("N\0w", 3));
  EXPECT_EQ(Permissions(target), 0440u);
}

TEST_F(PatchTest, SourceIsCopiedUpToMaxSizeOverAnExistingTarget) {
  Write("s.bin", "0123456789");
  Write("t.bin", "old target, longer than the copy");
  EXPECT_TRUE(Run("DIRECTORY=@DIR@\nSOURCEFILE=s.bin\nMAXSIZE=4\nTARGETFILE=t.bin\nINSERTSTRING=A"));
  EXPECT_EQ(Read("t.bin"), std::string("A\0" "23", 4));
  EXPECT_THAT(Reports()[2], "SOURCEFILE=s.bin\r\n -> @DIR@s.bin");
  EXPECT_THAT(Reports()[4], "TARGETFILE=t.bin\r\n copy @DIR@t.bin");
  EXPECT_THAT(FolderEntries(folder_.Path()), ElementsAre("s.bin", "script.psc", "t.bin"));
}

TEST_F(PatchTest, FailedCopyLeavesTheExistingTargetAndEndsTheRun) {
  std::filesystem::create_directory(File("folder"));
  Write("t.bin", "keep me");
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nSOURCEFILE=folder\nTARGETFILE=t.bin\nINSERTSTRING=A"));
  EXPECT_THAT(patcher_->ErrorText(), HasSubstr("Target not opened!\r\nCannot open " + Dir() + "folder: "));
  EXPECT_EQ(Read("t.bin"), "keep me");
  EXPECT_THAT(FolderEntries(folder_.Path()), ElementsAre("folder", "script.psc", "t.bin"));
}

TEST_F(PatchTest, TargetThatCannotBeOpenedEndsTheRun) {
  std::filesystem::create_directory(File("folder"));
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nTARGETFILE=folder\nINSERTSTRING=A"));
  EXPECT_EQ(patcher_->ErrorText(), "Target not opened!\r\nCannot open " + Dir() + "folder: Is a directory");
  EXPECT_EQ(patcher_->LineNo(), 2) << "the run stops at TARGETFILE, not at a later line";
}

TEST_F(PatchTest, ReadOnlyTargetNeedsTheUnlockAndIsLockedAgain) {
  const std::string target = Write("t.bin", "abc");
  ::chmod(target.c_str(), 0444);
  EXPECT_FALSE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nINSERTSTRING=X"));
  EXPECT_EQ(patcher_->ErrorText(), "Target readonly! Not unlocked!\r\n" + target);
  EXPECT_EQ(Read("t.bin"), "abc");
  EXPECT_EQ(Permissions(target), 0444u);

  NewPatcher();
  EXPECT_TRUE(Run("DIRECTORY=@DIR@\nTARGETUNLOCK=TRUE\nTARGETFILE=t.bin\nINSERTSTRING=X"));
  patcher_.reset();
  EXPECT_EQ(Read("t.bin"), std::string("X\0c", 3));
  EXPECT_EQ(Permissions(target), 0444u) << "read-only again, as it was";
}

TEST_F(PatchTest, TargetLockTakesEveryWriteBit) {
  const std::string target = Write("t.bin", "abc");
  ::chmod(target.c_str(), 0664);
  EXPECT_TRUE(Run("DIRECTORY=@DIR@\nTARGETLOCK=TRUE\nTARGETFILE=t.bin"));
  patcher_.reset();
  EXPECT_EQ(Permissions(target), 0444u);
}

TEST_F(PatchTest, SecondTargetFileClosesTheFirst) {
  Write("a.bin", "aa");
  Write("b.bin", "bb");
  EXPECT_TRUE(Run("DIRECTORY=@DIR@\nTARGETLOCK=TRUE\nTARGETFILE=a.bin\nTARGETFILE=b.bin\nINSERTSTRING=X"));
  EXPECT_EQ(Permissions(File("a.bin")) & 0222, 0u) << "closed, and locked as TARGETLOCK asks";
  EXPECT_EQ(Read("a.bin"), "aa");
  EXPECT_EQ(Read("b.bin"), std::string("X\0", 2));
}

TEST_F(PatchTest, ScriptPathsWithBackslashesAndDriveLetters) {
  std::filesystem::create_directory(File("sub"));
  Write("sub/t.bin", "..");
  const std::string windows_dir = "C:" + ReplaceAll(Dir(), "/", "\\");
  EXPECT_TRUE(Run("DIRECTORY=\"" + windows_dir + "\"\nTARGETFILE=sub\\t.bin\nINSERTSTRING=Y"));
  EXPECT_EQ(Read("sub/t.bin"), std::string("Y\0", 2));
  EXPECT_EQ(Reports()[2], "TARGETFILE=sub\\t.bin\r\n reset " + windows_dir + "sub\\t.bin")
      << "reports keep the paths as the script wrote them";
}

class DirectoryTest : public PatchTest {
 protected:
  void SetUp() override {
    TStartupContext context = TStartupContext::FromProcess();
    context.environment = [this](const std::string& name) {
      const auto it = variables_.find(name);
      return it == variables_.end() ? std::string() : it->second;
    };
    ResetAppEnvForTesting(context);
  }
  void TearDown() override { ResetAppEnvForTesting(TStartupContext::FromProcess()); }

  std::map<std::string, std::string> variables_{{"OSTREL_REGISTRY", "/nonexistent/registry.ini"}};
};

TEST_F(DirectoryTest, NamesBetweenPercentSignsComeFromTheEnvironment) {
  variables_["BASE"] = folder_.Path();
  variables_["SUB"] = "in";
  std::filesystem::create_directory(File("in"));
  Write("in/t.bin", "");
  EXPECT_TRUE(Run("DIRECTORY=\"%BASE%/%SUB%/\"\nTARGETFILE=t.bin\nINSERTSTRING=Z"));
  EXPECT_EQ(Read("in/t.bin"), std::string("Z\0", 2));
  EXPECT_EQ(Reports()[1], "DIRECTORY=\"%BASE%/%SUB%/\"\r\n -> @DIR@in/");
}

TEST_F(DirectoryTest, LonePercentStaysAndSelfReferenceStops) {
  EXPECT_TRUE(Run("DIRECTORY=a%b"));
  EXPECT_EQ(Reports()[1], "DIRECTORY=a%b\r\n -> a%b");

  NewPatcher();
  variables_["LOOP"] = "x%LOOP%";
  EXPECT_FALSE(Run("DIRECTORY=%LOOP%"));
  EXPECT_EQ(patcher_->ErrorText(), "Directory variables nest too deep! DIRECTORY=%LOOP%");
}

TEST_F(PatchTest, BugfixRunsStartFromAFreshInterpreter) {
  Write("t.bin", "");
  Write("fix.psc", "DIRECTORY=" + Dir() + "\nTARGETFILE=t.bin\nGOTO=FILESIZE\nINSERTSTRING=[$(V)]\n"
                   "VARIABLES=V\nV=x\nBIGENDIAN=FALSE\n");
  RecordingUi ui;
  const TFX9860GFile bugfix(File("fix.psc"));
  EXPECT_TRUE(bugfix.RunBugfix(ui.Ui()));
  EXPECT_TRUE(bugfix.RunBugfix(ui.Ui()));
  EXPECT_EQ(Read("t.bin"), std::string("[]\0[]\0", 6));
  EXPECT_EQ(ui.Values(nfLogClear).size(), 2u);
}

TEST_F(PatchTest, BugfixPassesExceptionsAfterClosingTheTarget) {
  Write("s.bin", "abc");
  Write("fix.psc", "DIRECTORY=" + Dir() + "\nSOURCEFILE=s.bin\nTARGETFILE=t.bin\nGOTO=x\n");
  int line_no = 0;
  EXPECT_THROW(TFX9860GFile(File("fix.psc")).RunBugfix({}, false, &line_no), ConversionError);
  EXPECT_EQ(line_no, 4);
  EXPECT_FALSE(std::filesystem::exists(File("t.bin")));
}

TEST_F(PatchTest, MissingScriptRaisesAnInputOutputError) {
  EXPECT_THROW(patcher_->RunPatchScript(File("none.psc")), IoError);
  EXPECT_EQ(Reports()[0], "Start! none.psc");
}

}  // namespace
}  // namespace ostrel::testing
