// A golden run: the example bugfix script shipped in examples/patch applied to a
// generated 4 MiB flash image. The whole report is compared with a stored report, the
// fix's screen with a stored picture, and the fixed image, byte for byte, with the
// generated image plus the script's changes worked out here.
//
// OSTREL_UPDATE_GOLDEN=1 rewrites the stored report and picture from the run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "imagegen/image_generator.h"
#include "patch_fixture.h"

namespace ostrel::testing {
namespace {

const std::string kGoldenDir = std::string(OSTREL_SOURCE_DIR) + "/tests/patch/golden/";
const std::string kExample = std::string(OSTREL_SOURCE_DIR) + "/examples/patch/os_fix.psc";

constexpr std::size_t kRoutine = 0x80020;
constexpr std::size_t kTable = 0x81000;
constexpr std::size_t kMarks = 0x24FF00;
constexpr std::size_t kScreen = 0x260000;
constexpr std::size_t kOsEnd = 0x250000;

// The script names its files relative to the current folder, as a user runs it.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~CurrentFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// The display image as 64 rows of "#" and ".".
std::string ScreenPicture(const std::string& image) {
  std::string picture;
  for (std::size_t y = 0; y < 64; ++y) {
    for (std::size_t x = 0; x < 128; ++x) {
      picture += (static_cast<std::uint8_t>(image[y * 16 + x / 8]) >> (7 - x % 8)) & 1 ? '#' : '.';
    }
    picture += '\n';
  }
  return picture;
}

// The report as stored: one line per report line, CR LF inside a line as a line end,
// the build time and the elapsed time masked, and the OS checksum, which depends on the
// build time, written as "<sum>" where it has the expected value.
std::string StoredReport(const std::vector<std::string>& lines, std::uint32_t checksum) {
  static const std::regex build_time("\"built [0-9]{4}.[0-9]{2}.[0-9]{2} [0-9]{2}.[0-9]{2}\"");
  std::string text;
  for (const std::string& line : lines) text += ReplaceAll(line, "\r\n", "\n") + "\n";
  text = ReplaceAll(text, IntToHex(checksum, 8), "<sum>");
  return std::regex_replace(text, build_time, "\"built <time>\"");
}

void CompareWithGolden(const std::string& name, const std::string& actual) {
  const std::string path = kGoldenDir + name;
  if (std::getenv("OSTREL_UPDATE_GOLDEN") != nullptr) WriteFileText(path, actual);
  EXPECT_EQ(actual, ReadFileText(path)) << "differs from " << path;
}

void Put(std::string& bytes, std::size_t at, const std::string& what) { bytes.replace(at, what.size(), what); }

std::string BigEndian32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

TEST_F(PatchTest, ExampleBugfixOnAGenerated4MiBImage) {
  TestImageSpec spec;
  spec.size = 0x400000;
  const std::vector<std::uint8_t> generated = GenerateTestImage(spec);
  const std::string original(generated.begin(), generated.end());
  Write("OS200.bin", original);
  {
    CurrentFolder here(folder_.Path());
    ASSERT_TRUE(patcher_->RunPatchScript(kExample)) << patcher_->ErrorText();
  }
  const std::string fixed = Read("OS200_fixed.bin");
  ASSERT_EQ(fixed.size(), original.size());
  EXPECT_EQ(Read("OS200.bin"), original) << "the source stays as it was";
  CompareWithGolden("os_fix_screen.txt", ScreenPicture(fixed.substr(kScreen, 1024)));

  // The expected image: the generated one with the script's changes.
  std::string expected = original;
  Put(expected, kRoutine, HexBytes("E0 01 00 0B 00 09"));
  Put(expected, kTable + 4, original.substr(kTable, 4));
  Put(expected, kTable + 8, HexBytes("FF FF FF FF"));
  Put(expected, kTable + 12, original.substr(0x10000, 0x30));
  Put(expected, kMarks, std::string("Fix 2 by Ostrel", 16));
  const std::string build_time = fixed.substr(kMarks + 16, 23);  // "built yyyy/mm/dd hh:nn" and a zero
  EXPECT_TRUE(build_time.starts_with("built ") && build_time.back() == '\0') << build_time;
  Put(expected, kMarks + 16, build_time);
  Put(expected, kScreen, fixed.substr(kScreen, 1024));  // compared with the stored picture above
  Put(expected, kScreen + 1024, BigEndian32(0x400000));
  const std::vector<std::uint8_t> before_sum(expected.begin(), expected.end());
  const std::uint32_t checksum = TestImageChecksum(before_sum, 1, kOsEnd);
  Put(expected, kOsEnd - 8, BigEndian32(checksum));
  EXPECT_TRUE(fixed == expected) << "the fixed image differs from the expected changes";
  CompareWithGolden("os_fix_report.txt", StoredReport(Reports(), checksum));

  // The derived files.
  std::string routine_line = "A0080020\t.DATA.B ";
  for (std::size_t i = 0; i < 16; ++i) {
    routine_line += (i ? ",h'" : "h'") + IntToHex(static_cast<std::uint8_t>(expected[kRoutine + i]), 2);
  }
  EXPECT_EQ(Read("routine.src"), "\t.align 4\r\nOSBLOCK:\t.DATA.L h'A0080020,h'00000010\r\n" + routine_line + "\r\n");
  const std::string header_list = Read("header.lst");
  EXPECT_TRUE(header_list.starts_with("INSERTLIST=$43,$41,$53,$49,$4F,$57,$49,$4E,")) << header_list;
  EXPECT_EQ(std::count(header_list.begin(), header_list.end(), '\n'), 3);
  const std::string bitmap = Read("fix_screen.bmp");
  ASSERT_EQ(bitmap.size(), 1086u);
  EXPECT_EQ(static_cast<std::uint8_t>(bitmap[62 + 63 * 16]),
            static_cast<std::uint8_t>(~static_cast<std::uint8_t>(fixed[kScreen])))
      << "the image's top row is the bitmap's last";
}

}  // namespace
}  // namespace ostrel::testing
