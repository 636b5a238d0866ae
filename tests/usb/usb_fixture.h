#pragma once
// The calculator emulated on the USB level, as the tests use it: a valid flash, no delay
// per answer (timing is the benchmark's business) and short link waits.

#include <chrono>
#include <string>
#include <vector>

#include "link/connection_string.h"
#include "link/hardware.h"
#include "operations/backup_fixture.h"
#include "usb_calculator.h"

namespace ostrel::testing {

inline fxsim::UsbCalculatorConfig QuickUsbCalculator() {
  fxsim::UsbCalculatorConfig config;
  config.flash = ValidFlash();
  config.packet_delay_ms = 0;
  return config;
}

// The system's connection string, with DEVICENAME appended when a node is named.
inline std::string UsbConnection(const std::string& device_name = "") {
  return std::string(kSystemUsbConnection) + (device_name.empty() ? "" : "DEVICENAME=" + device_name);
}

// No device named: the calculator is searched by its ids, as for a user without options.
inline TLinkTarget SearchTarget() {
  TLinkTarget target;
  target.timings = QuickTimings();
  return target;
}

inline TLinkTarget NodeTarget(const fxsim::UsbCalculator& calculator) {
  TLinkTarget target = SearchTarget();
  target.usb_device = calculator.NodePath();
  return target;
}

// Sends `packet` and collects the answer until `count` bytes came or `wait` passed.
inline Bytes Exchange(TPort& port, const Bytes& packet, std::size_t count,
                      std::chrono::milliseconds wait = std::chrono::seconds(5)) {
  port.Write(packet.data(), static_cast<std::uint32_t>(packet.size()));
  Bytes answer;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (answer.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::uint8_t byte = 0;
    if (port.ReadByte(byte) == 1) answer.push_back(byte);
  }
  return answer;
}

inline const Bytes kCheckPacket = {0x05, 0x30, 0x30, 0x30, 0x37, 0x30};
inline const Bytes kAcknowledgePacket = {0x06, 0x30, 0x30, 0x30, 0x37, 0x30};

inline bool AnyContains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace ostrel::testing
