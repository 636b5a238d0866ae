#include "patch/target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/error.h"

namespace ostrel {

namespace {

int OpenFlags(TTargetFile::Access access) {
  switch (access) {
    case TTargetFile::Access::ReadOnly: return O_RDONLY;
    case TTargetFile::Access::ReadWrite: return O_RDWR;
    case TTargetFile::Access::CreateReadWrite: return O_RDWR | O_CREAT | O_TRUNC;
    case TTargetFile::Access::CreateNewReadWrite: return O_RDWR | O_CREAT | O_EXCL;
  }
  return O_RDONLY;
}

}  // namespace

TTargetFile::TTargetFile(const std::string& path, Access access, std::uint32_t create_mode) : path_(path) {
  fd_ = ::open(path.c_str(), OpenFlags(access) | O_CLOEXEC, static_cast<mode_t>(create_mode));
  if (fd_ < 0) Fail("Cannot open");
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    errno = EISDIR;
    Fail("Cannot open");
  }
}

TTargetFile::~TTargetFile() {
  if (fd_ >= 0) ::close(fd_);
}

void TTargetFile::Fail(const std::string& what) const {
  const int error = errno;
  throw IoError(what + " " + path_ + ": " + std::strerror(error != 0 ? error : EIO));
}

std::int64_t TTargetFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("Cannot read the size of");
  return static_cast<std::int64_t>(st.st_size);
}

void TTargetFile::Seek(std::int64_t position) {
  if (position < 0) {
    errno = EINVAL;
    Fail("Cannot seek to a negative position in");
  }
  position_ = position;
}

void TTargetFile::Write(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(position_));
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot write");
    }
    if (written == 0) {
      errno = ENOSPC;
      Fail("Cannot write");
    }
    done += static_cast<std::size_t>(written);
    position_ += written;
  }
}

void TTargetFile::WriteRepeated(std::uint8_t value, std::int64_t count) {
  if (count <= 0) return;
  constexpr std::int64_t kBlock = 64 * 1024;
  const std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(count, kBlock)), value);
  while (count > 0) {
    const std::int64_t now = std::min(count, kBlock);
    Write(std::span(block.data(), static_cast<std::size_t>(now)));
    count -= now;
  }
}

std::size_t TTargetFile::Read(std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = ::pread(fd_, buffer.data() + done, buffer.size() - done,
                                static_cast<off_t>(position_));
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail("Cannot read");
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
    position_ += got;
  }
  return done;
}

void TTargetFile::ReadExact(std::span<std::uint8_t> buffer) {
  const std::int64_t start = position_;
  if (Read(buffer) != buffer.size()) {
    throw IoError("Read beyond end of file " + path_ + " (" + std::to_string(buffer.size()) +
                  " bytes at offset " + std::to_string(start) + ")");
  }
}

void TTargetFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("Cannot close");
}

}  // namespace ostrel
