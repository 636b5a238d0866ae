// The display image inside the target: a 128x64 monochrome picture of 1024 bytes at
// DISPLAYADDR, 16 bytes per pixel row from the top, the most significant bit leftmost,
// a set bit dark. PRINTSTRING draws glyphs into it by exclusive-or; TESTBITMAP writes it
// out as a 1-bit bitmap file.

#include <array>

#include "base/text.h"
#include "patch/glyphs.h"
#include "patch/patcher.h"
#include "patch/script_numbers.h"
#include "patch/target_file.h"

namespace ostrel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr int kDisplayWidth = 128;
constexpr int kDisplayHeight = 64;
constexpr int kRowBytes = kDisplayWidth / 8;
constexpr std::size_t kImageBytes = kRowBytes * kDisplayHeight;  // 1024
// Characters advance 6 pixels; a line holds 21 of them, lines are 8 pixels apart.
constexpr int kCharAdvance = 6;
constexpr int kLastCharX = 121;
constexpr int kLineAdvance = 8;
constexpr int kLastCharY = 55;

// Bitmap layout: file header, information header, two palette entries.
constexpr std::size_t kBitmapHeaderBytes = 62;
constexpr std::size_t kBitmapFileBytes = kBitmapHeaderBytes + kImageBytes;  // 1086

void PutLittle16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLittle32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> BitmapHeader() {
  std::vector<std::uint8_t> header{'B', 'M'};
  PutLittle32(header, kBitmapFileBytes);
  PutLittle32(header, 0);                   // reserved
  PutLittle32(header, kBitmapHeaderBytes);  // pixel data offset
  PutLittle32(header, 40);                  // information header size
  PutLittle32(header, kDisplayWidth);
  PutLittle32(header, kDisplayHeight);      // positive: rows bottom first
  PutLittle16(header, 1);                   // planes
  PutLittle16(header, 1);                   // bits per pixel
  PutLittle32(header, 0);                   // no compression
  PutLittle32(header, kImageBytes);
  PutLittle32(header, 0);                   // horizontal resolution
  PutLittle32(header, 0);                   // vertical resolution
  PutLittle32(header, 0);                   // colours used
  PutLittle32(header, 0);                   // important colours
  for (std::uint8_t byte : {0x00, 0x00, 0x00, 0x00}) header.push_back(byte);  // colour 0 black
  for (std::uint8_t byte : {0xFF, 0xFF, 0xFF, 0x00}) header.push_back(byte);  // colour 1 white
  return header;
}

}  // namespace

std::string TPatcher::CmdDisplayAddr(const Command& command) {
  const std::int64_t position = StrictPosition(command.value);
  if (position >= target_->Size()) return FailWithLine("Position exceeds filesize! ");
  if (position < 0) return FailWithLine("Position below 0! ");
  display_addr_ = position;
  return " -> " + IntToHex(static_cast<std::uint32_t>(display_addr_), 8);
}

std::string TPatcher::CmdPrintString(const Command& command) {
  const int x = LenientNumber(Field(command, 1), -1);
  const int y = LenientNumber(Field(command, 2), -1);
  const std::string text = Field(command, 3);
  PrintString(x, y, text);
  return " -> " + text;
}

void TPatcher::PrintString(int x, int y, std::string_view text) {
  if (x < 0) {
    Fail("x < 0");
  } else if (x >= kDisplayWidth) {
    Fail("x > 127");
  } else if (y < 0) {
    Fail("y < 0");
  } else if (y >= kDisplayHeight) {
    Fail("y > 63");
  } else if (display_addr_ < 0) {
    Fail("FDisplayAddr undefined");
  }
  if (!IsBlank(error_text_)) return;
  // The display address outlives a target closed by a later TARGETFILE.
  RequireTarget();
  const std::int64_t position = target_->Position();
  try {
    for (char c : text) PrintChar(x, y, static_cast<std::uint8_t>(c));
  } catch (...) {
    target_->Seek(position);
    throw;
  }
  target_->Seek(position);
}

// Exclusive-ors the glyph into the 8x8 cell whose top left pixel is (x, y), so that
// the same character printed twice at the same place is erased. Each glyph row becomes
// a 16-bit display word over two neighbouring bytes, read and written high byte first
// when BIGENDIAN is on. Parts of the cell beyond the right or bottom edge of the image
// are left out: nothing outside the image is touched.
void TPatcher::PrintChar(int& x, int& y, std::uint8_t code) {
  const auto glyph = Glyph(code);
  const int column_byte = x / 8;
  const int shift = 8 - x % 8;
  const bool second_byte_inside = column_byte + 1 < kRowBytes;
  for (int r = 0; r < static_cast<int>(kGlyphBytes); ++r) {
    if (y + r >= kDisplayHeight) break;
    const std::uint16_t row_word = static_cast<std::uint16_t>(glyph[static_cast<std::size_t>(r)] << shift);
    if (row_word == 0) continue;
    const std::int64_t address = display_addr_ + kRowBytes * (y + r) + column_byte;
    std::array<std::uint8_t, 2> bytes{};
    const std::size_t count = second_byte_inside ? 2 : 1;
    target_->Seek(address);
    target_->ReadExact(std::span(bytes.data(), count));
    std::uint16_t word = big_endian_ ? static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1])
                                     : static_cast<std::uint16_t>(bytes[1] << 8 | bytes[0]);
    word ^= row_word;
    bytes[0] = static_cast<std::uint8_t>(big_endian_ ? word >> 8 : word);
    bytes[1] = static_cast<std::uint8_t>(big_endian_ ? word : word >> 8);
    target_->Seek(address);
    target_->Write(std::span(bytes.data(), count));
  }
  x += kCharAdvance;
  if (x > kLastCharX) {
    x = 0;
    y += kLineAdvance;
  }
  if (y > kLastCharY) y = 0;
}

// A blank name writes nothing (it would name the directory itself).
std::string TPatcher::CmdTestBitmap(const Command& command) {
  const std::string name = RemoveQuotes(command.value);
  const std::string path = directory_ + name;
  if (!IsBlank(name)) WriteTestBitmap(path);
  return std::string(kLineEnd) + " -> " + path;
}

// The bitmap stores the rows bottom first and every byte complemented, so that dark
// pixels get colour 0 (black). The image is read before the file is created: a failed
// read leaves no partial bitmap.
void TPatcher::WriteTestBitmap(const std::string& path) {
  if (IsBlank(path)) return;
  RequireTarget();
  std::vector<std::uint8_t> image(kImageBytes);
  target_->Seek(display_addr_);
  target_->ReadExact(image);
  std::vector<std::uint8_t> bitmap = BitmapHeader();
  for (int row = kDisplayHeight - 1; row >= 0; --row) {
    for (int i = 0; i < kRowBytes; ++i) {
      bitmap.push_back(static_cast<std::uint8_t>(~image[static_cast<std::size_t>(row * kRowBytes + i)]));
    }
  }
  TTargetFile file(FilePath(path), TTargetFile::Access::CreateReadWrite);
  file.Write(bitmap);
  file.Close();
}

}  // namespace ostrel
