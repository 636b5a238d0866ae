#pragma once
// A tiny PC side for the simulator's tests, with its own framing code (deliberately not the
// simulator's), over the USB stand-in socket or the serial pty.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fxsim::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text);
std::string HexDump(const Bytes& bytes);

// The wire form of binary data (bytes below 0x20 and 0x5C behind a 0x5C) and back.
Bytes EscapeData(const Bytes& raw);
Bytes UnescapeData(const Bytes& wire);

// type + subtype + flag [+ size + data] + checksum, computed independently here.
Bytes Frame(std::uint8_t type, std::string_view subtype, const Bytes& data = {});

// The calculator's acknowledge and role swap exactly as they must arrive.
inline const Bytes kAckWire = {0x06, 0x30, 0x30, 0x30, 0x37, 0x30};
inline const Bytes kRoleSwapWire = {0x03, 0x30, 0x30, 0x30, 0x37, 0x30};

// The PC's fixed packets.
Bytes CheckPacket(std::string_view subtype = "00");
Bytes AckPacket();
Bytes RoleSwapPacket();
Bytes TerminatePacket();
Bytes DeviceInfoCommand();
// Flash ("4F") or RAM ("2F") request for the storage named `device`.
Bytes ReadoutRequest(std::string_view subtype, std::string_view device = "fls0");
// Link settings for `baud` with parity NONE and one stop bit.
Bytes LinkSettings(std::string_view baud);

// A packet as the client received it.
struct Reply {
  Bytes bytes;
  std::uint8_t type = 0;
  std::string subtype;
  bool has_data = false;
  Bytes data;  // as on the wire
  std::string Header() const;  // type as two hex digits + subtype + flag, e.g. "06000"
};

// Connects to the USB stand-in; returns -errno on failure.
int ConnectUsb(const std::string& path);
// Opens the pty slave raw at `baud`; -errno on failure.
int OpenSerial(const std::string& path, int baud);
// Changes the speed of an open serial fd.
void SetSerialBaud(int fd, int baud);

class Client {
 public:
  explicit Client(int fd);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int fd() const { return fd_; }
  void Send(const Bytes& bytes);
  // One whole packet, parsed by its framing; nullopt when nothing complete arrives within
  // `timeout_ms` of silence or the peer closed.
  std::optional<Reply> Read(int timeout_ms = 10000);
  // Sends and reads the answer.
  std::optional<Reply> Exchange(const Bytes& bytes, int timeout_ms = 10000);
  // Every byte that arrives until the line has been quiet for `quiet_ms`.
  Bytes Drain(int quiet_ms);
  // True when the peer closes within `timeout_ms`.
  bool PeerClosed(int timeout_ms);
  // Unescaped payload of a data block (data offset 8 on).
  static Bytes Payload(const Reply& block);

 private:
  std::optional<std::uint8_t> ReadByte(int timeout_ms);
  int fd_;
  bool eof_ = false;
  Bytes buffer_;  // read ahead, not yet handed out
  std::size_t next_ = 0;
};

}  // namespace fxsim::testing
