#include <algorithm>

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

}  // namespace

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
  PutField(record, offset, os_code_version, 16);
  PutField(record, offset, os_code_offset, 8);
  PutField(record, offset, os_code_size, 8);
  PutField(record, offset, protocol_version, 4);
  PutField(record, offset, product_id1, 8);
  PutField(record, offset, product_id2, 8);
  PutField(record, offset, user_name, 16);
  return record;
}

}  // namespace fxsim
