#pragma once
// The port interface: what the transport channel needs of a serial port, a USB device or
// any other byte line (an in-memory line in tests). The protocol never sees a port itself,
// only the channel that owns one (link/hardware.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

class TPort {
 public:
  virtual ~TPort() = default;
  // Bytes written (0 on failure or with an invalid handle).
  virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) = 0;
  // Up to `capacity` bytes: those already received, else whatever arrives within the short
  // read wait (in one read of the line into the port's buffer). 0 when nothing came; a
  // silent or dead line waits a few ms first, so a polling caller never spins.
  virtual std::size_t ReadBytes(std::uint8_t* destination, std::size_t capacity) = 0;
  // 1 when a byte was stored, 0 when none was available: one byte of ReadBytes.
  int ReadByte(std::uint8_t& destination) { return ReadBytes(&destination, 1) == 1 ? 1 : 0; }
  // The operating-system handle; -1 when the port or device could not be opened.
  virtual int Handle() const = 0;
  // Serial: the port name. USB: the device path found or given (empty: no device).
  virtual std::string DevicePath() const = 0;
  // True when the device path can never reach a calculator as it stands (permission
  // denied, not a device, a socket nobody serves): waiting for it would not help.
  virtual bool Unusable() const { return false; }
  // True once the port lost its device (unplugged, hung up, the other end closed): no byte
  // will come any more and writes take nothing.
  virtual bool Gone() const { return false; }
  // Up to `capacity` bytes that have arrived already, without waiting for more: what a
  // caller looks at before it sends a request, to find answers nobody asked for. A port
  // that cannot tell without waiting gives what it holds in its own buffer.
  virtual std::size_t ReadPending(std::uint8_t* destination, std::size_t capacity) {
    (void)destination;
    (void)capacity;
    return 0;
  }
  // Diagnostic lines gathered since the last call (why an open failed, a lost device, ...).
  virtual std::vector<std::string> TakeDiagnostics() = 0;
};

}  // namespace ostrel
