#include "calc/receive_mode_front.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace ostrel::testing {

namespace {

// Reads one byte; -1 when the PC went away or stayed silent for 10 s.
int ReadByte(int fd) {
  pollfd wait{fd, POLLIN, 0};
  if (::poll(&wait, 1, 10000) <= 0) return -1;
  std::uint8_t byte = 0;
  return ::read(fd, &byte, 1) == 1 ? byte : -1;
}

struct Packet {
  std::uint8_t type = 0;
  std::string subtype;
  ByteVector data;  // as sent (escaped where the sender escapes)
};

bool ReadPacket(int fd, Packet& packet) {
  int type;
  do {
    type = ReadByte(fd);
    if (type < 0) return false;
  } while (type != 0x01 && type != 0x02 && type != 0x05 && type != 0x06 && type != 0x18);
  packet = Packet{static_cast<std::uint8_t>(type), "", {}};
  ByteVector header;
  for (int i = 0; i < 3; ++i) {
    const int b = ReadByte(fd);
    if (b < 0) return false;
    header.push_back(static_cast<std::uint8_t>(b));
  }
  packet.subtype.assign(header.begin(), header.begin() + 2);
  if (header[2] == '1') {
    std::string size;
    for (int i = 0; i < 4; ++i) {
      const int b = ReadByte(fd);
      if (b < 0) return false;
      size.push_back(static_cast<char>(b));
    }
    for (unsigned long n = std::stoul(size, nullptr, 16); n > 0; --n) {
      const int b = ReadByte(fd);
      if (b < 0) return false;
      packet.data.push_back(static_cast<std::uint8_t>(b));
    }
  }
  return ReadByte(fd) >= 0 && ReadByte(fd) >= 0;  // checksum
}

void Write(int fd, const ByteVector& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

ByteVector Unescape(const ByteVector& in) {
  ByteVector out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == 0x5C && i + 1 < in.size()) {
      ++i;
      out.push_back(in[i] == 0x5C ? 0x5C : static_cast<std::uint8_t>(in[i] - 0x20));
    } else {
      out.push_back(in[i]);
    }
  }
  return out;
}

// The 164-byte device information of an fx-9860GII in receive mode: text fields padded
// with 0xFF.
ByteVector DeviceInformation() {
  ByteVector record;
  auto field = [&record](const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) record.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0xFF);
  };
  const std::pair<const char*, std::size_t> fields[] = {
      {"Gy363006", 8},    {"RENESAS SH735501", 16}, {"00000000", 8}, {"00004096", 8}, {"00000512", 8}, {"", 16},
      {"", 16},           {"", 8},                  {"", 8},         {"02.00.0200", 16}, {"00010000", 8},
      {"00002432", 8},    {"7.00", 4},              {"", 8},         {"", 8},          {"", 16}};
  for (const auto& [text, width] : fields) field(text, width);
  return record;
}

}  // namespace

ReceiveModeFront::ReceiveModeFront(std::string flash_path, std::vector<std::string> engine_arguments, Line line)
    : flash_path_(std::move(flash_path)), engine_arguments_(std::move(engine_arguments)) {
  if (line == Line::kSerial) {
    // A terminal pair: the PC opens the slave as its serial port; the speed it sets does
    // not matter here, the bytes pass either way.
    connection_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256];
    if (connection_ < 0 || ::grantpt(connection_) != 0 || ::unlockpt(connection_) != 0 ||
        ::ptsname_r(connection_, name, sizeof name) != 0)
      throw std::runtime_error("cannot open a pseudo terminal");
    line_path_ = name;
    serial_slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (serial_slave_ < 0 || ::tcgetattr(serial_slave_, &raw) != 0) throw std::runtime_error("cannot open " + line_path_);
    ::cfmakeraw(&raw);
    ::tcsetattr(serial_slave_, TCSANOW, &raw);
  } else {
    line_path_ = folder_ / "calculator.sock";
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, line_path_.c_str(), sizeof address.sun_path - 1);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0)
      throw std::runtime_error("cannot serve " + line_path_);
  }
  server_ = std::thread([this] { Serve(); });
}

ReceiveModeFront::~ReceiveModeFront() {
  stopping_ = true;
  if (server_.joinable()) server_.join();
  engine_.reset();
  if (connection_ >= 0) ::close(connection_);
  if (serial_slave_ >= 0) ::close(serial_slave_);
  if (listener_ >= 0) ::close(listener_);
}

void ReceiveModeFront::Serve() {
  try {
    ServeConnection();
  } catch (const std::exception&) {
    // A malformed packet from the PC: the front stops answering, as a confused unit would.
  }
}

void ReceiveModeFront::ServeConnection() {
  if (listener_ >= 0) {
    for (;;) {
      if (stopping_) return;
      pollfd wait{listener_, POLLIN, 0};
      if (::poll(&wait, 1, 100) > 0) break;
    }
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection_ < 0) return;
  }
  const ByteVector ack = MakePacket(0x06, "00");
  std::size_t blocks = 0;
  Packet packet;
  while (!stopping_ && ReadPacket(connection_, packet)) {
    if (packet.type == 0x01 && packet.subtype == "02") {
      Write(connection_, ack);  // link settings: a terminal pair passes any speed
    } else if (packet.type == 0x01 && packet.subtype == "01") {
      Write(connection_, MakePacket(0x06, "02", DeviceInformation()));
    } else if (packet.type == 0x01 && packet.subtype == "56") {
      const std::string size(packet.data.begin(), packet.data.begin() + 8);
      blocks = (std::stoul(size, nullptr, 16) + 255) / 256;
      Write(connection_, ack);
    } else if (packet.type == 0x02 && packet.subtype == "56") {
      const ByteVector raw = Unescape(packet.data);
      uploaded_.insert(uploaded_.end(), raw.begin() + 8, raw.end());
      Write(connection_, ack);
      const std::string number(raw.begin() + 4, raw.begin() + 8);
      if (std::stoul(number, nullptr, 16) == blocks) {
        // The system starts the program: from here on the engine answers.
        engine_ = std::make_unique<QemuEngine>(flash_path_, engine_arguments_, connection_);
        return;
      }
    } else if (packet.type == 0x05 || packet.type == 0x18) {
      Write(connection_, ack);
    } else {
      Write(connection_, MakePacket(0x15, "00"));
    }
  }
}

ByteVector ReceiveModeFront::UploadedProgram() {
  if (server_.joinable()) server_.join();
  return uploaded_;
}

int ReceiveModeFront::EngineExitStatus() {
  if (server_.joinable()) server_.join();
  return engine_ ? engine_->ExitStatus() : -1;
}

}  // namespace ostrel::testing
