#include "protocol/extended_commands.h"

#include <algorithm>

namespace ostrel {

namespace {

struct CommandRow {
  TExtendedCommand command;
  std::string_view subtype;
  std::string_view name;
};

constexpr CommandRow kCommands[] = {
    {TExtendedCommand::WriteRam, "70", "fxEXcmdWRITE_RAM"},
    {TExtendedCommand::WriteFlash, "71", "fxEXcmdWRITE_FLASH"},
    {TExtendedCommand::EraseSector, "72", "fxEXcmdERASE_SECTOR"},
    {TExtendedCommand::OsBios, "76", "fxEXcmd_OS_BIOS"},
    {TExtendedCommand::BiosStartup, "77", "fxEXcmdBIOSSTARTUP"},
    {TExtendedCommand::ForceReboot, "78", "fxEXcmdFORCEREBOOT"},
    {TExtendedCommand::Reboot, "79", "fxEXcmdREBOOT"},
    {TExtendedCommand::LcdContrast, "7A", "fxEXcmdLCD_CONTRAST"},
};

const CommandRow& RowOf(TExtendedCommand command) {
  return *std::find_if(std::begin(kCommands), std::end(kCommands),
                       [command](const CommandRow& row) { return row.command == command; });
}

std::uint32_t WordAt(const std::array<std::uint8_t, TOsBiosRecord::kSize>& bytes, std::size_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | bytes[offset + static_cast<std::size_t>(i)];
  return value;
}

}  // namespace

std::string_view ExtendedCommandSubtype(TExtendedCommand command) { return RowOf(command).subtype; }
std::string_view ExtendedCommandName(TExtendedCommand command) { return RowOf(command).name; }

TOsBiosRecord ParseOsBiosRecord(std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, TOsBiosRecord::kSize> bytes{};
  std::copy_n(data.begin(), std::min(data.size(), bytes.size()), bytes.begin());
  TOsBiosRecord record;
  record.caller_code = static_cast<std::uint16_t>(WordAt(bytes, 0, 2));
  record.bios_type = static_cast<std::uint16_t>(WordAt(bytes, 2, 2));
  std::copy_n(bytes.begin() + 16, record.bios_id.size(), record.bios_id.begin());
  record.flash_device = WordAt(bytes, 28, 4);
  record.flash_manufacturer = WordAt(bytes, 32, 4);
  record.processor_version = WordAt(bytes, 36, 4);
  record.product = WordAt(bytes, 40, 4);
  return record;
}

std::vector<std::uint8_t> BigEndianWords(std::initializer_list<std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 4);
  for (std::uint32_t word : words) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  return bytes;
}

}  // namespace ostrel
