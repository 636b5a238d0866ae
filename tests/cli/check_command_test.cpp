// `ostrel check` as a user runs it: the exit status tells the check's result apart from a
// file that could not be read, and the help lists every status.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "imagegen/image_generator.h"
#include "support/program_run.h"
#include "support/temporary_folder.h"

namespace {

using ostrel::testing::LastLine;
using ostrel::testing::ProgramRun;

class CheckCommandTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return folder_.File(name); }
  ProgramRun Run(const std::string& arguments) const {
    return ostrel::testing::RunProgramIn(folder_.Path(), OSTREL_PROGRAM, arguments);
  }
  ostrel::testing::TemporaryFolder folder_;
};

struct StatusCase {
  const char* name;
  const char* path;    // below the folder
  int status;
  const char* said;    // what the output holds (stdout for results, the last stderr line for 7)
};

TEST_F(CheckCommandTest, ExitStatusSaysWhatHappened) {
  ostrel::WriteTestImage({}, File("good.fls"));
  std::filesystem::create_directory(File("dir.fls"));
  ASSERT_EQ(::mkfifo(File("fifo.fls").c_str(), 0600), 0);
  std::filesystem::create_symlink("loop.fls", File("loop.fls"));
  const StatusCase cases[] = {
      {"image", "good.fls", 0, "OSCHKSAVE="},
      {"missing", "missing.fls", 6, "File does not exist: "},
      {"folder", "dir.fls", 6, " (a folder, not a file)"},
      {"FIFO without a writer", "fifo.fls", 6, " (a FIFO, not a file)"},
      {"path that cannot be looked at", "loop.fls", 7, "ostrel: Cannot open "},
  };
  for (const StatusCase& c : cases) {
    const ProgramRun r = Run(std::string("check '") + File(c.path) + "'");
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
    const std::string shown = c.status == 7 ? LastLine(r.err) : r.out;
    EXPECT_NE(shown.find(c.said), std::string::npos) << c.name << ": " << shown;
  }
}

TEST_F(CheckCommandTest, HelpListsEveryExitStatus) {
  const ProgramRun r = Run("check --help");
  EXPECT_EQ(r.status, 0);
  for (const char* line : {"  0  OK", "  1  OS version", "  3  file too short", "  4  OS checksum wrong",
                           "  5  no CASIOWIN", "  6  no such file", "  7  the file could not be read"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  }
}

TEST_F(CheckCommandTest, AHugeSparseImageIsCheckedWithAWarning) {
  ostrel::WriteTestImage({}, File("huge.fls"));
  std::filesystem::resize_file(File("huge.fls"), std::uintmax_t{2} << 30);
  const ProgramRun r = Run("check huge.fls");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Warning: huge.fls is 2147483648 bytes, more than any calculator's flash holds"),
            std::string::npos)
      << r.err;
}

}  // namespace
