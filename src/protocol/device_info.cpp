// The calculator's self-description record and the names of the BIOS types.

#include <algorithm>

#include "protocol/fx9860sio.h"
#include "protocol/packet_codec.h"

namespace ostrel {

namespace {

struct InfoField {
  std::size_t offset;
  std::size_t size;
  const char* label;
};

constexpr InfoField kInfoFields[] = {
    {0, 8, "HardwareIdentifier: "},
    {8, 16, "ProcessorIdentifier: "},
    {24, 8, "PreprogrammedROMcapacity: "},
    {32, 8, "FlashROMcapacity: "},
    {40, 8, "RAMcapacity: "},
    {48, 16, "PreprogrammedROMversion: "},
    {64, 16, "Bootcodeversion: "},
    {80, 8, "Bootcodeoffset: "},
    {88, 8, "Bootcodesize: "},
    {96, 16, "OScodeversion: "},
    {112, 8, "OScodeoffset: "},
    {120, 8, "OScodesize: "},
    {128, 4, "Protocolversion: "},
    {132, 8, "ProductID1: "},
    {140, 8, "ProductID2: "},
    {148, 16, "NamesetbyuserinSYSTEM: "},
};

constexpr const char* kBiosTypeNames[] = {
    "standard BIOS", "slim BIOS",       "GII BIOS",     "AU BIOS",
    "standard BIOS (legacy)", "fx-7400GII BIOS", "fx-CG20 BIOS", "GII-2 BIOS",
};

}  // namespace

int TFX9860sio::GetDeviceInfo(TDeviceInfoRecord& record) {
  SendCommand("01", nullptr, 0, kTypeCommand, false, false);
  if (!CheckAnswer(std::string{static_cast<char>(kTypeAck), '0', '2', '1'}, true)) return 8;
  // The record travels escaped like any binary data field.
  const std::vector<std::uint8_t> data = UnescapeData(received_data_);
  std::copy_n(data.begin(), std::min(data.size(), record.size()), record.begin());
  return 0;
}

std::string FieldText(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size && bytes[i] != 0xFF && bytes[i] != 0x00; ++i) {
    text += static_cast<char>(bytes[i]);
  }
  return text;
}

std::string DeviceInfoText(const TDeviceInfoRecord& record) {
  std::string text;
  for (const InfoField& field : kInfoFields) {
    text += field.label;
    text += FieldText(record.data() + field.offset, field.size);
    text += "\r\n";
  }
  return text;
}

std::optional<std::uint32_t> FlashCapacity(const TDeviceInfoRecord& record) {
  constexpr std::size_t kCapacityOffset = 32;
  constexpr std::size_t kCapacityWidth = 8;
  const std::string digits = FieldText(record.data() + kCapacityOffset, kCapacityWidth);
  if (digits.empty()) return std::nullopt;
  std::uint64_t kib = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    kib = kib * 10 + static_cast<std::uint64_t>(c - '0');
  }
  const std::uint64_t bytes = kib * 1024;
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(bytes);
}

std::string BiosTypeName(std::uint32_t number) {
  const std::uint16_t type = static_cast<std::uint16_t>(number & 0xFFFF);
  if (type < std::size(kBiosTypeNames)) return kBiosTypeNames[type];
  return {};
}

}  // namespace ostrel
