#include "link/stream_endpoint.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/diagnostic_lines.h"
#include "link/fd_io.h"

namespace ostrel {

namespace {

constexpr int kStreamWriteStallMs = 5000;

class TStreamChannel : public TBlockChannel {
 public:
  TStreamChannel(TUniqueFd fd, std::string path, bool socket)
      : fd_(std::move(fd)), path_(std::move(path)), socket_(socket) {}

  std::size_t ReadBlock(std::uint8_t* destination, std::size_t capacity) override {
    if (lost_) {
      IdleReadWait();
      return 0;
    }
    ReadResult result = ReadAvailable(fd_.Get(), destination, capacity, kReadWaitMs);
    if (result.closed) {
      MarkLost("closed by the other side");
      IdleReadWait();
    }
    return result.count;
  }

  std::size_t ReadPendingBlock(std::uint8_t* destination, std::size_t capacity) override {
    if (lost_) return 0;
    ReadResult result = ReadAvailable(fd_.Get(), destination, capacity, 0);
    if (result.closed) MarkLost("closed by the other side");
    return result.count;
  }

  bool Gone() const override { return lost_; }

  std::uint32_t WriteBlock(const std::uint8_t* data, std::uint32_t length) override {
    if (lost_ || length == 0) return 0;
    int error = 0;
    std::uint32_t written = WriteAll(fd_.Get(), data, length, kStreamWriteStallMs, socket_, &error);
    if (error != 0 && error != ETIMEDOUT) MarkLost(ErrnoText(error));
    return written;
  }

  int Handle() const override { return fd_.Get(); }
  std::vector<std::string> TakeDiagnostics() override { return diagnostics_.Take(); }

 private:
  void MarkLost(const std::string& reason) {
    if (lost_) return;
    lost_ = true;
    diagnostics_.Add("USB device " + path_ + " is gone (" + reason + "); the line stays silent.");
  }

  TUniqueFd fd_;
  std::string path_;
  bool socket_;
  bool lost_ = false;
  TDiagnosticLines diagnostics_;
};

// Whether some program holds a socket bound at `path` (listening or not: a calculator
// between two sessions refuses connections for a moment). Read from the kernel's table of
// Unix-domain sockets, which names each bound socket by the path given to bind: an
// absolute path must be this one; a relative path (bound in a folder we do not know) counts
// when its file name is this one's. True when the table cannot be read, so that an unknown
// case keeps being waited for.
bool SocketPathBound(const std::string& path) {
  std::ifstream table("/proc/net/unix");
  if (!table) return true;
  std::error_code error;
  const std::filesystem::path given(path);
  const std::string absolute = std::filesystem::absolute(given, error).lexically_normal().string();
  const std::string name = given.filename().string();
  std::string line;
  std::getline(table, line);  // the column titles
  while (std::getline(table, line)) {
    const std::size_t space = line.find_last_of(' ');
    if (space == std::string::npos || space + 1 >= line.size()) continue;
    const std::string bound = line.substr(space + 1);
    if (bound == path || bound == absolute) return true;
    if (bound[0] != '/' && bound[0] != '@' && std::filesystem::path(bound).filename().string() == name) return true;
  }
  return false;
}

TUsbOpenResult Opened(const std::string& path, TUniqueFd fd, bool socket) {
  TUsbOpenResult result;
  result.outcome = OpenOutcome::Opened;
  result.device_path = path;
  result.channel = std::make_unique<TStreamChannel>(std::move(fd), path, socket);
  return result;
}

}  // namespace

TUsbOpenResult ConnectStreamSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return OpenErrorResult(path, ENAMETOOLONG);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  TUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return OpenErrorResult(path, errno);
  int status;
  do {
    status = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (status != 0 && errno == EINTR);
  if (status != 0) {
    const int error = errno;
    if (error == ECONNREFUSED && !SocketPathBound(path)) {
      return UnusableResult(path, "USB device " + path +
                                      " is a socket that no program serves (left behind by a simulator that "
                                      "ended): start the simulator again, or remove the file.");
    }
    return OpenErrorResult(path, error);
  }
  return Opened(path, std::move(fd), /*socket=*/true);
}

TUsbOpenResult OpenStreamDevice(const std::string& path, const struct stat& status) {
  if (!IsTerminalNode(status)) {
    return UnusableResult(path, "USB device " + path +
                                    " is not opened: it is neither a USB device node nor a terminal. Name the "
                                    "calculator's node (ostrel devices lists it), or leave the device out to search "
                                    "by the calculator's ids.");
  }
  TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return OpenErrorResult(path, errno);
  termios line{};
  if (::tcgetattr(fd.Get(), &line) == 0) {
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    ::tcsetattr(fd.Get(), TCSANOW, &line);
  }
  return Opened(path, std::move(fd), /*socket=*/false);
}

}  // namespace ostrel
