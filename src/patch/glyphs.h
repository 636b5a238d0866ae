#pragma once
// The font of the display image: 256 glyphs of 8 bytes, glyph c at offset 8*c. Each byte
// is one pixel row, top row first, most significant bit leftmost. The shapes are 5x7 in
// an 8x8 cell: bits 6 to 2 of rows 0 to 6, so the last row and the outer columns stay
// empty and characters printed 6 pixels apart keep a blank column between them.
//
// Codes 0x21 to 0x7E carry the ASCII shapes, 0x20 is blank, and 36 further codes carry
// symbols (arrows, triangles, relations, mathematical signs, a box at 0xD8); every other
// code is empty.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel {

inline constexpr std::size_t kGlyphBytes = 8;

// The whole table, 2048 bytes.
const std::array<std::uint8_t, 256 * kGlyphBytes>& FontTable();

// The 8 rows of one glyph.
std::span<const std::uint8_t, kGlyphBytes> Glyph(std::uint8_t code);

}  // namespace ostrel
