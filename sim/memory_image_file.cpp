#include "memory_image_file.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fxsim {

std::vector<std::uint8_t> ReadMemoryImageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) throw std::runtime_error(path + " is empty");
  return bytes;
}

}  // namespace fxsim
