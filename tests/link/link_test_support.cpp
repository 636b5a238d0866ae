#include "link_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace ostrel::testing {

namespace {

constexpr int kGenerousWaitMs = 10000;

void WriteFully(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        pollfd entry{fd, POLLOUT, 0};
        ::poll(&entry, 1, 100);
        continue;
      }
      throw std::runtime_error(std::string("test peer write failed: ") + std::strerror(errno));
    }
    done += static_cast<std::size_t>(put);
  }
}

std::vector<std::uint8_t> ReadCount(int fd, std::size_t count) {
  std::vector<std::uint8_t> bytes;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousWaitMs);
  while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 50) <= 0) continue;
    std::uint8_t chunk[4096];
    ssize_t got = ::read(fd, chunk, std::min(sizeof(chunk), count - bytes.size()));
    if (got <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

// CPU time the calling thread has used, in microseconds.
std::int64_t ThreadCpuMicros() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

TPtyPair::TPtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal available");
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof(name)) != 0) throw std::runtime_error("ptsname failed");
  slave_path_ = name;
  termios line{};
  ::tcgetattr(master_, &line);
  ::cfmakeraw(&line);
  ::tcsetattr(master_, TCSANOW, &line);
}

TPtyPair::~TPtyPair() { CloseMaster(); }

termios TPtyPair::LineSettings() const {
  termios line{};
  ::tcgetattr(master_, &line);
  return line;
}

void TPtyPair::Send(const std::vector<std::uint8_t>& bytes) const { WriteFully(master_, bytes); }

std::vector<std::uint8_t> TPtyPair::Receive(std::size_t count) const { return ReadCount(master_, count); }

void TPtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

TSocketEndpoint::TSocketEndpoint(Mode mode) {
  path_ = folder_.File("calculator.sock");
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    throw std::runtime_error("bind failed");
  }
  if (mode == Mode::Listening && ::listen(listener_, 4) != 0) throw std::runtime_error("listen failed");
}

TSocketEndpoint::~TSocketEndpoint() {
  CloseConnection();
  if (listener_ >= 0) ::close(listener_);
}

bool TSocketEndpoint::Accept() {
  pollfd entry{listener_, POLLIN, 0};
  if (::poll(&entry, 1, kGenerousWaitMs) <= 0) return false;
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return connection_ >= 0;
}

void TSocketEndpoint::Send(const std::vector<std::uint8_t>& bytes) const { WriteFully(connection_, bytes); }

std::vector<std::uint8_t> TSocketEndpoint::Receive(std::size_t count) const { return ReadCount(connection_, count); }

void TSocketEndpoint::CloseConnection() {
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const auto& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

TReadCost MeasureReads(TPort& port, int reads) {
  TReadCost cost;
  const auto wall_start = std::chrono::steady_clock::now();
  const std::int64_t cpu_start = ThreadCpuMicros();
  for (int i = 0; i < reads; ++i) {
    std::uint8_t byte = 0;
    cost.bytes += port.ReadByte(byte);
  }
  cost.cpu_us = ThreadCpuMicros() - cpu_start;
  cost.wall_us =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - wall_start).count();
  return cost;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

}  // namespace ostrel::testing
