#pragma once
// The commands of the calculator program that upload-and-run starts for OS recovery, and
// the OS/BIOS record it answers the query with.
//
// Every command is a command packet (type 0x01) with escaped data; numbers in the data are
// big-endian. The program acknowledges each one, except "77" and "79", which leave it.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

enum class TExtendedCommand {
  WriteRam,     // "70": RAM address, length n, n bytes
  WriteFlash,   // "71": flash address, length, RAM source address
  EraseSector,  // "72": sector address
  OsBios,       // "76": acknowledge, then a data packet 02 "76" with the OS/BIOS record
  BiosStartup,  // "77": leaves for the boot code; no answer
  ForceReboot,  // "78": an answer is awaited, its content not tested
  Reboot,       // "79": no answer
  LcdContrast,  // "7A": contrast value
};

// The subtype ("70" ... "7A") and the name the logs use ("fxEXcmdWRITE_RAM" ...).
std::string_view ExtendedCommandSubtype(TExtendedCommand command);
std::string_view ExtendedCommandName(TExtendedCommand command);

// The program's RAM staging buffer, and the most bytes one RAM write carries.
inline constexpr std::uint32_t kStagingAddress = 0x88030000;
inline constexpr std::uint32_t kMaxRamWriteChunk = 1020;

// The 44-byte record the program answers "76" with, numbers in host order.
struct TOsBiosRecord {
  static constexpr std::size_t kSize = 44;
  std::uint16_t caller_code = 0;  // 0 BIOS, 1 fx-9860 OS, 2 fx-9750GII OS, 3 fx-7400GII OS, 4 fx-9750GII OS (FRANCE)
  std::uint16_t bios_type = 0;    // numbered as BiosTypeName
  std::array<std::uint8_t, 8> bios_id{};  // the BIOS identity bytes (offset 16)
  std::uint32_t flash_device = 0;         // offset 28
  std::uint32_t flash_manufacturer = 0;   // offset 32
  std::uint32_t processor_version = 0;    // PVR, offset 36
  std::uint32_t product = 0;              // PRR, offset 40
};

// The record from the unescaped data of the answer: the first 44 bytes count, bytes
// beyond are dropped, missing ones read as 0.
TOsBiosRecord ParseOsBiosRecord(std::span<const std::uint8_t> data);

// The words as big-endian bytes, in order.
std::vector<std::uint8_t> BigEndianWords(std::initializer_list<std::uint32_t> words);

}  // namespace ostrel
