#pragma once
// 32-bit words in the calculator's byte order (big-endian). Header-only.

#include <cstdint>

namespace ostrel {

inline std::uint32_t ReadBigEndianWord(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
         std::uint32_t{bytes[3]};
}

inline void WriteBigEndianWord(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace ostrel
