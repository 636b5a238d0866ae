// Bitmap to CGI conversion: colours, row order, header tests, the target name rule, and
// that a rejected source leaves the target folder as it was.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/error.h"
#include "imaging/bmp_to_cgi.h"
#include "support/bitmaps.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::ConvertBmp24ToCgi;
using ostrel::ConvertBmp8ToCgi;
using ostrel::ConvertBmpToCgi;
using ostrel::testing::BitmapLayout;
using ostrel::testing::MakeBitmap;
using ostrel::testing::ReadFileText;
using ostrel::testing::WriteFileText;

class BmpToCgiTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return folder_.File(name); }
  std::string Write(const std::string& name, const std::string& bytes) const { return WriteFileText(File(name), bytes); }

  ostrel::testing::TemporaryFolder folder_;
};

std::string Repeat(const std::string& pair, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += pair;
  return out;
}

TEST_F(BmpToCgiTest, PaletteColoursBecomeRgb565HighByteFirst) {
  std::string bitmap = MakeBitmap({.bits = 8, .extra_bytes = 0}, 5);
  ASSERT_EQ(bitmap.size(), 6966u);
  ostrel::testing::SetPaletteEntry(bitmap, 5, 0xFF, 0x80, 0x10);
  Write("pic.bmp", bitmap);
  ASSERT_TRUE(ConvertBmp8ToCgi(File("pic.bmp") + ";" + File("pic.cgi")));
  EXPECT_EQ(ReadFileText(File("pic.cgi")), Repeat("\xFC\x02", 5888));
}

TEST_F(BmpToCgiTest, StoredRowsRunBottomToTop) {
  const BitmapLayout layout{};
  std::string bitmap = MakeBitmap(layout, '\xFF');
  ASSERT_EQ(bitmap.size(), 17720u);
  // The first pixel of the last stored row is the picture's top-left pixel; the last
  // pixel of the first stored row its bottom-right one.
  ostrel::testing::SetStoredPixel24(bitmap, layout, 63, 0, 0, 0, 0);
  ostrel::testing::SetStoredPixel24(bitmap, layout, 0, 91, 0x08, 0x04, 0x08);
  Write("pic.bmp", bitmap);
  ASSERT_TRUE(ConvertBmp24ToCgi(File("pic.bmp") + ";" + File("pic.cgi")));
  std::string expected = Repeat("\xFF", ostrel::kCgiSize);
  expected[0] = expected[1] = '\0';
  expected[ostrel::kCgiSize - 2] = '\x08';  // red 1, green 1, blue 1: 0000 1000 0010 0001
  expected[ostrel::kCgiSize - 1] = '\x21';
  EXPECT_EQ(ReadFileText(File("pic.cgi")), expected);
}

TEST_F(BmpToCgiTest, Rgb565TakesTheHighBitsOfEachColour) {
  EXPECT_EQ(ostrel::Rgb565(0xFF, 0x80, 0x10), 0xFC02);
  EXPECT_EQ(ostrel::Rgb565(0x07, 0x03, 0x07), 0x0000);
  EXPECT_EQ(ostrel::Rgb565(0xFF, 0xFF, 0xFF), 0xFFFF);
  EXPECT_EQ(ostrel::Rgb565(0x00, 0xFC, 0x00), 0x07E0);
}

