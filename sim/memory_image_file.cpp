#include "memory_image_file.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fxsim {

namespace {

// Far more than any calculator's memory: a larger file is a wrong name, not an image.
constexpr std::uintmax_t kMaxImageSize = 64u << 20;

}  // namespace

std::vector<std::uint8_t> ReadMemoryImageFile(const std::string& path) {
  // Looked at before it is opened: a FIFO would wait for a writer, a device such as
  // /dev/zero never ends, and a huge sparse file would fill the memory.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) throw std::runtime_error("cannot open " + path + ": it does not exist");
  if (!S_ISREG(status.st_mode)) throw std::runtime_error(path + " is not a regular file: name a memory image file");
  if (static_cast<std::uintmax_t>(status.st_size) > kMaxImageSize) {
    throw std::runtime_error(path + " is larger than 64 MiB, more than any calculator's memory: name a memory image file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) throw std::runtime_error(path + " is empty");
  return bytes;
}

}  // namespace fxsim
