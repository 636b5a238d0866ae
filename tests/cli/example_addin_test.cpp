// The shipped example project, built by `ostrel build` with Debian's SuperH cross tools in
// a copy of its folder: an fx-9860G add-in file whose header, icon, checksums and code are
// checked against values this test works out by itself from the sources and the linked
// program.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace {

using ostrel::testing::LastLine;
using ostrel::testing::ProgramRun;
using ostrel::testing::ReadFileText;

bool CrossToolsInstalled() {
  return std::system("{ command -v sh4-linux-gnu-as && command -v sh4-linux-gnu-gcc && command -v sh4-linux-gnu-ld && "
                     "command -v sh4-linux-gnu-objdump; } >/dev/null 2>&1") == 0;
}

std::uint8_t Byte(const std::string& bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes.at(at)); }

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  return std::uint32_t{Byte(bytes, at)} << 24 | std::uint32_t{Byte(bytes, at + 1)} << 16 |
         std::uint32_t{Byte(bytes, at + 2)} << 8 | Byte(bytes, at + 3);
}

// The text of a NUL-padded field of `size` bytes, checking that the padding is all zero.
std::string PaddedText(const std::string& bytes, std::size_t at, std::size_t size) {
  const std::string field = bytes.substr(at, size);
  const std::string text = field.substr(0, field.find('\0'));
  EXPECT_EQ(field, text + std::string(size - text.size(), '\0')) << "field at " << at;
  return text;
}

// The 30x17 menu icon as the example draws it into ICON.BMP (a 92x64 bitmap with a 256-colour
// palette, rows stored bottom first): icon pixel (x, y) is the 3x3 block at picture column
// 1+3x, row 6+3y, black when it is darker than half white on average, in the calculator's
// 16-bit colours (red and blue with 5 bits, green with 6). 17 rows of 4 bytes, the leftmost
// pixel in the high bit.
std::string MenuIconOf(const std::string& bitmap) {
  auto brightness = [&](int x, int y) {
    const std::uint8_t index = Byte(bitmap, 1078 + 92 * (63 - y) + x);
    const std::size_t colour = 54 + 4 * std::size_t{index};  // blue, green, red
    return (Byte(bitmap, colour + 2) & 0xF8) + (Byte(bitmap, colour + 1) & 0xFC) + (Byte(bitmap, colour) & 0xF8);
  };
  std::string icon(68, '\0');
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 30; ++x) {
      int sum = 0;
      for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3; ++dx) sum += brightness(1 + 3 * x + dx, 6 + 3 * y + dy);
      }
      if (2 * sum < 9 * (248 + 252 + 248)) icon[4 * y + x / 8] = static_cast<char>(icon[4 * y + x / 8] | 0x80 >> x % 8);
    }
  }
  return icon;
}

std::string LocalMinute() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y.%m%d.%H%M", &parts);
  return text;
}

class ExampleAddinTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return folder_.File(name); }
  ProgramRun Run(const std::string& arguments) const {
    return ostrel::testing::RunProgramIn(folder_.Path(), OSTREL_PROGRAM, arguments);
  }
  // The standard output of a shell command (which must succeed).
  std::string Output(const std::string& command) const {
    const std::string file = File("command.txt");
    EXPECT_EQ(std::system((command + " > '" + file + "'").c_str()), 0) << command;
    return ReadFileText(file);
  }

  ostrel::testing::TemporaryFolder folder_;
};

