#include "test_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fxsim::testing {

namespace {

std::string Hex2(unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

std::optional<unsigned> HexValue(const Bytes& bytes, std::size_t offset, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = offset; i < offset + count; ++i) {
    const char c = static_cast<char>(bytes[i]);
    const char* digits = "0123456789ABCDEF";
    const char* at = std::strchr(digits, c);
    if (at == nullptr || c == '\0') return std::nullopt;
    value = value * 16 + static_cast<unsigned>(at - digits);
  }
  return value;
}

speed_t Speed(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 115200: return B115200;
    default: throw std::invalid_argument("speed");
  }
}

}  // namespace

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string HexDump(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += (text.empty() ? "" : " ") + Hex2(b);
  return text;
}

Bytes Frame(std::uint8_t type, std::string_view subtype, const Bytes& data) {
  Bytes packet;
  packet.reserve(8 + data.size() + 2);
  packet.push_back(type);
  packet.insert(packet.end(), subtype.begin(), subtype.end());
  packet.push_back(data.empty() ? '0' : '1');
  if (!data.empty()) {
    const std::string size = Hex2(static_cast<unsigned>(data.size() >> 8)) +
                             Hex2(static_cast<unsigned>(data.size() & 0xFF));
    packet.insert(packet.end(), size.begin(), size.end());
    packet.insert(packet.end(), data.begin(), data.end());
  }
  unsigned sum = 0;
  for (std::size_t i = 1; i < packet.size(); ++i) sum += packet[i];
  const std::string check = Hex2((0x100 - (sum & 0xFF)) & 0xFF);
  packet.insert(packet.end(), check.begin(), check.end());
  return packet;
}

Bytes CheckPacket(std::string_view subtype) { return Frame(0x05, subtype); }
Bytes AckPacket() { return Frame(0x06, "00"); }
Bytes RoleSwapPacket() { return Frame(0x03, "00"); }
Bytes TerminatePacket() { return Frame(0x18, "00"); }
Bytes DeviceInfoCommand() { return Frame(0x01, "01"); }

Bytes ReadoutRequest(std::string_view subtype, std::string_view device) {
  const std::string data = "0000" "00000000" "00000000" + Hex2(static_cast<unsigned>(device.size())) +
                           "00" + std::string(device);
  return Frame(0x01, subtype, ToBytes(data));
}

Bytes LinkSettings(std::string_view baud) {
  const std::string data = "0000" "00000000" + Hex2(static_cast<unsigned>(baud.size())) + "04" "01" +
                           "000000" + std::string(baud) + "NONE" + "1";
  return Frame(0x01, "02", ToBytes(data));
}

std::string Reply::Header() const {
  return Hex2(type) + subtype + (has_data ? "1" : "0");
}

int ConnectUsb(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    close(fd);
    return -error;
  }
  return fd;
}

int OpenSerial(const std::string& path, int baud) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -errno;
  SetSerialBaud(fd, baud);
  return fd;
}

void SetSerialBaud(int fd, int baud) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) throw std::runtime_error("tcgetattr");
  cfmakeraw(&settings);
  cfsetispeed(&settings, Speed(baud));
  cfsetospeed(&settings, Speed(baud));
  if (tcsetattr(fd, TCSANOW, &settings) != 0) throw std::runtime_error("tcsetattr");
}

Client::Client(int fd) : fd_(fd) {
  if (fd < 0) throw std::runtime_error(std::string("no connection: ") + std::strerror(-fd));
}

Client::~Client() { close(fd_); }

void Client::Send(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("write: ") + std::strerror(errno));
    }
    done += static_cast<std::size_t>(n);
  }
}

std::optional<std::uint8_t> Client::ReadByte(int timeout_ms) {
  if (next_ < buffer_.size()) return buffer_[next_++];
  if (eof_) return std::nullopt;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
  buffer_.resize(4096);
  const ssize_t n = read(fd_, buffer_.data(), buffer_.size());
  if (n <= 0) {
    buffer_.clear();
    eof_ = true;
    return std::nullopt;
  }
  buffer_.resize(static_cast<std::size_t>(n));
  next_ = 1;
  return buffer_[0];
}

std::optional<Reply> Client::Read(int timeout_ms) {
  Reply reply;
  const auto take = [&](std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const auto b = ReadByte(timeout_ms);
      if (!b) return false;
      reply.bytes.push_back(*b);
    }
    return true;
  };
  if (!take(4)) return std::nullopt;
  reply.type = reply.bytes[0];
  reply.subtype = std::string(reply.bytes.begin() + 1, reply.bytes.begin() + 3);
  reply.has_data = reply.bytes[3] == '1';
  if (reply.has_data) {
    if (!take(4)) return std::nullopt;
    const auto size = HexValue(reply.bytes, 4, 4);
    if (!size || !take(*size)) return std::nullopt;
    reply.data.assign(reply.bytes.begin() + 8, reply.bytes.end());
  }
  if (!take(2)) return std::nullopt;
  return reply;
}

std::optional<Reply> Client::Exchange(const Bytes& bytes, int timeout_ms) {
  Send(bytes);
  return Read(timeout_ms);
}

Bytes Client::Drain(int quiet_ms) {
  Bytes bytes;
  while (const auto b = ReadByte(quiet_ms)) bytes.push_back(*b);
  return bytes;
}

bool Client::PeerClosed(int timeout_ms) {
  while (ReadByte(timeout_ms)) {
  }
  return eof_;
}

Bytes Client::Payload(const Reply& block) {
  return UnescapeData(Bytes(block.data.begin() + std::min<std::ptrdiff_t>(8, std::ssize(block.data)), block.data.end()));
}

Bytes EscapeData(const Bytes& raw) {
  Bytes wire;
  for (std::uint8_t b : raw) {
    if (b < 0x20) {
      wire.push_back(0x5C);
      wire.push_back(static_cast<std::uint8_t>(b + 0x20));
    } else if (b == 0x5C) {
      wire.push_back(0x5C);
      wire.push_back(0x5C);
    } else {
      wire.push_back(b);
    }
  }
  return wire;
}

Bytes UnescapeData(const Bytes& wire) {
  Bytes raw;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    std::uint8_t b = wire[i];
    if (b == 0x5C && i + 1 < wire.size()) {
      const std::uint8_t next = wire[++i];
      b = next == 0x5C ? 0x5C : static_cast<std::uint8_t>(next - 0x20);
    }
    raw.push_back(b);
  }
  return raw;
}

}  // namespace fxsim::testing
