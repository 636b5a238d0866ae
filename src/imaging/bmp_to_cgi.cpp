#include "imaging/bmp_to_cgi.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/error.h"
#include "base/path_map.h"
#include "base/text.h"
#include "env/ini_file.h"

namespace ostrel {

namespace {

constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kHeightOffset = 22;
constexpr std::size_t kImageSizeOffset = 34;

std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

bool HeaderMatches(const std::vector<std::uint8_t>& header, const TBitmapForm& form) {
  return LittleEndian32(header, kFileSizeOffset) == form.file_size &&
         LittleEndian32(header, kHeightOffset) == static_cast<std::uint32_t>(kCgiHeight) &&
         LittleEndian32(header, kImageSizeOffset) == form.image_size;
}

// Reads exactly `count` bytes; fewer raise IoError.
std::vector<std::uint8_t> ReadExactly(std::ifstream& in, std::size_t count, const std::string& path) {
  std::vector<std::uint8_t> bytes(count);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  if (static_cast<std::size_t>(in.gcount()) != count) {
    throw IoError("Cannot read the bitmap " + path + ": the file ends before its pixels do");
  }
  return bytes;
}

// The colour (blue, green, red) of one pixel of a stored row.
struct TColour {
  std::uint8_t blue, green, red;
};

TColour PixelColour(const TBitmapForm& form, const std::vector<std::uint8_t>& header,
                    const std::vector<std::uint8_t>& pixels, std::size_t row, std::size_t column) {
  const std::size_t at = row * form.row_size + column * form.pixel_size;
  if (form.pixel_size == 1) {
    // The colour table follows the two headers (54 bytes): blue, green, red, reserved.
    const std::size_t entry = 54 + 4 * static_cast<std::size_t>(pixels[at]);
    return {header[entry], header[entry + 1], header[entry + 2]};
  }
  return {pixels[at], pixels[at + 1], pixels[at + 2]};
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec);
}

bool Convert(std::string_view spec, const TBitmapForm& form) {
  const TCgiSpec parts = ParseCgiSpec(spec);
  const std::string source = MapScriptPath(parts.source);
  const std::string target = MapScriptPath(parts.target);
  std::error_code ec;
  if (IsBlank(parts.source) || !std::filesystem::is_regular_file(source, ec)) return false;
  if (SameFile(source, target)) return false;

  std::ifstream in(source, std::ios::binary);
  if (!in) throw IoError("Cannot open the bitmap " + source + ": " + std::strerror(errno));
  // A file shorter than the form's headers is not of the form.
  std::vector<std::uint8_t> header(form.header_size);
  in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
  if (static_cast<std::size_t>(in.gcount()) != header.size() || !HeaderMatches(header, form)) return false;
  const std::vector<std::uint8_t> pixels =
      ReadExactly(in, static_cast<std::size_t>(form.row_size) * kCgiHeight, source);

  std::string picture(kCgiSize, '\0');
  for (std::size_t row = 0; row < static_cast<std::size_t>(kCgiHeight); ++row) {
    // Stored rows run bottom to top; the picture's rows top to bottom.
    const std::size_t out_row = kCgiHeight - 1 - row;
    for (std::size_t column = 0; column < static_cast<std::size_t>(kCgiWidth); ++column) {
      const TColour colour = PixelColour(form, header, pixels, row, column);
      const std::uint16_t value = Rgb565(colour.red, colour.green, colour.blue);
      const std::size_t at = 2 * (out_row * kCgiWidth + column);
      picture[at] = static_cast<char>(value >> 8);
      picture[at + 1] = static_cast<char>(value & 0xFF);
    }
  }
  ReplaceFileContent(target, picture);
  return true;
}

}  // namespace

TCgiSpec ParseCgiSpec(std::string_view spec) {
  TCgiSpec parts;
  parts.source = GetToken(spec, 1, ";");
  parts.target = GetToken(spec, 2, ";");
  if (!IsBlank(parts.target)) return parts;
  // The source's folder as written, its name in upper case with ".BMP" turned into ".CGI".
  const std::size_t slash = parts.source.find_last_of("/\\");
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::string folder = parts.source.substr(0, name_start);
  const std::string name = parts.source.substr(name_start);
  parts.target = folder + ReplaceAll(UpperCase(name), ".BMP", ".CGI");
  return parts;
}

std::uint16_t Rgb565(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3));
}

bool ConvertBmp8ToCgi(std::string_view spec) { return Convert(spec, kBitmap8); }

bool ConvertBmp24ToCgi(std::string_view spec) { return Convert(spec, kBitmap24); }

bool ConvertBmpToCgi(std::string_view spec) { return ConvertBmp8ToCgi(spec) || ConvertBmp24ToCgi(spec); }

}  // namespace ostrel
