#pragma once
// Conversion of 92x64 Windows bitmaps into the calculator's colour picture (CGI): 92x64
// pixels, RGB565 stored high byte first, rows top to bottom, no header (11776 bytes).
//
// A spec is the source path, optionally followed by ";" and the target path. Without a
// target (the second field blank) the target is the source's file name in upper case with
// every ".BMP" replaced by ".CGI", in the source's folder. Paths written with "\" or a
// drive letter are mapped to this file system.
//
// The source is read and its header tested before the target is touched: a missing or
// rejected source creates nothing and leaves an existing target as it was, and the
// target is replaced in one step, so it is either the old file or the complete picture.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

inline constexpr int kCgiWidth = 92;
inline constexpr int kCgiHeight = 64;
inline constexpr std::size_t kCgiSize = kCgiWidth * kCgiHeight * 2;  // 11776

// The two sizes of bitmap that convert.
struct TBitmapForm {
  std::uint32_t file_size;    // header field at offset 2
  std::uint32_t header_size;  // bytes before the pixels: headers and colour table
  std::uint32_t image_size;   // header field at offset 34
  std::uint32_t row_size;     // bytes of one stored row
  std::uint32_t pixel_size;   // bytes per pixel: 1 (palette index) or 3 (blue, green, red)
};
inline constexpr TBitmapForm kBitmap8{6966, 1078, 5888, 92, 1};
inline constexpr TBitmapForm kBitmap24{17720, 54, 17666, 276, 3};

// The parts of a spec.
struct TCgiSpec {
  std::string source;  // as written
  std::string target;  // as written, or derived by the name rule
};
TCgiSpec ParseCgiSpec(std::string_view spec);

// The RGB565 value of an 8-bit colour.
std::uint16_t Rgb565(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// True when a CGI picture was written. False when the source does not exist, when its
// header is not that of the form, or when the target would be the source itself; nothing
// is written then. Read and write failures (also a source shorter than its header says)
// raise ostrel::IoError.
bool ConvertBmp8ToCgi(std::string_view spec);
bool ConvertBmp24ToCgi(std::string_view spec);

// The 8-bit conversion, then, when it wrote nothing, the 24-bit one: what a project's
// bitmap step and the bmp2cgi command run.
bool ConvertBmpToCgi(std::string_view spec);

}  // namespace ostrel
