#pragma once
// The flash image check: reads the identification fields of a flash image, decides the OS
// layout, recomputes the OS checksum and compares it with the stored one.
//
// A flash image is a byte-for-byte copy of the calculator's flash (file offset = flash
// offset; flash address = offset + 0xA0000000); numbers in it are big-endian.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "env/operation_status.h"
#include "env/options.h"

namespace ostrel {

class TMiniLogger;

enum ImageCheckResult : std::uint8_t {
  icrOK = 0,                // image accepted, or the check was skipped
  icrOsVersionError = 1,    // OS version at 0x10020 unknown
  icrUnknown = 2,           // initial value; no completed check returns it
  icrFileSizeError = 3,     // file too short
  icrChecksumError = 4,     // computed OS checksum differs from the stored one
  icrCasioWinError = 5,     // signature missing at 0x10000
  icrFileDoesNotExist = 6,  // no such file
};

// "OK", "OSVERSION_ERROR", "UNKNOWN", "FILESIZE_ERROR", "CHECKSUM_ERROR", "CASIOWIN_ERROR",
// "FILE_DOES_NOT_EXIST"; "undefined" for any other code.
std::string ImageCheckResultName(std::uint8_t code);

// Image offset at which flash address 0xA0000000 lies.
inline constexpr std::uint32_t kFlashBaseAddress = 0xA0000000;
// Every flash image is at least this long.
inline constexpr std::uint32_t kMinimumImageSize = 0x200000;
// The calculator ID: eight bytes at this image offset, all 0xFF when erased.
inline constexpr std::uint32_t kCalcIdOffset = 0xFFD0;
inline constexpr std::size_t kCalcIdLength = 8;

// Where the OS of one layout class lies in an image.
struct OsLayout {
  int os_class;                      // 0..3
  std::uint32_t os_end;              // OS date at os_end - 0x20, stored checksum at os_end - 8
  std::uint32_t minimum_size;        // the smallest image of this class
  std::uint32_t main_memory_offset;  // image offset of the main-memory area (0: none)
  std::uint32_t main_memory_sectors; // its number of 64 KiB sectors
};

// The layout of an OS version (ten characters) on a BIOS image type; nothing for an
// unknown version.
std::optional<OsLayout> ChooseOsLayout(std::string_view os_version, std::int32_t bios_image_type);

// Checks an image. See the notes in image_check.cpp for the steps. Returns the result code;
// `image_info` receives the failure message (if any) followed by the KEY=value lines read.
// `bios_image_type` and the optional main-memory outs are written only when the check gets
// that far, so callers initialise them. `check_repository` marks a check the user asked
// for: it turns on the notifications, the error dialog and (with `use_repository`) the
// checking of the other unregistered images of the folder. I/O failures raise IoError.
ImageCheckResult FXCheckImage(const std::string& image_file, TOptionWord options,
                              std::uint32_t* main_memory_offset, bool use_repository,
                              bool check_repository, TMiniLogger* logger, std::string& image_info,
                              std::int32_t& bios_image_type, std::uint32_t* main_memory_sectors,
                              TUserInterface ui);

}  // namespace ostrel
