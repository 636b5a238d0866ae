#pragma once
// The transport channel: owns one serial port (tSio) or one USB device (TUSB), opened
// from a connection string, and gives the protocol one byte-pipe interface for both.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ostrel {

enum class LinkKind { Serial = 0, Usb = 1 };

// What tSio and TUSB have in common.
class TPort {
 public:
  virtual ~TPort() = default;
  // Bytes written (0 on failure or with an invalid handle).
  virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) = 0;
  // 1 when a byte was stored, 0 when none was available (may wait a few ms, never spins).
  virtual int ReadByte(std::uint8_t& destination) = 0;
  // The operating-system handle; -1 when the port or device could not be opened.
  virtual int Handle() const = 0;
  // Serial: the port name. USB: the device path found or given (empty: no device).
  virtual std::string DevicePath() const = 0;
  // Diagnostic lines gathered since the last call (why an open failed, a lost device, ...).
  virtual std::vector<std::string> TakeDiagnostics() = 0;
};

class THardware {
 public:
  // Never throws for a port or device that cannot be opened: the handle is then invalid.
  THardware(LinkKind kind, const std::string& connection);
  // Wraps a port made elsewhere (an in-memory line for tests and fuzzing).
  THardware(LinkKind kind, std::unique_ptr<TPort> port);
  ~THardware();
  THardware(const THardware&) = delete;
  THardware& operator=(const THardware&) = delete;

  LinkKind Kind() const { return kind_; }
  std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) { return port_->Write(data, length); }
  int ReadByte(std::uint8_t& destination) { return port_->ReadByte(destination); }
  int Handle() const { return port_->Handle(); }
  std::string DevicePath() const { return port_->DevicePath(); }
  std::vector<std::string> TakeDiagnostics() { return port_->TakeDiagnostics(); }

 private:
  LinkKind kind_;
  std::unique_ptr<TPort> port_;
};

}  // namespace ostrel
