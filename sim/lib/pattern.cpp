#include "fxsim/simulator.h"

namespace fxsim {

// A xorshift32 stream: cheap, reproducible, and it covers every byte value (including
// the ones that need escaping on the wire).
std::vector<std::uint8_t> GeneratePattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = seed != 0 ? seed : 0x9860u;
  for (std::uint8_t& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

}  // namespace fxsim
