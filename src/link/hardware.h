#pragma once
// The transport channel: owns one port (a serial port tSio or a USB device TUSB, opened
// from a connection string, or any port handed to it) and gives the protocol one
// byte-pipe interface for both.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/port.h"

namespace ostrel {

enum class LinkKind { Serial = 0, Usb = 1 };

// Makes the port for a link kind and a connection string; where the protocol gets its
// ports from when it is not to open real ones (tests, an in-memory line).
using TPortFactory = std::function<std::unique_ptr<TPort>(LinkKind kind, const std::string& connection)>;

class THardware {
 public:
  // Opens a tSio or a TUSB. Never throws for a port or device that cannot be opened: the
  // handle is then invalid.
  THardware(LinkKind kind, const std::string& connection);
  // Wraps a port made elsewhere (an in-memory line for tests and fuzzing).
  THardware(LinkKind kind, std::unique_ptr<TPort> port);
  ~THardware();
  THardware(const THardware&) = delete;
  THardware& operator=(const THardware&) = delete;

  LinkKind Kind() const { return kind_; }
  std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) { return port_->Write(data, length); }
  int ReadByte(std::uint8_t& destination) { return port_->ReadByte(destination); }
  std::size_t ReadBytes(std::uint8_t* destination, std::size_t capacity) {
    return port_->ReadBytes(destination, capacity);
  }
  int Handle() const { return port_->Handle(); }
  std::string DevicePath() const { return port_->DevicePath(); }
  bool Unusable() const { return port_->Unusable(); }
  bool Gone() const { return port_->Gone(); }
  std::size_t ReadPending(std::uint8_t* destination, std::size_t capacity) {
    return port_->ReadPending(destination, capacity);
  }
  std::vector<std::string> TakeDiagnostics() { return port_->TakeDiagnostics(); }

 private:
  LinkKind kind_;
  std::unique_ptr<TPort> port_;
};

}  // namespace ostrel
