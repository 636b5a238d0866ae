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

constexpr std::size_t kOsVersionOffset = 0x10020;
constexpr std::size_t kOsVersionLength = 10;
constexpr std::size_t kCalcIdOffset = 0xFFD0;
constexpr std::size_t kCalcIdLength = 8;
constexpr std::size_t kSmallFlash = 0x200000;  // an fx-7400GII's flash

// The text of `length` flash bytes at `offset` when each one satisfies `ok(index, byte)`.
template <typename Check>
std::optional<std::string> FlashText(std::span<const std::uint8_t> flash, std::size_t offset, std::size_t length,
                                     Check ok) {
  if (flash.size() < offset + length) return std::nullopt;
  std::string text(flash.begin() + static_cast<std::ptrdiff_t>(offset),
                   flash.begin() + static_cast<std::ptrdiff_t>(offset + length));
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!ok(i, static_cast<unsigned char>(text[i]))) return std::nullopt;
  }
  return text;
}

// The OS version at its place in the flash when it has the form NN.NN.NNNN.
std::optional<std::string> FlashOsVersion(std::span<const std::uint8_t> flash) {
  return FlashText(flash, kOsVersionOffset, kOsVersionLength, [](std::size_t i, unsigned char c) {
    return (i == 2 || i == 5) ? c == '.' : std::isdigit(c) != 0;
  });
}

// The calculator ID the boot code area keeps, when it is letters and digits (an erased
// or unset ID is not reported).
std::optional<std::string> FlashCalcId(std::span<const std::uint8_t> flash) {
  return FlashText(flash, kCalcIdOffset, kCalcIdLength, [](std::size_t, unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace

std::string DecimalField(std::size_t value) {
  char text[21];
  std::snprintf(text, sizeof text, "%08zu", value);
  return text;
}

std::size_t OsAreaSize(std::size_t flash_size) {
  constexpr std::size_t kOsStart = 0x10000;
  return (flash_size <= kSmallFlash ? 0x1E0000 : 0x270000) - kOsStart;
}

DeviceInfo DeviceInfo::ServedWith(std::span<const std::uint8_t> flash) const {
  DeviceInfo served = *this;
  if (!served.os_code_version) served.os_code_version = FlashOsVersion(flash).value_or(fallback_os_version);
  if (const auto id = FlashCalcId(flash)) served.product_id1 = *id;
  served.os_code_size = DecimalField(OsAreaSize(flash.size()) / 1024);
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
  PutField(record, offset, os_code_version.value_or(fallback_os_version), 16);
  PutField(record, offset, os_code_offset, 8);
  PutField(record, offset, os_code_size, 8);
  PutField(record, offset, protocol_version, 4);
  PutField(record, offset, product_id1, 8);
  PutField(record, offset, product_id2, 8);
  PutField(record, offset, user_name, 16);
  return record;
}

}  // namespace fxsim
