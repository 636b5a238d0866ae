#pragma once
// What the USB device reads from and writes to: a channel that moves blocks of bytes,
// either the calculator's bulk endpoints or a byte-stream endpoint (a Unix-domain socket or
// a terminal device) that carries the same bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ostrel {

class TBlockChannel {
 public:
  virtual ~TBlockChannel() = default;
  // Bytes stored (at most `capacity`); 0 when nothing arrived within the short read wait,
  // or when the channel is gone (said once in the diagnostics).
  virtual std::size_t ReadBlock(std::uint8_t* destination, std::size_t capacity) = 0;
  // Bytes written.
  virtual std::uint32_t WriteBlock(const std::uint8_t* data, std::uint32_t length) = 0;
  // Bytes that have arrived already, without waiting (0 where the channel cannot tell).
  virtual std::size_t ReadPendingBlock(std::uint8_t* destination, std::size_t capacity) {
    (void)destination;
    (void)capacity;
    return 0;
  }
  // True once the channel lost its device.
  virtual bool Gone() const { return false; }
  // The operating-system handle (a file descriptor).
  virtual int Handle() const = 0;
  virtual std::vector<std::string> TakeDiagnostics() = 0;
};

// How an attempt to open a device ended.
enum class OpenOutcome {
  Opened,       // channel set
  Absent,       // there is no such device: the device path stays empty
  NotOpenable,  // the device is there but cannot be opened: path set, no channel
  // The path can never reach a calculator as it stands (permission denied, not a device
  // node or socket, a socket nobody serves): path set, no channel. Waiting will not help.
  Unusable,
};

struct TUsbOpenResult {
  OpenOutcome outcome = OpenOutcome::Absent;
  std::string device_path;
  std::unique_ptr<TBlockChannel> channel;
  std::vector<std::string> diagnostics;
};

// Maps an errno value from opening or connecting to a device path onto the outcome:
// no such file or device → Absent; permission denied → Unusable; anything else (refused,
// busy) → NotOpenable.
OpenOutcome OutcomeOfOpenError(int error);

// A diagnostics line for a device path that could not be opened, with a hint where one helps.
std::string OpenFailureText(const std::string& path, int error);

// The result of an open or connect of the path that failed with an errno value: no device
// ("USB device <path> is not there.") or a device that cannot be opened, with the reason.
TUsbOpenResult OpenErrorResult(const std::string& path, int error);
// A path that can never reach a calculator as it stands, with the line that says why and
// what to do.
TUsbOpenResult UnusableResult(const std::string& path, std::string line);
// A device that is there but is not opened, with the diagnostics line that says why.
TUsbOpenResult NotOpenableResult(const std::string& path, std::string line);
// No device, with the diagnostics line that says why.
TUsbOpenResult AbsentResult(std::string line);

}  // namespace ostrel