TEST_F(BmpToCgiTest, RejectedBitmapsWriteNothingAndKeepAnExistingTarget) {
  struct Case {
    const char* what;
    std::string bitmap;
    bool eight_bit_accepts;
    bool twenty_four_bit_accepts;
  };
  std::string top_down = MakeBitmap({});
  ostrel::testing::PutLittleEndian32(top_down, 22, static_cast<std::uint32_t>(-64));
  const Case cases[] = {
      {"24-bit without the two extra bytes", MakeBitmap({.extra_bytes = 0}), false, false},
      {"128x64 24-bit", MakeBitmap({.width = 128}), false, false},
      {"128x64 8-bit", MakeBitmap({.width = 128, .bits = 8, .extra_bytes = 0}), false, false},
      {"92x63 8-bit", MakeBitmap({.height = 63, .bits = 8, .extra_bytes = 0}), false, false},
      {"top-down 24-bit", top_down, false, false},
      {"shorter than a header", std::string(100, 'x'), false, false},
      {"8-bit", MakeBitmap({.bits = 8, .extra_bytes = 0}), true, false},
      {"24-bit", MakeBitmap({}), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("src.bmp", c.bitmap);
    Write("old.cgi", "old picture");
    EXPECT_EQ(ConvertBmp8ToCgi(File("src.bmp") + ";" + File("old.cgi")), c.eight_bit_accepts);
    EXPECT_EQ(ReadFileText(File("old.cgi")).size(), c.eight_bit_accepts ? ostrel::kCgiSize : 11u);
    Write("old.cgi", "old picture");
    EXPECT_EQ(ConvertBmp24ToCgi(File("src.bmp") + ";" + File("old.cgi")), c.twenty_four_bit_accepts);
    EXPECT_EQ(ReadFileText(File("old.cgi")).size(), c.twenty_four_bit_accepts ? ostrel::kCgiSize : 11u);
    EXPECT_FALSE(std::filesystem::exists(File("SRC.CGI")));
    EXPECT_EQ(ConvertBmp8ToCgi(File("src.bmp")), c.eight_bit_accepts);
    EXPECT_EQ(std::filesystem::exists(File("SRC.CGI")), c.eight_bit_accepts);
    std::filesystem::remove(File("SRC.CGI"));
  }
}

TEST_F(BmpToCgiTest, MissingSourceCreatesNothing) {
  EXPECT_FALSE(ConvertBmp8ToCgi(File("none.bmp")));
  EXPECT_FALSE(ConvertBmp24ToCgi(File("none.bmp") + ";" + File("out.cgi")));
  EXPECT_FALSE(ConvertBmp24ToCgi(""));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Path()));
}

TEST_F(BmpToCgiTest, ShortSourceRaisesAndCreatesNothing) {
  const std::string bitmap = MakeBitmap({});
  Write("cut.bmp", bitmap.substr(0, 9000));
  EXPECT_THROW(ConvertBmp24ToCgi(File("cut.bmp") + ";" + File("out.cgi")), ostrel::IoError);
  EXPECT_FALSE(std::filesystem::exists(File("out.cgi")));
}

TEST_F(BmpToCgiTest, TargetNameRule) {
  struct Case {
    const char* spec;
    const char* source;
    const char* target;
  };
  const Case cases[] = {
      {"src.bmp", "src.bmp", "SRC.CGI"},
      {"src.bmp;out.bin", "src.bmp", "out.bin"},
      {"src.bmp; \t", "src.bmp", "SRC.CGI"},
      {"pics/logo.Bmp", "pics/logo.Bmp", "pics/LOGO.CGI"},
      {"c:\\pics\\logo.bmp", "c:\\pics\\logo.bmp", "c:\\pics\\LOGO.CGI"},
      {"a.bmp.bmp", "a.bmp.bmp", "A.CGI.CGI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    const ostrel::TCgiSpec parts = ostrel::ParseCgiSpec(c.spec);
    EXPECT_EQ(parts.source, c.source);
    EXPECT_EQ(parts.target, c.target);
  }
}

TEST_F(BmpToCgiTest, DerivedTargetLiesBesideTheSource) {
  Write("pics/logo.bmp", MakeBitmap({}));
  EXPECT_TRUE(ConvertBmpToCgi(File("pics/logo.bmp")));
  EXPECT_EQ(ReadFileText(File("pics/LOGO.CGI")).size(), ostrel::kCgiSize);
}

TEST_F(BmpToCgiTest, TargetThatIsTheSourceIsRefused) {
  // A name without ".BMP" that is already in upper case would name the source itself.
  const std::string bitmap = MakeBitmap({});
  Write("PIC", bitmap);
  EXPECT_FALSE(ConvertBmpToCgi(File("PIC")));
  EXPECT_FALSE(ConvertBmpToCgi(File("PIC") + ";" + File("./PIC")));
  EXPECT_EQ(ReadFileText(File("PIC")), bitmap);
}

TEST_F(BmpToCgiTest, EightBitFirstThenTwentyFourBit) {
  Write("a.bmp", MakeBitmap({}, '\xFF'));
  Write("b.bmp", MakeBitmap({.bits = 8, .extra_bytes = 0}, 0));  // colour table all black
  EXPECT_TRUE(ConvertBmpToCgi(File("a.bmp")));
  EXPECT_TRUE(ConvertBmpToCgi(File("b.bmp")));
  EXPECT_EQ(ReadFileText(File("A.CGI")), Repeat("\xFF", ostrel::kCgiSize));
  EXPECT_EQ(ReadFileText(File("B.CGI")), std::string(ostrel::kCgiSize, '\0'));
}

}  // namespace
