#pragma once
// File-descriptor plumbing shared by the serial port and the USB byte-stream endpoint:
// an owning descriptor, bounded waits with poll(2), and a write that finishes a block.

#include <cstddef>
#include <cstdint>
#include <string>

struct stat;

namespace ostrel {

// How long a read of a silent channel waits for data before it reports "nothing": long
// enough that a polling caller does not spin a core, short enough that it stays responsive.
inline constexpr int kReadWaitMs = 10;

// Owns one file descriptor; -1 when empty.
class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : fd_(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Result of waiting for input.
enum class WaitResult { Readable, Silent, Closed };

// Waits up to timeout_ms for input. Closed: the peer hung up or the descriptor failed and
// nothing is left to read.
WaitResult WaitReadable(int fd, int timeout_ms);

// Sleeps for the read wait; what a dead channel does instead of returning at once, so that
// a caller polling it does not spin.
void IdleReadWait();

// Result of one read attempt.
struct ReadResult {
  std::size_t count = 0;  // bytes stored
  bool closed = false;    // end of stream or an error that will not go away
};

// Waits up to timeout_ms for input, then reads what is there (at most `capacity` bytes).
ReadResult ReadAvailable(int fd, std::uint8_t* destination, std::size_t capacity, int timeout_ms);

// Writes the whole block on a non-blocking descriptor, waiting for room as needed. Gives up
// when no byte could be written for stall_ms or on an error; returns the bytes written.
// `socket` sends with MSG_NOSIGNAL so that a vanished peer is an error, not a signal.
std::uint32_t WriteAll(int fd, const std::uint8_t* data, std::uint32_t length, int stall_ms, bool socket,
                       int* error = nullptr);

// True for the node of a terminal device (a pseudo-terminal or a device of the tty class),
// told from its device numbers without opening it. Where sysfs is not there to ask, any
// character device passes.
bool IsTerminalNode(const struct stat& status);

// The operating system's text for an errno value (strerror).
std::string ErrnoText(int error);

}  // namespace ostrel
