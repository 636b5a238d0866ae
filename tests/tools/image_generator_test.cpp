#include "imagegen/image_generator.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "operations/known_bios.h"

namespace ostrel {
namespace {

std::string TextAt(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t width) {
  return std::string(bytes.begin() + offset, bytes.begin() + offset + width);
}

std::uint32_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
         std::uint32_t{bytes[offset + 2]} << 8 | bytes[offset + 3];
}

struct DefaultCase {
  std::function<void(TestImageSpec&)> setup;
  int expected_class;
  std::string expected_version;
  int expected_row;
  std::uint32_t expected_size;
  std::uint32_t expected_os_end;
};

TEST(ImageGenerator, DefaultsFitTheChosenClassVersionAndBios) {
  const DefaultCase cases[] = {
      {[](TestImageSpec&) {}, 1, "02.00.0000", 7, 0x270000, 0x250000},
      {[](TestImageSpec& s) { s.layout_class = 0; }, 0, "01.04.0000", 1, 0x270000, 0x270000},
      {[](TestImageSpec& s) { s.layout_class = 2; }, 2, "01.02.0000", 1, 0x270000, 0x270000},
      {[](TestImageSpec& s) { s.layout_class = 3; }, 3, "02.00.0000", 10, 0x200000, 0x1E0000},
      {[](TestImageSpec& s) { s.os_version = "01.02.0000"; }, 2, "01.02.0000", 1, 0x270000, 0x270000},
      {[](TestImageSpec& s) { s.os_version = "01.05.0000"; }, 0, "01.05.0000", 1, 0x270000, 0x270000},
      {[](TestImageSpec& s) { s.os_version = "03.01.0000"; s.bios_row = 10; }, 3, "03.01.0000", 10, 0x200000,
       0x1E0000},
      {[](TestImageSpec& s) { s.os_version = "03.01.0000"; s.bios_row = 0; }, 1, "03.01.0000", 0, 0x270000,
       0x250000},
  };
  for (const DefaultCase& c : cases) {
    TestImageSpec spec;
    c.setup(spec);
    ResolvedTestImage r{};
    std::vector<std::uint8_t> bytes = GenerateTestImage(spec, &r);
    SCOPED_TRACE(c.expected_version + " class " + std::to_string(c.expected_class));
    EXPECT_EQ(r.layout_class, c.expected_class);
    EXPECT_EQ(r.os_version, c.expected_version);
    EXPECT_EQ(r.bios_row, c.expected_row);
    EXPECT_EQ(r.os_end, c.expected_os_end);
    ASSERT_EQ(bytes.size(), c.expected_size);
    EXPECT_EQ(TextAt(bytes, 0x10020, 10), c.expected_version);
    EXPECT_EQ(WordAt(bytes, c.expected_os_end - 8), r.os_checksum);
  }
}

TEST(ImageGenerator, WritesTheIdentificationFields) {
  TestImageSpec spec;
  spec.bios_row = 4;
  spec.calc_id = "AB";
  spec.type_info1 = 0x41423132;
  spec.type_info2 = 0x00AA1234;
  spec.syscall_address = 0x8001007C;
  spec.os_date = "2010.1231.2359";
  std::vector<std::uint8_t> bytes = GenerateTestImage(spec);
  EXPECT_EQ(WordAt(bytes, 0x300), 0x41423132u);
  EXPECT_EQ(WordAt(bytes, 0x304), 0x00AA1234u);
  EXPECT_EQ(TextAt(bytes, 0xFFB0, 14), "2007.0206.1914");
  EXPECT_EQ(TextAt(bytes, 0xFFD0, 8), "AB      ");
  EXPECT_EQ(WordAt(bytes, 0xFFFC), 0x0060BE46u);
  EXPECT_EQ(TextAt(bytes, 0x10000, 8), "CASIOWIN");
  EXPECT_EQ(WordAt(bytes, 0x1007C), 0x8001007Cu);
  EXPECT_EQ(TextAt(bytes, 0x250000 - 0x20, 14), "2010.1231.2359");

  spec.erased_calc_id = true;
  spec.bios_row = 0;
  bytes = GenerateTestImage(spec);
  EXPECT_EQ(TextAt(bytes, 0xFFD0, 8), std::string(8, '\xFF'));
  EXPECT_EQ(FindBiosImageType(WordAt(bytes, 0xFFFC), TextAt(bytes, 0xFFB0, 14)), kBiosTypeUnknown);
}

TEST(ImageGenerator, FillIsDeterministicPerSeed) {
  TestImageSpec spec;
  std::vector<std::uint8_t> a = GenerateTestImage(spec);
  std::vector<std::uint8_t> b = GenerateTestImage(spec);
  spec.seed = 2;
  std::vector<std::uint8_t> c = GenerateTestImage(spec);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(ImageGenerator, WrongChecksumIsOffByOne) {
  TestImageSpec spec;
  ResolvedTestImage good{};
  std::vector<std::uint8_t> right = GenerateTestImage(spec, &good);
  spec.correct_checksum = false;
  std::vector<std::uint8_t> wrong = GenerateTestImage(spec);
  EXPECT_EQ(WordAt(wrong, good.os_end - 8), WordAt(right, good.os_end - 8) + 1);
}

TEST(ImageGenerator, ShortSizeCutsAFullImage) {
  TestImageSpec spec;
  std::vector<std::uint8_t> full = GenerateTestImage(spec);
  spec.size = 0x200000;
  std::vector<std::uint8_t> cut = GenerateTestImage(spec);
  ASSERT_EQ(cut.size(), 0x200000u);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));
}

TEST(ImageGenerator, RejectsAClassOrRowOutOfRange) {
  TestImageSpec spec;
  spec.layout_class = 4;
  EXPECT_THROW(GenerateTestImage(spec), std::invalid_argument);
  spec.layout_class = {};
  spec.bios_row = 12;
  EXPECT_THROW(GenerateTestImage(spec), std::invalid_argument);
}

}  // namespace
}  // namespace ostrel

namespace ostrel {
namespace {

TEST(GenerateTestProgram, HeaderCarriesLoadAndStartAddressBigEndian) {
  const std::vector<std::uint8_t> program = GenerateTestProgram();
  ASSERT_EQ(program.size(), 10240u);
  EXPECT_EQ(std::vector<std::uint8_t>(program.begin() + 36, program.begin() + 44),
            (std::vector<std::uint8_t>{0x88, 0x02, 0x40, 0x00, 0x88, 0x02, 0x40, 0x00}));
  TestProgramSpec spec;
  spec.size = 40;  // shorter than the header: no addresses written
  spec.start_address = 0x88030000;
  EXPECT_EQ(GenerateTestProgram(spec).size(), 40u);
}

}  // namespace
}  // namespace ostrel
