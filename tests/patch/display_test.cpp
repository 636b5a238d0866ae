// The display image: the glyph set, printing by exclusive-or with wrap and clipping,
// the print errors and the test bitmap.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>

#include "base/error.h"
#include "patch/glyphs.h"
#include "patch_fixture.h"

namespace ostrel::testing {
namespace {

using ::testing::ElementsAre;

constexpr std::size_t kImage = 1024;

std::string GlyphHex(std::uint8_t code) {
  std::string bytes;
  for (std::uint8_t row : Glyph(code)) bytes += static_cast<char>(row);
  return ToHex(bytes);
}

// The display image of a target as rows of "#" and ".", from pixel row `first` on.
std::vector<std::string> Picture(const std::string& target, std::size_t address, int first, int rows) {
  std::vector<std::string> picture;
  for (int y = first; y < first + rows; ++y) {
    std::string line;
    for (int x = 0; x < 128; ++x) {
      const auto byte = static_cast<std::uint8_t>(target[address + static_cast<std::size_t>(y * 16 + x / 8)]);
      line += (byte >> (7 - x % 8)) & 1 ? '#' : '.';
    }
    picture.push_back(line);
  }
  return picture;
}

TEST(GlyphTest, TellingRowsAndCellLayout) {
  EXPECT_EQ(GlyphHex('A'), "38 44 44 7C 44 44 44 00");
  EXPECT_EQ(GlyphHex('0'), "38 44 4C 54 64 44 38 00");
  EXPECT_EQ(GlyphHex(0xD8), "7C 44 44 44 44 44 7C 00");
  EXPECT_EQ(GlyphHex(' '), "00 00 00 00 00 00 00 00");
  const std::set<int> symbols = {1,   3,   7,   8,   9,   10,  11,  12,  13,  15,  16,  17,  18,  19,  26,  27,  28, 29,
                                 30,  31,  134, 135, 140, 156, 169, 172, 181, 185, 187, 188, 194, 195, 203, 204, 205, 216};
  for (int code = 0; code < 256; ++code) {
    const auto glyph = Glyph(static_cast<std::uint8_t>(code));
    bool empty = true;
    for (std::size_t row = 0; row < kGlyphBytes; ++row) {
      if (glyph[row] != 0) empty = false;
      EXPECT_EQ(glyph[row] & 0x83, 0) << "code " << code << ": outer columns stay empty";
    }
    EXPECT_EQ(glyph[7], 0) << "code " << code << ": the last row stays empty";
    const bool drawn = (code >= 0x21 && code <= 0x7E) || symbols.count(code) > 0;
    EXPECT_EQ(!empty, drawn) << "code " << code;
  }
}

class DisplayTest : public PatchTest {
 protected:
  // A target of 16 bytes 0xAA, the 1024-byte image, and 16 bytes 0xAA after it.
  void SetUp() override {
    Write("t.bin", std::string(16, '\xAA') + std::string(kImage, '\0') + std::string(16, '\xAA'));
  }
  bool Print(const std::string& lines) {
    return Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nDISPLAYADDR=16\n" + lines);
  }
  std::vector<std::string> Rows(int first, int rows) const { return Picture(Read("t.bin"), 16, first, rows); }
};

TEST_F(DisplayTest, RendersAStringAsStored) {
  ASSERT_TRUE(Print("PRINTSTRING=0,0,Fix 0.5 (OK)?\nPRINTSTRING=0,8,pqy_{|}~@#$"));
  const std::vector<std::string> expected = {
      ".#####...#................###........#####..........#...###..#...#..#.....###...................................................",
      ".#.......................#...#.......#.............#...#...#.#..#....#...#...#..................................................",
      ".#......##...#...#.......#..##.......####.........#....#...#.#.#......#......#..................................................",
      ".####....#....#.#........#.#.#...........#........#....#...#.##.......#.....#...................................................",
      ".#.......#.....#.........##..#...........#........#....#...#.#.#......#....#....................................................",
      ".#.......#....#.#........#...#..##...#...#.........#...#...#.#..#....#..........................................................",
      ".#......###..#...#........###...##....###...........#...###..#...#..#......#....................................................",
      "................................................................................................................................",
      "............................#....#....#...........###...#.#....#................................................................",
      ".####...####...............#.....#.....#.........#...#..#.#...####..............................................................",
      ".#...#.#...#.#...#.........#.....#.....#....#........#.#####.#.#................................................................",
      ".#...#.#...#.#...#........#......#......#..#.#.#..##.#..#.#...###...............................................................",
      ".####...####..####.........#.....#.....#......#..#.#.#.#####...#.#..............................................................",
      ".#.........#.....#.........#.....#.....#.........#.#.#..#.#..####...............................................................",
      ".#.........#..###..#####....#....#....#...........###...#.#....#................................................................",
      "................................................................................................................................",
  };
  EXPECT_EQ(Rows(0, 16), expected);
}

TEST_F(DisplayTest, PrintingTwiceErasesAndRestoresThePosition) {
  ASSERT_TRUE(Print("GOTO=3\nPRINTSTRING=0,0,A\nINSERTLIST=$11"));
  std::string target = Read("t.bin");
  EXPECT_EQ(ToHex(std::string{target[16], target[32], target[48], target[64], target[80], target[96], target[112],
                              target[128]}),
            "38 44 44 7C 44 44 44 00");
  EXPECT_EQ(target[3], '\x11') << "the position came back after printing";

  NewPatcher();
  ASSERT_TRUE(Print("PRINTSTRING=0,0,A"));
  target = Read("t.bin");
  EXPECT_EQ(target.substr(16, kImage), std::string(kImage, '\0'));
}

TEST_F(DisplayTest, TwentyTwoCharactersWrapToTheNextLine) {
  ASSERT_TRUE(Print("PRINTSTRING=0,0,|||||||||||||||||||||A"));
  const auto rows = Rows(0, 16);
  // "|" is the middle column of its cell: x + 3 for x = 0, 6, ..., 120.
  for (int i = 0; i < 21; ++i) EXPECT_EQ(rows[0][static_cast<std::size_t>(6 * i + 3)], '#') << i;
  EXPECT_EQ(rows[8].substr(0, 8), "..###...") << "the 22nd character starts at x = 0, eight rows lower";
}

TEST_F(DisplayTest, CellsAtTheEdgesAreClipped) {
  ASSERT_TRUE(Print("PRINTSTRING=125,60,\xD8"));
  const std::string target = Read("t.bin");
  EXPECT_EQ(target.substr(0, 16), std::string(16, '\xAA'));
  EXPECT_EQ(target.substr(16 + kImage), std::string(16, '\xAA')) << "nothing below the image";
  const auto rows = Rows(60, 4);
  EXPECT_EQ(rows[0].substr(120), "......##") << "the box's left columns, cut at x = 127";
  EXPECT_EQ(rows[1].substr(120), "......#.");
  // Nothing wrapped into the next pixel row's first byte.
  for (int y = 0; y < 64; ++y) EXPECT_EQ(Rows(y, 1)[0].substr(0, 8), "........") << y;
}

TEST_F(DisplayTest, WrapOfTheLastLineGoesBackToTheTop) {
  ASSERT_TRUE(Print("PRINTSTRING=120,56,||"));
  const auto rows = Rows(0, 64);
  EXPECT_EQ(rows[56][123], '#');
  EXPECT_EQ(rows[0][3], '#') << "the next character goes to x = 0, y = 0";
}

TEST_F(DisplayTest, LittleEndianWordsSwapTheBytes) {
  ASSERT_TRUE(Print("BIGENDIAN=FALSE\nPRINTSTRING=4,0,A"));
  const std::string target = Read("t.bin");
  // Row 1 of "A" (44) shifted by 4 is the word 0440: low byte 40 first, high byte 04 second.
  EXPECT_EQ(ToHex(target.substr(16 + 16, 2)), "40 04");
}

struct PrintErrorCase {
  const char* name;
  const char* line;
  bool display_addr;
  const char* error;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const PrintErrorCase& c, std::ostream* os) { *os << c.name; }

class PrintErrorTest : public DisplayTest, public ::testing::WithParamInterface<PrintErrorCase> {};

TEST_P(PrintErrorTest, StopsTheRunAndStillReportsTheText) {
  const PrintErrorCase& c = GetParam();
  Run(std::string("DIRECTORY=@DIR@\nTARGETFILE=t.bin\n") + (c.display_addr ? "DISPLAYADDR=16\n" : "") + c.line);
  EXPECT_EQ(patcher_->ErrorText(), c.error);
  EXPECT_EQ(CommandReports().back(), std::string(c.line) + " -> A");
  EXPECT_EQ(Read("t.bin").substr(16, kImage), std::string(kImage, '\0'));
}

const PrintErrorCase kPrintErrorCases[] = {
    {"XBelowZero", "PRINTSTRING=-1,0,A", true, "x < 0"},
    {"XMissing", "PRINTSTRING=,0,A", true, "x < 0"},
    {"XBeyondTheImage", "PRINTSTRING=128,0,A", true, "x > 127"},
    {"YBelowZero", "PRINTSTRING=0,-5,A", true, "y < 0"},
    {"YBeyondTheImage", "PRINTSTRING=0,64,A", true, "y > 63"},
    {"NoDisplayAddress", "PRINTSTRING=0,0,A", false, "FDisplayAddr undefined"},
};

INSTANTIATE_TEST_SUITE_P(Print, PrintErrorTest, ::testing::ValuesIn(kPrintErrorCases),
                         [](const ::testing::TestParamInfo<PrintErrorCase>& info) { return info.param.name; });

TEST_F(PatchTest, PrintWithoutATargetStopsAtTheDisplayAddress) {
  EXPECT_FALSE(Run("PRINTSTRING=0,0,A"));
  EXPECT_EQ(patcher_->ErrorText(), "FDisplayAddr undefined");
}

std::uint32_t Little32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

TEST_F(DisplayTest, TestBitmapIsAOneBitBitmapBottomRowFirstComplemented) {
  ASSERT_TRUE(Print("PRINTSTRING=0,0,A\nTESTBITMAP=\"shot.bmp\"\nINSERTLIST=$77"));
  const std::string bitmap = Read("shot.bmp");
  ASSERT_EQ(bitmap.size(), 1086u);
  EXPECT_EQ(bitmap.substr(0, 2), "BM");
  EXPECT_EQ(Little32(bitmap, 2), 1086u);
  EXPECT_EQ(Little32(bitmap, 10), 62u);
  EXPECT_EQ(Little32(bitmap, 14), 40u);
  EXPECT_EQ(Little32(bitmap, 18), 128u);
  EXPECT_EQ(Little32(bitmap, 22), 64u);
  EXPECT_EQ(Little32(bitmap, 26), 0x00010001u) << "1 plane, 1 bit per pixel";
  EXPECT_EQ(Little32(bitmap, 30), 0u);
  EXPECT_EQ(Little32(bitmap, 34), 1024u);
  EXPECT_EQ(ToHex(bitmap.substr(54, 8)), "00 00 00 00 FF FF FF 00");
  // Pixel row 1 of the image ("A": 44) is the 63rd row of the file, complemented.
  EXPECT_EQ(ToHex(bitmap.substr(62 + 62 * 16, 2)), "BB FF");
  EXPECT_EQ(ToHex(bitmap.substr(62, 2)), "FF FF") << "the bottom row comes first";
  const std::string target = Read("t.bin");
  EXPECT_EQ(target[16 + kImage], '\x77') << "the position is left after the image";
  EXPECT_THAT(CommandReports(), ElementsAre("DISPLAYADDR=16 -> 00000010", "PRINTSTRING=0,0,A -> A",
                                            "TESTBITMAP=\"shot.bmp\"\r\n -> @DIR@shot.bmp", "INSERTLIST=$77 -> 1"));
}

TEST_F(DisplayTest, TestBitmapWithoutANameWritesNothing) {
  ASSERT_TRUE(Print("TESTBITMAP=\"\""));
  EXPECT_EQ(CommandReports().back(), "TESTBITMAP=\"\"\r\n -> @DIR@");
}

TEST_F(DisplayTest, TestBitmapOfAnImagePastTheEndRaisesAndWritesNothing) {
  Write("t.bin", std::string(100, '\0'));
  EXPECT_THROW(Print("TESTBITMAP=shot.bmp"), IoError);
  EXPECT_FALSE(std::filesystem::exists(File("shot.bmp")));
}

}  // namespace
}  // namespace ostrel::testing
