#pragma once
// Windows bitmaps built in memory for the conversion tests: a 14-byte file header, a
// 40-byte information header, an optional colour table and the pixel rows, stored bottom
// row first.

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::testing {

struct BitmapLayout {
  int width = 92;
  int height = 64;
  int bits = 24;                 // 8 (with a 256-entry colour table) or 24
  std::uint32_t extra_bytes = 2;  // bytes after the rows, counted in the image size
};

inline void PutLittleEndian32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

inline std::size_t BitmapRowSize(const BitmapLayout& layout) {
  return static_cast<std::size_t>(layout.width) * (layout.bits / 8);
}

inline std::size_t BitmapPixelOffset(const BitmapLayout& layout) { return layout.bits == 8 ? 1078 : 54; }

// A bitmap of the layout with every pixel byte `fill`; the header fields say what the
// layout gives (file size, height, image size).
inline std::string MakeBitmap(const BitmapLayout& layout, char fill = 0) {
  const std::size_t image = BitmapRowSize(layout) * layout.height + layout.extra_bytes;
  std::string bytes(BitmapPixelOffset(layout) + image, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLittleEndian32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
  PutLittleEndian32(bytes, 10, static_cast<std::uint32_t>(BitmapPixelOffset(layout)));
  PutLittleEndian32(bytes, 14, 40);
  PutLittleEndian32(bytes, 18, static_cast<std::uint32_t>(layout.width));
  PutLittleEndian32(bytes, 22, static_cast<std::uint32_t>(layout.height));
  bytes[26] = 1;
  bytes[28] = static_cast<char>(layout.bits);
  PutLittleEndian32(bytes, 34, static_cast<std::uint32_t>(image));
  for (std::size_t i = BitmapPixelOffset(layout); i < bytes.size() - layout.extra_bytes; ++i) bytes[i] = fill;
  return bytes;
}

// Sets colour-table entry `index` of an 8-bit bitmap.
inline void SetPaletteEntry(std::string& bitmap, int index, std::uint8_t red, std::uint8_t green,
                            std::uint8_t blue) {
  const std::size_t at = 54 + 4 * static_cast<std::size_t>(index);
  bitmap[at] = static_cast<char>(blue);
  bitmap[at + 1] = static_cast<char>(green);
  bitmap[at + 2] = static_cast<char>(red);
}

// Sets a pixel of a 24-bit bitmap; row 0 is the first stored row (the picture's bottom).
inline void SetStoredPixel24(std::string& bitmap, const BitmapLayout& layout, int stored_row, int column,
                             std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const std::size_t at = BitmapPixelOffset(layout) + stored_row * BitmapRowSize(layout) + 3 * column;
  bitmap[at] = static_cast<char>(blue);
  bitmap[at + 1] = static_cast<char>(green);
  bitmap[at + 2] = static_cast<char>(red);
}

}  // namespace ostrel::testing
