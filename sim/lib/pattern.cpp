#include <bit>
#include <cstring>

#include "fxsim/simulator.h"

namespace fxsim {

// A xorshift32 stream, four bytes per step (least significant first): cheap, reproducible,
// and it covers every byte value (including the ones that need escaping on the wire).
std::vector<std::uint8_t> GeneratePattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = seed != 0 ? seed : 0x9860u;
  const auto step = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 4 <= size; i += 4) {
      const std::uint32_t word = step();
      std::memcpy(bytes.data() + i, &word, 4);
    }
  }
  for (; i < size; i += 4) {
    const std::uint32_t word = step();
    for (std::size_t k = 0; k < 4 && i + k < size; ++k) {
      bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
  }
  return bytes;
}

}  // namespace fxsim
