#pragma once
// The calculator's USB device through libusb: finding it by vendor and product id, opening
// its usbfs node, claiming interface 0 and moving bytes over its bulk endpoints.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/block_channel.h"

struct libusb_interface_descriptor;

namespace ostrel {

struct TUsbId {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  friend bool operator==(const TUsbId&, const TUsbId&) = default;
};

inline constexpr TUsbId kCalculatorId{0x07CF, 0x6101};

// "VID_07CF&PID_6101" (any letter case, anywhere in the text): the two four-digit hex ids.
std::optional<TUsbId> ParseVendorId(std::string_view text);

// A calculator of the family that enumerated as a USB mass-storage device (its other USB
// mode); it is reported, never opened.
bool IsMassStorageMode(TUsbId id);

struct TBulkEndpoints {
  std::uint8_t in = 0;   // endpoint address with the direction bit
  std::uint8_t out = 0;
  std::uint16_t in_packet_size = 0;
  std::uint16_t out_packet_size = 0;
};

// The first bulk IN and the first bulk OUT endpoint of an interface setting; nothing unless
// both are there.
std::optional<TBulkEndpoints> SelectBulkEndpoints(const libusb_interface_descriptor& setting);

// What a libusb error code means for the link.
enum class UsbErrorKind {
  None,          // success
  Absent,        // no such device (never there, or unplugged)
  AccessDenied,  // permissions
  Busy,          // claimed by another program or driver
  Timeout,       // nothing within the wait: a silent line, not an error
  Lost,          // the device stopped working (pipe, I/O, overflow, ...): a silent line
};
UsbErrorKind ClassifyLibusbError(int code);

// "/dev/bus/usb/BBB/DDD".
std::string UsbfsPath(int bus, int address);

// True for a usbfs device node (character device of the USB device major, or a path under
// /dev/bus/usb).
bool IsUsbfsNode(const std::string& path, const struct stat& status);

// Opens a usbfs node, wraps it for libusb, detaches a kernel driver, claims interface 0,
// finds the bulk endpoints and sends the calculator's session request.
TUsbOpenResult OpenUsbfsNode(const std::string& path);

// Searches the USB devices for the ids named in vendor_id_text and opens the first match.
// A calculator in mass-storage mode is reported as present but not openable.
TUsbOpenResult FindAndOpenCalculator(const std::string& vendor_id_text);

}  // namespace ostrel
