#pragma once
// The flash image check: reads the identification fields of a flash image, decides the OS
// layout, recomputes the OS checksum and compares it with the stored one.
//
// The image layout (fields, OS layout classes) is operations/flash_image_layout.h.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "env/operation_status.h"
#include "env/options.h"
#include "operations/flash_image_layout.h"

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

// What to check and how.
struct TImageCheckRequest {
  std::string image_file;
  TOptionWord options = 0;  // OPT_IGNORE_CHECKSUM skips the check, OPT_IGNORE_MAIN_MEMORY asks for the area
  bool use_repository = false;   // register the image in the folder's repository
  // A check the user asked for: it turns on the notifications, the error dialog and (with
  // use_repository) the checking of the other unregistered images of the folder.
  bool check_repository = false;
  TMiniLogger* logger = nullptr;  // optional
  TImageGeometry geometry = kFlashImageGeometry;  // a smaller one only in tests and fuzzing
};

struct TImageInfoLine {
  std::string key;
  std::string value;
};

// An image offset and a number of 64 KiB sectors.
struct TMainMemoryArea {
  std::uint32_t offset = 0;
  std::uint32_t sectors = 0;
};

struct TImageCheckReport {
  ImageCheckResult result = icrUnknown;
  std::string message;               // the failure message, empty when there is none
  std::vector<TImageInfoLine> lines;  // KEY=value, in the order they were read
  // Set once the check got that far: the BIOS image type after the BIOS fields were read,
  // the main-memory area after the OS layout was chosen (zero without OPT_IGNORE_MAIN_MEMORY).
  std::optional<std::int32_t> bios_image_type;
  std::optional<TMainMemoryArea> main_memory;
  // What a failure is about: the path's kind when it is there but no file ("a folder"), the
  // file's size once it was opened, and the size it would have needed when it was too short.
  std::string not_a_file;
  std::optional<std::uint64_t> file_size;
  std::uint64_t required_size = 0;

  // The value of a KEY=value line, empty when the check did not get that far.
  std::string Value(std::string_view key) const;

  // The image information: the message, then "KEY=value" + CR LF per line.
  std::string ImageInfo() const;
};

// Why a check failed (what is wrong with the image) and what to do about it; both empty
// for a check that passed.
struct TImageCheckFinding {
  std::string problem;
  std::string advice;
  std::string joint = "; ";  // between the two in a verdict
};
TImageCheckFinding ImageCheckFinding(const TImageCheckReport& report);

// Why a check failed and what to do, for a user: "<file>: <what is wrong>: <what to do>",
// e.g. "os.fls: the OS checksum is wrong (stored 11F2A9CF, computed 11F2A9CE): the image is
// damaged; take a new backup or use another image". Empty for a check that passed.
std::string ImageCheckVerdict(const TImageCheckReport& report, const std::string& image_file);

// Checks an image. See the notes in image_check.cpp for the steps. I/O failures raise IoError.
TImageCheckReport CheckFlashImage(const TImageCheckRequest& request, TUserInterface ui);

// CheckFlashImage with the positional form of the front ends: returns the result code;
// `image_info` receives ImageInfo(); `bios_image_type` and the optional main-memory outs
// are written only when the check gets that far, so callers initialise them.
ImageCheckResult FXCheckImage(const std::string& image_file, TOptionWord options,
                              std::uint32_t* main_memory_offset, bool use_repository,
                              bool check_repository, TMiniLogger* logger, std::string& image_info,
                              std::int32_t& bios_image_type, std::uint32_t* main_memory_sectors,
                              TUserInterface ui);

}  // namespace ostrel
