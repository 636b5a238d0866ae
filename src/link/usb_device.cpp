#include "link/usb_device.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "base/small_file.h"
#include "base/text.h"
#include "link/connection_string.h"
#include "link/fd_io.h"
#include "link/libusb_device.h"
#include "link/stream_endpoint.h"

namespace ostrel {

namespace {

// The buffer is never used for I/O; a bound keeps a wild BUFFERSIZE harmless.
constexpr std::int32_t kMaxBuffer = 1 << 20;

}  // namespace

TUsbOpenResult OpenUsbDevicePath(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return OpenErrorResult(path, errno);
  if (S_ISSOCK(status.st_mode)) return ConnectStreamSocket(path);
  if (IsUsbfsNode(path, status)) return OpenUsbfsNode(path);
  if (S_ISCHR(status.st_mode)) return OpenStreamDevice(path, status);
  return UnusableResult(path, "USB device " + path + " is not opened: it is " + (S_ISREG(status.st_mode) ? std::string("a regular file") : NonFileKind(status.st_mode)) +
                                  ", neither a device node nor a socket. Name the calculator's node (ostrel devices "
                                  "lists it), or leave the device out to search by the calculator's ids.");
}

TUSB::TUSB(const std::string& connection) {
  TUsbSettings settings = ParseUsbSettings(connection);
  if (settings.buffer_size > 0) {
    buffer_.resize(static_cast<std::size_t>(std::min(settings.buffer_size, kMaxBuffer)) + 1);
  }
  TUsbOpenResult opened = IsBlank(settings.device_name) ? FindAndOpenCalculator(settings.vendor_id)
                                                        : OpenUsbDevicePath(settings.device_name);
  diagnostics_.Append(std::move(opened.diagnostics));
  if (opened.outcome != OpenOutcome::Absent) device_path_ = opened.device_path;
  unusable_ = opened.outcome == OpenOutcome::Unusable;
  channel_ = std::move(opened.channel);
}

TUSB::~TUSB() = default;

std::uint32_t TUSB::Write(const std::uint8_t* data, std::uint32_t length) {
  return channel_ ? channel_->WriteBlock(data, length) : 0;
}

std::size_t TUSB::ReadBytes(std::uint8_t* destination, std::size_t capacity) {
  if (block_count_ == 0) {
    if (channel_) {
      block_count_ = channel_->ReadBlock(block_.data(), block_.size());
    } else {
      IdleReadWait();
    }
    read_position_ = 1;
  }
  if (block_count_ == 0) return 0;
  // read_position_ is 1-based: bytes read_position_ .. block_count_ are still to go.
  const std::size_t count = std::min(capacity, block_count_ - read_position_ + 1);
  std::copy_n(block_.begin() + static_cast<std::ptrdiff_t>(read_position_ - 1), count, destination);
  if (read_position_ + count > block_count_) {
    read_position_ = 1;
    block_count_ = 0;
  } else {
    read_position_ += count;
  }
  return count;
}

std::size_t TUSB::ReadPending(std::uint8_t* destination, std::size_t capacity) {
  if (block_count_ == 0) {
    if (!channel_) return 0;
    block_count_ = channel_->ReadPendingBlock(block_.data(), block_.size());
    read_position_ = 1;
    if (block_count_ == 0) return 0;
  }
  return ReadBytes(destination, capacity);
}

int TUSB::Handle() const { return channel_ ? channel_->Handle() : -1; }

std::vector<std::string> TUSB::TakeDiagnostics() {
  if (channel_) diagnostics_.Append(channel_->TakeDiagnostics());
  return diagnostics_.Take();
}

}  // namespace ostrel
