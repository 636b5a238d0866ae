// `ostrel bugfix` as a user runs it: the built program in the script's folder, without
// a terminal; the report on standard output, the reason of a failure last on standard
// error, and the exit status.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "imagegen/image_generator.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::testing::ReadFileText;
using ostrel::testing::WriteFileText;

struct BugfixRun {
  int status = -1;
  std::string out;
  std::string err;
};

class BugfixCommandTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return folder_.File(name); }

  // Runs `ostrel <arguments>` in the temporary folder.
  BugfixRun Run(const std::string& arguments) const {
    const std::string command = "cd '" + folder_.Path() + "' && '" + OSTREL_PROGRAM + "' " + arguments +
                                " </dev/null >out.txt 2>err.txt";
    BugfixRun result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFileText(File("out.txt"));
    result.err = ReadFileText(File("err.txt"));
    return result;
  }

  ostrel::testing::TemporaryFolder folder_;
};

std::string LastLine(const std::string& text) {
  const std::size_t end = text.ends_with('\n') ? text.size() - 1 : text.size();
  const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

TEST_F(BugfixCommandTest, ReportGoesToStandardOutputWithTheSummaryLast) {
  WriteFileText(File("t.bin"), "abc");
  WriteFileText(File("fix.psc"), "TARGETFILE=t.bin\r\nINSERTSTRING=X\r\n");
  const BugfixRun r = Run("bugfix fix.psc");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with("Start! fix.psc\nTARGETFILE=t.bin\n reset t.bin\nINSERTSTRING=X -> \"X\"\n"
                                "2 lines processed.\nReady! fix.psc "))
      << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(ReadFileText(File("t.bin")), std::string("X\0c", 3));
}

TEST_F(BugfixCommandTest, ErrorEndsWithTheLineAndANonZeroStatus) {
  WriteFileText(File("s.bin"), "abc");
  WriteFileText(File("fix.psc"), "SOURCEFILE=s.bin\nTARGETFILE=t.bin\nCHECKSTRING=0,abd\n");
  const BugfixRun r = Run("bugfix fix.psc");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error at lineNo: 3\nCheck failed! CHECKSTRING=0,abd vs. abc\nReady! fix.psc "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(LastLine(r.err),
            "ostrel: the script stopped at line 3 of fix.psc: Check failed! CHECKSTRING=0,abd vs. abc; a target made "
            "by copying was not written, a target patched in place keeps what the lines before did");
  EXPECT_FALSE(std::filesystem::exists(File("t.bin")));
}

TEST_F(BugfixCommandTest, AMissingSourceIsNamedOnTheLastLine) {
  WriteFileText(File("fix.psc"), "SOURCEFILE=missing.bin\nTARGETFILE=t.bin\nINSERTSTRING=X\n");
  const BugfixRun r = Run("bugfix fix.psc");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.err),
            "ostrel: the script stopped at line 2 of fix.psc: Target and Source missing! (t.bin, missing.bin); a "
            "target made by copying was not written, a target patched in place keeps what the lines before did")
      << r.out;
}

TEST_F(BugfixCommandTest, ExceptionPrintsItsTextWithTheLine) {
  WriteFileText(File("fix.psc"), "// no target yet\nINSERTSTRING=X\n");
  const BugfixRun r = Run("bugfix fix.psc");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.err),
            "ostrel: TargetFile not open (line 2 of fix.psc): a TARGETFILE line must open the target before this line");
  EXPECT_EQ(LastLine(r.out), "// no target yet") << "no summary after an exception";

  WriteFileText(File("t.bin"), "");
  WriteFileText(File("fix.psc"), "TARGETFILE=t.bin\nGOTO=4294967296\n");
  const BugfixRun overflow = Run("bugfix fix.psc");
  EXPECT_EQ(overflow.status, 1);
  EXPECT_EQ(LastLine(overflow.err), "ostrel: Number beyond 32 bits: \"4294967296\" (line 2 of fix.psc): write the "
                                    "number in decimal or with a hex prefix ($, 0x, x)");
}

TEST_F(BugfixCommandTest, MissingScriptSaysSo) {
  const BugfixRun r = Run("bugfix none.psc");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastLine(r.err), "ostrel: Cannot open the script none.psc: No such file or directory");
}

TEST_F(BugfixCommandTest, ExampleFixesA4MiBImageThatStillPassesTheCheck) {
  ostrel::TestImageSpec spec;
  spec.size = 0x400000;
  ostrel::WriteTestImage(spec, File("OS200.bin"));
  const BugfixRun r = Run(std::string("bugfix '") + OSTREL_SOURCE_DIR + "/examples/patch/os_fix.psc'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(std::filesystem::file_size(File("OS200_fixed.bin")), 0x400000u);
  const BugfixRun check = Run("check OS200_fixed.bin");
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE(check.out.find("OSVERSION=02.00.0000\n"), std::string::npos) << check.out;
}

}  // namespace
