// `ostrel check` as a user runs it: the exit status tells the check's result apart from a
// file that could not be read, and the help lists every status.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "imagegen/image_generator.h"
#include "refused_images.h"
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
  const char* path;       // below the folder
  int status;
  const char* said;       // what standard output holds (nothing to look for with status 7)
  std::string last_line;  // the last line on standard error: why, and what to do
};

TEST_F(CheckCommandTest, ExitStatusSaysWhatHappened) {
  ostrel::WriteTestImage({}, File("good.fls"));
  ostrel::testing::WriteRefusedImages(folder_);
  ostrel::TestImageSpec unsigned_image;
  unsigned_image.signature = false;
  ostrel::WriteTestImage(unsigned_image, File("unsigned.fls"));
  ostrel::TestImageSpec cut;
  cut.layout_class = 1;
  cut.size = 0x200000;
  ostrel::WriteTestImage(cut, File("cut.fls"));
  ASSERT_EQ(::mkfifo(File("fifo.fls").c_str(), 0600), 0);
  std::filesystem::create_symlink("loop.fls", File("loop.fls"));
  ostrel::ResolvedTestImage resolved;
  ostrel::GenerateTestImage(ostrel::testing::DamagedImageSpec(), &resolved);
  const std::string computed = ostrel::IntToHex(resolved.os_checksum, 8);
  const std::string stored = ostrel::IntToHex(resolved.os_checksum + 1, 8);
  const std::string name_an_image = ": name a flash image file (.fls, .G1S, .bin)";
  const StatusCase cases[] = {
      {"image", "good.fls", 0, "OSCHKSAVE=", "Progress: 100%"},
      {"damaged image", "damaged.fls", 4, "OSCHKCALC=",
       "ostrel: damaged.fls: the OS checksum is wrong (stored " + stored + ", computed " + computed +
           "): the image is damaged; take a new backup or use another image"},
      {"no signature", "unsigned.fls", 5, "CASIOWIN error",
       "ostrel: unsigned.fls: no OS signature (CASIOWIN) at 0x10000: this is not a flash image of an "
       "fx-9860G-family calculator; name a flash image file (.fls, .G1S, .bin)"},
      {"unknown OS version", "unknown.fls", 1, "OSVERSION=09.99.0000",
       "ostrel: unknown.fls: unknown OS version 09.99.0000 at 0x10020: the image cannot be checked or recovered "
       "(known OS versions: 01.xx.xxxx, 02.00.0000 to 03.01.0000); use an image of a known OS"},
      {"too short for any image", "short.fls", 3, "Filesize error(1): 00002800",
       "ostrel: short.fls: the file is 10240 bytes (0x002800) long, too short for a flash image (a flash image is "
       "0x200000, 0x270000 or, with the storage memory, 0x400000 bytes long); take a new backup or use another "
       "image"},
      {"too short for its OS", "cut.fls", 3, "Filesize error(2): 00200000",
       "ostrel: cut.fls: the file is 2097152 bytes (0x200000) long, too short for its OS 02.00.0000, which needs "
       "0x270000 bytes: the image is cut off; take a new backup or use another image"},
      {"missing", "missing.fls", 6, "File does not exist: ", "ostrel: missing.fls: no such file" + name_an_image},
      {"folder", "dir.fls", 6, " (a folder, not a file)", "ostrel: dir.fls: a folder, not a file" + name_an_image},
      {"FIFO without a writer", "fifo.fls", 6, " (a FIFO, not a file)",
       "ostrel: fifo.fls: a FIFO, not a file" + name_an_image},
      {"path that cannot be looked at", "loop.fls", 7, "",
       "ostrel: Cannot open loop.fls: " + std::string(std::strerror(ELOOP)) +
           ": the image could not be read; check its path and permissions, or use another image"},
  };
  for (const StatusCase& c : cases) {
    const ProgramRun r = Run(std::string("check ") + c.path);
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << c.name << ": " << r.out;
    EXPECT_EQ(LastLine(r.err), c.last_line) << c.name << "\n" << r.err;
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
