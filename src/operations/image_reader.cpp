#include "operations/image_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "base/small_file.h"
#include "base/text.h"

namespace ostrel {

ImageReader::ImageReader(const std::string& path) : path_(path) {
  const TRegularFileOpening opening = OpenRegularFileForReading(path);
  if (!opening.kind.empty()) throw IoError("Cannot read " + path + ": not a regular file");
  if (opening.fd < 0) throw IoError("Cannot open " + path + ": " + std::strerror(opening.error));
  fd_ = opening.fd;
}

void ImageReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint64_t ImageReader::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw IoError("Cannot read " + path_ + ": " + std::strerror(errno));
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t ImageReader::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, data + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IoError("Cannot read " + path_ + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void ImageReader::ReadExact(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  if (ReadAt(offset, data, count) != count) {
    throw IoError("Cannot read " + path_ + ": unexpected end of file at " + IntToHex(offset, 8));
  }
}

}  // namespace ostrel
