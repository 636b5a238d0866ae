#include "link/fd_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace ostrel {

void TUniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

WaitResult WaitReadable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return WaitResult::Closed;
  if (ready == 0) return WaitResult::Silent;
  if (entry.revents & POLLIN) return WaitResult::Readable;
  return WaitResult::Closed;  // POLLHUP, POLLERR or POLLNVAL without data
}

void IdleReadWait() { std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs)); }

ReadResult ReadAvailable(int fd, std::uint8_t* destination, std::size_t capacity, int timeout_ms) {
  ReadResult result;
  WaitResult wait = WaitReadable(fd, timeout_ms);
  if (wait == WaitResult::Silent) return result;
  if (wait == WaitResult::Closed) {
    result.closed = true;
    return result;
  }
  ssize_t got;
  do {
    got = ::read(fd, destination, capacity);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    result.count = static_cast<std::size_t>(got);
  } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
    result.closed = true;
  }
  return result;
}

std::uint32_t WriteAll(int fd, const std::uint8_t* data, std::uint32_t length, int stall_ms, bool socket,
                       int* error) {
  using Clock = std::chrono::steady_clock;
  if (error) *error = 0;
  std::uint32_t written = 0;
  auto last_progress = Clock::now();
  while (written < length) {
    ssize_t put = socket ? ::send(fd, data + written, length - written, MSG_NOSIGNAL)
                         : ::write(fd, data + written, length - written);
    if (put > 0) {
      written += static_cast<std::uint32_t>(put);
      last_progress = Clock::now();
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (error) *error = errno;
      break;
    }
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_progress).count();
    if (waited >= stall_ms) {
      if (error) *error = ETIMEDOUT;
      break;
    }
    pollfd entry{fd, POLLOUT, 0};
    int ready = ::poll(&entry, 1, static_cast<int>(stall_ms - waited));
    if (ready < 0 && errno != EINTR) {
      if (error) *error = errno;
      break;
    }
    if (ready > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(entry.revents & POLLOUT)) {
      if (error) *error = EPIPE;
      break;
    }
  }
  return written;
}

bool IsTerminalNode(const struct stat& status) {
  if (!S_ISCHR(status.st_mode)) return false;
  const unsigned device_major = major(status.st_rdev);
  // Pseudo-terminal slaves have majors 136 to 143 and no entry in sysfs.
  if (device_major >= 136 && device_major <= 143) return true;
  std::error_code error;
  if (!std::filesystem::is_directory("/sys/dev/char", error)) return true;
  std::filesystem::path subsystem = std::filesystem::read_symlink(
      "/sys/dev/char/" + std::to_string(device_major) + ":" + std::to_string(minor(status.st_rdev)) + "/subsystem",
      error);
  return !error && subsystem.filename() == "tty";
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace ostrel
