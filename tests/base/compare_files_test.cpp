#include "base/compare_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/error.h"
#include "support/ordinary_user.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using ostrel::testing::TemporaryFolder;
using ostrel::testing::WriteFileText;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

// The pattern with the byte at `position` (counted from 1) changed.
std::string PatternChangedAt(std::size_t size, std::size_t position) {
  std::string bytes = Pattern(size);
  bytes[position - 1] = static_cast<char>(bytes[position - 1] ^ 0x5A);
  return bytes;
}

struct CompareCase {
  const char* label;
  std::string first;
  std::string second;
  bool second_newer;
  bool ignore_time;
  std::string expected;
};

TEST(CompareFilesTest, ReportsDifferences) {
  const CompareCase cases[] = {
      {"equal", Pattern(30000), Pattern(30000), false, false, ""},
      {"empty files", "", "", false, false, ""},
      {"times ignored", Pattern(500), Pattern(500), true, true, ""},
      {"time differs", Pattern(500), Pattern(500), true, false, "Mismatch: Time"},
      {"size differs", Pattern(500), Pattern(501), false, false, "Mismatch: Size"},
      {"time and size", Pattern(500), Pattern(499), true, false, "Mismatch: Time,Size"},
      {"size, time ignored", "a", "", true, true, "Mismatch: Size"},
      {"10001st byte", Pattern(20000), PatternChangedAt(20000, 10001), false, false,
       "Binary mismatch at 10001!"},
      {"10000th byte", Pattern(20000), PatternChangedAt(20000, 10000), false, false,
       "Binary mismatch at 10000!"},
      {"first byte", Pattern(10), PatternChangedAt(10, 1), false, false, "Binary mismatch at 1!"},
      {"last byte of a partial block", Pattern(25001), PatternChangedAt(25001, 25001), false, true,
       "Binary mismatch at 25001!"},
      {"time and content", Pattern(100), PatternChangedAt(100, 42), true, false,
       "Mismatch: Time; Binary mismatch at 42!"},
  };
  for (const CompareCase& c : cases) {
    SCOPED_TRACE(c.label);
    TemporaryFolder dir;
    const fs::path first = WriteFileText(dir / "first.bin", c.first);
    const fs::path second = WriteFileText(dir / "second.bin", c.second);
    const fs::file_time_type time = fs::last_write_time(first);
    fs::last_write_time(second, c.second_newer ? time + std::chrono::seconds(2) : time);
    EXPECT_EQ(CompareFiles(first, second, c.ignore_time), c.expected);
  }
}

TEST(CompareFilesTest, MissingFilesAreNamed) {
  TemporaryFolder dir;
  const fs::path present = WriteFileText(dir / "present.h", "x");
  const fs::path missing = dir / "missing.h";
  const fs::path other_missing = dir / "other.h";
  EXPECT_EQ(CompareFiles(missing, present, false), missing.string() + " does not exist!");
  EXPECT_EQ(CompareFiles(present, missing, false), missing.string() + " does not exist!");
  EXPECT_EQ(CompareFiles(other_missing, missing, true), other_missing.string() + " does not exist!");
  EXPECT_EQ(CompareFiles(dir.Path(), present, true), dir.Path() + " does not exist!")
      << "a folder is no file";
}

TEST(CompareFilesTest, UnreadableFileRaisesInsteadOfReportingEquality) {
  TemporaryFolder dir;
  const fs::path first = WriteFileText(dir / "first", "same");
  const fs::path second = WriteFileText(dir / "second", "same");
  fs::permissions(second, fs::perms::none);
  fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(ostrel::testing::RunAsOrdinaryUser([&]() -> std::string {
              try {
                CompareFiles(first, second, true);
              } catch (const IoError&) {
                return "";
              }
              return "an unreadable file raised no IoError";
            }),
            "");
}

TEST(CompareFilesTest, FileWithoutSizeRaises) {
  TemporaryFolder dir;
  const fs::path file = WriteFileText(dir / "file", "");
  const fs::path pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_THROW(CompareFiles(file, pipe, true), IoError);
}

}  // namespace
}  // namespace ostrel
