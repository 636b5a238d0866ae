#pragma once
// TUSB: the calculator's USB device, opened from a connection string. DEVICENAME (when not
// blank) names what to open: a usbfs node, a Unix-domain stream socket or a terminal device
// that carries the calculator's bytes; otherwise the device is searched by VENDORID.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/block_channel.h"
#include "link/diagnostic_lines.h"
#include "link/port.h"

namespace ostrel {

class TUSB : public TPort {
 public:
  static constexpr std::size_t kBlockSize = 512;

  // Never throws. No device: DevicePath() empty. A device that is present but cannot be
  // opened (not in receive mode, permissions, busy, mass-storage mode): DevicePath() set
  // and Handle() -1. The diagnostics say which.
  explicit TUSB(const std::string& connection);
  ~TUSB() override;
  TUSB(const TUSB&) = delete;
  TUSB& operator=(const TUSB&) = delete;

  std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) override;
  // Hands out what is left of the current block; when it is used up, reads the next block
  // of up to 512 bytes (waiting at most the short read wait).
  std::size_t ReadBytes(std::uint8_t* destination, std::size_t capacity) override;
  int Handle() const override;
  std::string DevicePath() const override { return device_path_; }
  bool Unusable() const override { return unusable_; }
  bool Gone() const override { return channel_ && channel_->Gone(); }
  // What is left of the current block, else what the channel has without waiting.
  std::size_t ReadPending(std::uint8_t* destination, std::size_t capacity) override;
  std::vector<std::string> TakeDiagnostics() override;

 private:
  std::string device_path_;
  bool unusable_ = false;
  std::unique_ptr<TBlockChannel> channel_;
  std::vector<std::uint8_t> buffer_;  // BUFFERSIZE + 1 bytes; not used by reads or writes
  std::size_t read_position_ = 1;     // 1-based index of the next byte of the block
  std::size_t block_count_ = 0;       // bytes in the block; 0 when it is used up
  std::array<std::uint8_t, kBlockSize> block_{};
  TDiagnosticLines diagnostics_;
};

// Opens DEVICENAME: a usbfs node, a socket, or another character device (a terminal).
TUsbOpenResult OpenUsbDevicePath(const std::string& path);

}  // namespace ostrel
