#pragma once
// Reading the flash or RAM contents a simulator program is started with.

#include <cstdint>
#include <string>
#include <vector>

namespace fxsim {

// The whole file at `path`. Throws std::runtime_error when it cannot be opened or is empty.
std::vector<std::uint8_t> ReadMemoryImageFile(const std::string& path);

}  // namespace fxsim
