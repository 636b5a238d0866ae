#pragma once
// The USB descriptors of an fx-9860G-family calculator: in link receive mode (product
// 6101) one vendor-specific interface with a bulk IN endpoint 0x82 and a bulk OUT
// endpoint 0x01; in its mass-storage modes (6102, 6103) a storage interface instead.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fxsim {

inline constexpr std::uint16_t kCasioVendor = 0x07CF;
inline constexpr std::uint16_t kLinkModeProduct = 0x6101;
inline constexpr std::uint8_t kBulkInEndpoint = 0x82;
inline constexpr std::uint8_t kBulkOutEndpoint = 0x01;
// A full-speed device: 64-byte packets on every endpoint.
inline constexpr std::uint16_t kMaxPacketSize = 64;

struct UsbStrings {
  std::string manufacturer = "CASIO";
  std::string product = "fx-9860G";
  std::string serial = "000000000000";
};

// True for the products that enumerate as a USB mass-storage device.
bool IsMassStorageProduct(std::uint16_t product);

// The device descriptor followed by the configuration descriptor with its interface and
// endpoints, as the kernel exposes them in sysfs ("descriptors") and on the usbfs node.
std::vector<std::uint8_t> DeviceDescriptors(std::uint16_t product);

// The string descriptor `index` (0: the language list, 1 manufacturer, 2 product, 3 serial
// number); nothing for an index the device does not have.
std::optional<std::vector<std::uint8_t>> StringDescriptor(const UsbStrings& strings, std::uint8_t index);

}  // namespace fxsim
