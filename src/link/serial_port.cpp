#include "link/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

#include "link/line_settings.h"

namespace ostrel {

namespace {

// The scratch buffer is never used for I/O; a bound keeps a wild BUFFERSIZE harmless.
constexpr std::int32_t kMaxScratchBuffer = 1 << 20;
// How long a write may make no progress before it gives up, unless the string sets write
// time-outs.
constexpr int kDefaultWriteStallMs = 5000;
// While a packet trickles in, a refill waits for this many bytes of line time at most (a
// UART's receive FIFO), and never longer than kMaxBurstWait: a paced transfer wakes the
// reader once per burst, not per byte, and a slow line is not waited on for long.
constexpr std::size_t kLineBurst = 16;
constexpr auto kMaxBurstWait = std::chrono::milliseconds(5);

int ClampMs(std::uint64_t ms) { return static_cast<int>(std::min<std::uint64_t>(ms, INT_MAX)); }

}  // namespace

TUniqueFd OpenSerialNode(const std::string& path, std::string& why) {
  TUniqueFd port(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!port.Valid()) {
    const int error = errno;
    why = " cannot be opened: " + ErrnoText(error);
    if (error == EACCES || error == EPERM) why += " (is the user in the group that owns the port, e.g. dialout?)";
    if (error == ENOENT) why += " (`ostrel devices` lists the serial ports)";
    return {};
  }
  termios current{};
  if (::tcgetattr(port.Get(), &current) != 0) {
    why = " is not a serial port.";
    return {};
  }
  // No sharing: a port that another program holds is not taken over.
  if (::flock(port.Get(), LOCK_EX | LOCK_NB) != 0) {
    why = " is in use by another program.";
    return {};
  }
  return port;
}

tSio::tSio(const std::string& connection) {
  TSerialSettings settings = ParseSerialSettings(connection, names_);
  device_name_ = settings.name;
  Open(settings);
  if (settings.buffer_size > 0) {
    scratch_buffer_.resize(static_cast<std::size_t>(std::min(settings.buffer_size, kMaxScratchBuffer)));
  }
}

tSio::~tSio() {
  if (handle_.Valid()) ::ioctl(handle_.Get(), TIOCNXCL);
}

void tSio::Open(const TSerialSettings& settings) {
  const std::string prefix = "Serial port " + (device_name_.empty() ? std::string("(no name)") : device_name_);
  if (device_name_.empty()) {
    diagnostics_.Add(prefix + ": no port name given.");
    return;
  }
  // Only a terminal device is opened: a plain file or another kind of device never sees
  // the bytes meant for a calculator.
  struct stat status {};
  if (::stat(device_name_.c_str(), &status) == 0 && !IsTerminalNode(status)) {
    diagnostics_.Add(prefix + " is not a serial port.");
    return;
  }
  std::string why;
  TUniqueFd port = OpenSerialNode(device_name_, why);
  if (!port.Valid()) {
    diagnostics_.Add(prefix + why);
    return;
  }
  ::ioctl(port.Get(), TIOCEXCL);
  handle_ = std::move(port);

  if (settings.file_flags & kFileFlagOverlapped) {
    diagnostics_.Add(prefix + ": overlapped I/O is not used here; reads and writes complete directly.");
  }
  if (!ApplyLineSettings(settings)) {
    ::ioctl(handle_.Get(), TIOCNXCL);
    handle_.Reset();
    return;
  }

  // With the default time-outs (interval MAXDWORD, totals 0) a read returns what has
  // arrived; it waits the short read wait so that a polling caller does not spin. Read
  // totals, when set, are the wait for one byte.
  std::uint64_t read_total =
      std::uint64_t{settings.read_total_timeout_multiplier} + settings.read_total_timeout_constant;
  read_wait_ms_ = read_total > 0 ? ClampMs(read_total) : kReadWaitMs;
  write_stall_ms_per_byte_ = ClampMs(settings.write_total_timeout_multiplier);
  write_stall_ms_constant_ = ClampMs(settings.write_total_timeout_constant);
  if (settings.baud_rate > 0) byte_time_ = std::chrono::nanoseconds(10'000'000'000LL / settings.baud_rate);
}

bool tSio::ApplyLineSettings(const TSerialSettings& settings) {
  const int fd = handle_.Get();
  const std::string prefix = "Serial port " + device_name_;
  termios current{};
  ::tcgetattr(fd, &current);
  int modem = 0;
  std::optional<int> modem_lines;
  if (::ioctl(fd, TIOCMGET, &modem) == 0) modem_lines = modem;

  std::uint32_t flags = settings.ApplyDcbFlags(DcbFlagsOfModemLines(modem_lines));
  TLineSetup setup = MakeLineSetup(current, flags, settings);
  if (setup.error) {
    diagnostics_.Add(prefix + ": " + *setup.error + "; the port is not used.");
    return false;
  }
  for (const std::string& note : setup.notes) diagnostics_.Add(prefix + ": " + note + ".");
  if (::tcsetattr(fd, TCSANOW, &setup.line) != 0) {
    diagnostics_.Add(prefix + ": the line settings were refused: " + ErrnoText(errno));
  }
  // A freshly opened port starts with an empty input queue, as a real line that was closed
  // has one: nothing left over from an earlier session reaches this one.
  ::tcflush(fd, TCIFLUSH);
  // Modem lines: a pseudo-terminal has none, which is not an error.
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  ::ioctl(fd, setup.raise_dtr ? TIOCMBIS : TIOCMBIC, &dtr);
  ::ioctl(fd, setup.raise_rts ? TIOCMBIS : TIOCMBIC, &rts);
  return true;
}

void tSio::MarkLost(const std::string& reason) {
  if (lost_) return;
  lost_ = true;
  diagnostics_.Add("Serial port " + device_name_ + ": the line is gone (" + reason + "); it stays silent.");
}

std::uint32_t tSio::Write(const std::uint8_t* data, std::uint32_t length) {
  if (!handle_.Valid() || lost_ || length == 0) return 0;
  std::uint64_t stall = static_cast<std::uint64_t>(write_stall_ms_per_byte_) * length +
                        static_cast<std::uint64_t>(write_stall_ms_constant_);
  int stall_ms = stall > 0 ? ClampMs(stall) : kDefaultWriteStallMs;
  int error = 0;
  std::uint32_t written = WriteAll(handle_.Get(), data, length, stall_ms, /*socket=*/false, &error);
  if (error == EIO || error == ENXIO || error == ENODEV || error == EPIPE) MarkLost(ErrnoText(error));
  return written;
}

std::size_t tSio::ReadBytes(std::uint8_t* destination, std::size_t capacity) {
  if (received_begin_ == received_end_) {
    received_begin_ = received_end_ = 0;
    if (!handle_.Valid() || lost_) {
      IdleReadWait();
      return 0;
    }
    if (trickling_) AwaitLineBurst(capacity);
    ReadResult result = ReadAvailable(handle_.Get(), received_.data(), received_.size(), read_wait_ms_);
    const auto now = std::chrono::steady_clock::now();
    trickling_ = result.count > 0 && result.count < capacity && AtLineRate(result.count, now);
    last_refill_ = now;
    if (result.closed) {
      MarkLost("hung up");
      IdleReadWait();
      return 0;
    }
    received_end_ = result.count;
  }
  const std::size_t count = std::min(capacity, received_end_ - received_begin_);
  std::copy_n(received_.begin() + static_cast<std::ptrdiff_t>(received_begin_), count, destination);
  received_begin_ += count;
  return count;
}

std::size_t tSio::ReadPending(std::uint8_t* destination, std::size_t capacity) {
  if (received_begin_ == received_end_) {
    received_begin_ = received_end_ = 0;
    if (!handle_.Valid() || lost_) return 0;
    const ReadResult result = ReadAvailable(handle_.Get(), received_.data(), received_.size(), 0);
    if (result.closed) {
      MarkLost("hung up");
      return 0;
    }
    received_end_ = result.count;
  }
  const std::size_t count = std::min(capacity, received_end_ - received_begin_);
  std::copy_n(received_.begin() + static_cast<std::ptrdiff_t>(received_begin_), count, destination);
  received_begin_ += count;
  return count;
}

// Bytes of a packet come one line time apart: all but the last of the next burst are on
// their way for that long; the read's own wait then ends with the last one's arrival.
void tSio::AwaitLineBurst(std::size_t wanted) const {
  const std::size_t burst = std::min(wanted, kLineBurst);
  if (burst > 1 && byte_time_.count() > 0) {
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(byte_time_ * (burst - 1), kMaxBurstWait));
  }
}

// True when `count` bytes are no more than the line carries between the last refill and
// `now` (with a byte of slack either side): the sender is the line, not a faster source
// that has more at once.
bool tSio::AtLineRate(std::size_t count, std::chrono::steady_clock::time_point now) const {
  if (byte_time_.count() <= 0) return false;
  const auto line_bytes = static_cast<std::size_t>((now - last_refill_) / byte_time_);
  return count <= line_bytes + 2;
}

}  // namespace ostrel
