#pragma once
// A flash image file open for reading only (a regular file; a FIFO or a device at the
// path is refused without blocking), read at given offsets; closed on every path. Every
// failure is an IoError naming the file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrel {

class ImageReader {
 public:
  explicit ImageReader(const std::string& path);
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;
  ~ImageReader() { Close(); }

  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  std::uint64_t Size() const;
  // Up to `count` bytes at `offset`; fewer only where the file ends.
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count);
  // Exactly `count` bytes; a file that ends first (it shrank while being read) is an error.
  void ReadExact(std::uint64_t offset, std::uint8_t* data, std::size_t count);

  template <std::size_t N>
  std::array<std::uint8_t, N> Read(std::uint64_t offset) {
    std::array<std::uint8_t, N> bytes{};
    ReadExact(offset, bytes.data(), N);
    return bytes;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace ostrel