TEST_F(ExampleAddinTest, BuildsAnAddinFileWhoseHeaderChecksAndThenSkipsEverything) {
  if (!CrossToolsInstalled()) GTEST_SKIP() << "SuperH cross tools not installed (scripts/install-deps.sh)";
  const std::string example = File("addin");
  std::filesystem::copy(std::string(OSTREL_SOURCE_DIR) + "/examples/addin", example,
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  for (const auto& entry : std::filesystem::directory_iterator(example + "/out")) {
    if (entry.path().filename() != ".gitignore") std::filesystem::remove_all(entry.path());
  }
  const std::string out = example + "/out/";

  const std::string before = LocalMinute();
  ProgramRun r = Run("build addin/addin.PRJ --log first.log");
  const std::string after = LocalMinute();
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(LastLine(r.out), "Build finished: 22 tool runs, 0 failed; project log: first.log");
  EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;

  // Big-endian SuperH objects in the library, the stubs declared in the generated header.
  const std::string members = Output("sh4-linux-gnu-objdump -f '" + out + "ADDIN.LIB'");
  for (const char* member : {"Display_ClearVram.OBJ", "Display_VramAddress.OBJ", "Display_Update.OBJ",
                             "Text_Locate.OBJ", "Text_Print.OBJ", "Keyboard_GetKey.OBJ", "Addin_Start.OBJ",
                             "Addin_Main.OBJ", "Addin_Fill.OBJ"}) {
    EXPECT_NE(members.find(std::string(member) + ":     file format elf32-shbig-linux"), std::string::npos)
        << member << "\n" << members;
  }
  EXPECT_EQ(ReadFileText(out + "syscalls.h"),
            "void Display_ClearVram(void);\nunsigned char *Display_VramAddress(void);\nvoid Display_Update(void);\n"
            "void Text_Locate(int x, int y);\nvoid Text_Print(const unsigned char *text);\n"
            "int Keyboard_GetKey(unsigned int *key);\n");

  // The linked program: big-endian SuperH, started at the first byte after the header, with
  // every name found.
  const std::string elf_header = Output("sh4-linux-gnu-readelf -h '" + out + "ADDIN.ELF'");
  EXPECT_NE(elf_header.find("2's complement, big endian"), std::string::npos) << elf_header;
  EXPECT_NE(elf_header.find("Renesas / SuperH SH"), std::string::npos) << elf_header;
  EXPECT_NE(elf_header.find("Entry point address:               0x300200\n"), std::string::npos) << elf_header;
  EXPECT_NE(Output("sh4-linux-gnu-nm '" + out + "ADDIN.ELF'").find("00300200 T Addin_Start\n"), std::string::npos);
  EXPECT_EQ(Output("sh4-linux-gnu-nm -u '" + out + "ADDIN.ELF'"), "");

  const std::string image = ReadFileText(out + "ADDIN.BIN");
  const std::string addin = ReadFileText(out + "ADDIN.G1A");
  ASSERT_GT(image.size(), 0x300u);
  ASSERT_EQ(addin.size(), image.size());
  EXPECT_EQ(image.substr(0, 0x200), std::string(0x200, '\0')) << "the header room is left zero by the link";
  EXPECT_EQ(addin.substr(0x200), image.substr(0x200)) << "the bind step changes only the header";
  const std::string disassembly =
      Output("sh4-linux-gnu-objdump -b binary -m sh4 -EB -D --adjust-vma=0x300000 --start-address=0x300200 "
             "--stop-address=0x300204 '" + out + "ADDIN.G1A'");
  EXPECT_NE(disassembly.find("300200:\t4f 22       \tsts.l\tpr,@-r15"), std::string::npos) << disassembly;

  // The first 0x20 bytes are stored complemented.
  std::string header = addin.substr(0, 0x200);
  for (std::size_t i = 0; i < 0x20; ++i) header[i] = static_cast<char>(~header[i]);
  const std::uint32_t size = static_cast<std::uint32_t>(addin.size());
  EXPECT_EQ(header.substr(0, 14), std::string("USBPower\xF3\x00\x10\x00\x10\x00", 14));
  EXPECT_EQ(Byte(header, 0x0E), static_cast<std::uint8_t>(size + 0x41));
  EXPECT_EQ(Byte(header, 0x0F), 0x01);
  EXPECT_EQ(BigEndian32(header, 0x10), size);
  EXPECT_EQ(Byte(header, 0x14), static_cast<std::uint8_t>(size + 0xB8));
  EXPECT_EQ(Byte(header, 0x15), 0);
  std::uint16_t sum = 0;
  for (std::size_t at = 0x300; at < 0x310; at += 2) {
    sum = static_cast<std::uint16_t>(sum + (Byte(addin, at) << 8 | Byte(addin, at + 1)));
  }
  EXPECT_EQ(Byte(header, 0x16) << 8 | Byte(header, 0x17), sum);
  EXPECT_EQ(header.substr(0x18, 8), std::string(8, '\0'));

  EXPECT_EQ(PaddedText(header, 0x20, 8), "@ADDIN");
  EXPECT_EQ(header.substr(0x28, 8), std::string(8, '\0')) << "no eStrips";
  EXPECT_EQ(PaddedText(header, 0x30, 12), "01.00.0000");
  const std::string date = PaddedText(header, 0x3C, 16);
  EXPECT_TRUE(date >= before && date <= after) << date << " not within " << before << " .. " << after;
  const std::string icon = header.substr(0x4C, 68);
  EXPECT_EQ(icon, MenuIconOf(ReadFileText(example + "/ICON.BMP")));
  EXPECT_NE(icon, std::string(68, '\0'));
  EXPECT_EQ(header.substr(0x90, 0x1D4 - 0x90), std::string(0x1D4 - 0x90, '\0'));
  EXPECT_EQ(PaddedText(header, 0x1D4, 0x1F0 - 0x1D4), "ADDIN");
  EXPECT_EQ(BigEndian32(header, 0x1F0), size);
  EXPECT_EQ(header.substr(0x1F4), std::string(12, '\0'));

  r = Run("build addin/addin.PRJ --log second.log");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Build finished: 0 tool runs, 0 failed; project log: second.log\n");
}

}  // namespace
