#include <algorithm>
#include <cctype>
#include <cstdio>

#include "fxsim/simulator.h"

namespace fxsim {

namespace {

// Copies `text` into a field of `width` bytes, cut to fit, padded with 0xFF.
void PutField(std::array<std::uint8_t, kDeviceInfoSize>& record, std::size_t& offset,
              const std::string& text, std::size_t width) {
  const std::size_t used = std::min(text.size(), width);
  std::copy_n(text.begin(), used, record.begin() + static_cast<std::ptrdiff_t>(offset));
  offset += width;
}

constexpr std::size_t kOsOffset = 0x10000;
constexpr std::size_t kOsVersionOffset = 0x10020;
constexpr std::size_t kOsVersionLength = 10;
constexpr std::size_t kSmallFlash = 0x200000;  // an fx-7400GII's flash

// The OS version at its place in the flash when it has the form NN.NN.NNNN.
std::optional<std::string> FlashOsVersion(std::span<const std::uint8_t> flash) {
  if (flash.size() < kOsVersionOffset + kOsVersionLength) return std::nullopt;
  std::string version(flash.begin() + kOsVersionOffset, flash.begin() + kOsVersionOffset + kOsVersionLength);
  for (std::size_t i = 0; i < version.size(); ++i) {
    const bool dot = i == 2 || i == 5;
    if (dot ? version[i] != '.' : !std::isdigit(static_cast<unsigned char>(version[i]))) return std::nullopt;
  }
  return version;
}

// Where the OS of this version ends in the flash: the OS generation 1 fills it up to
// 0x270000, later ones end at 0x250000, or at 0x1E0000 in the 2 MiB flash of an fx-7400GII.
std::size_t OsEnd(const std::string& version, std::size_t flash_size) {
  if (version.starts_with("01")) return 0x270000;
  return flash_size <= kSmallFlash ? 0x1E0000 : 0x250000;
}

std::string HexField(std::size_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08zX", value);
  return text;
}

}  // namespace

DeviceInfo DeviceInfo::ServedWith(std::span<const std::uint8_t> flash) const {
  DeviceInfo served = *this;
  const auto version = FlashOsVersion(flash);
  if (!version) return served;
  if (!served.os_code_version) served.os_code_version = *version;
  served.os_code_offset = HexField(0xA0000000 + kOsOffset);
  served.os_code_size = HexField(OsEnd(*served.os_code_version, flash.size()) - kOsOffset);
  return served;
}

std::array<std::uint8_t, kDeviceInfoSize> DeviceInfo::Record() const {
  std::array<std::uint8_t, kDeviceInfoSize> record;
  record.fill(0xFF);
  std::size_t offset = 0;
  PutField(record, offset, hardware_id, 8);
  PutField(record, offset, processor_id, 16);
  PutField(record, offset, preprogrammed_rom_capacity, 8);
  PutField(record, offset, flash_rom_capacity, 8);
  PutField(record, offset, ram_capacity, 8);
  PutField(record, offset, preprogrammed_rom_version, 16);
  PutField(record, offset, boot_code_version, 16);
  PutField(record, offset, boot_code_offset, 8);
  PutField(record, offset, boot_code_size, 8);
  PutField(record, offset, os_code_version.value_or(kDefaultOsVersion), 16);
  PutField(record, offset, os_code_offset, 8);
  PutField(record, offset, os_code_size, 8);
  PutField(record, offset, protocol_version, 4);
  PutField(record, offset, product_id1, 8);
  PutField(record, offset, product_id2, 8);
  PutField(record, offset, user_name, 16);
  return record;
}

}  // namespace fxsim
