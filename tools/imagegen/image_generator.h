#pragma once
// Test flash images: a flash image of a chosen size, OS version, layout class and BIOS
// build, with a correct or a deliberately wrong OS checksum, filled with a deterministic
// pseudo-random pattern so that the checksum is not trivial.
//
// Where each field lies comes from the image layout (operations/flash_image_layout.h); the
// tests of the check and of this generator pin the offsets with literal numbers, so a
// fault in the layout cannot hide behind both using it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// What to generate. Every field left empty takes a default that fits the others:
// - no class and no version: class 1 with version "02.00.0000";
// - a class without a version: a version of that class ("01.04.0000", "02.00.0000",
//   "01.02.0000", "02.00.0000" for classes 0..3);
// - a version without a class: the class the version selects on the chosen BIOS;
// - no BIOS row: row 10 (fx-7400GII) for class 3, row 1 for classes 0 and 2, row 7 else;
// - no size: the minimum size of the class.
// A class that does not fit the version is allowed: the class decides where the OS ends
// (where the OS date and the checksum are written); the version is only written.
struct TestImageSpec {
  std::optional<std::uint32_t> size;         // file size; shorter than the OS end cuts it
  std::optional<std::string> os_version;     // 10 characters at 0x10020
  std::optional<int> layout_class;           // 0..3
  std::optional<int> bios_row;               // 1..11 of KnownBiosTable; 0: an unknown BIOS
  std::optional<std::string> bios_date;      // overrides the row's date (14 characters)
  std::optional<std::uint32_t> bios_checksum;  // overrides the row's checksum
  bool correct_checksum = true;              // false: the stored OS checksum is off by one
  std::string calc_id = "OSTREL01";          // 8 bytes at 0xFFD0 (cut or padded with blanks)
  bool erased_calc_id = false;               // true: 8 bytes 0xFF
  std::uint32_t type_info1 = 0x47593336;     // "GY36"
  std::uint32_t type_info2 = 0xFFAA0001;     // an SD-card model
  std::uint32_t syscall_address = 0x80010070;
  std::string os_date = "2009.0601.1200";    // 14 characters at OS end - 0x20
  bool signature = true;                     // false: no "CASIOWIN" at 0x10000
  std::uint64_t seed = 1;                    // seed of the fill pattern
};

// The image description with every default filled in, and where its OS ends.
struct ResolvedTestImage {
  std::uint32_t size;
  std::string os_version;
  int layout_class;
  int bios_row;
  std::string bios_date;
  std::uint32_t bios_checksum;
  std::uint32_t os_end;       // OS date at os_end - 0x20, stored checksum at os_end - 8
  std::uint32_t os_checksum;  // the correct OS checksum (set by GenerateTestImage)
};

// A program image for upload-and-run: a pseudo-random body under the 48-byte header whose
// big-endian words at offsets 36 and 40 are the load and start addresses. The defaults
// are those of the recovery program (10240 bytes loaded and started at 0x88024000), which
// a simulated calculator then plays.
struct TestProgramSpec {
  std::uint32_t size = 10240;
  std::uint32_t load_address = 0x88024000;
  std::uint32_t start_address = 0x88024000;
  std::uint64_t seed = 7;
};

std::vector<std::uint8_t> GenerateTestProgram(const TestProgramSpec& spec = {});

// Fails with std::invalid_argument for a class outside 0..3 or a BIOS row outside 0..11.
ResolvedTestImage ResolveTestImage(const TestImageSpec& spec);

// The image bytes; `resolved`, when given, receives the resolved description and the checksum.
std::vector<std::uint8_t> GenerateTestImage(const TestImageSpec& spec,
                                            ResolvedTestImage* resolved = nullptr);

// Writes bytes to a file (created or replaced); throws std::runtime_error on failure.
void WriteImageFile(const std::vector<std::uint8_t>& bytes, const std::string& path);

// GenerateTestImage, then WriteImageFile.
void WriteTestImage(const TestImageSpec& spec, const std::string& path,
                    ResolvedTestImage* resolved = nullptr);

// The OS checksum of an image as the layout defines it: the bytes from 0x10000 to
// os_end - 8, without 0x230000-0x25FFFF for class 0; bytes past the data count as absent.
std::uint32_t TestImageChecksum(const std::vector<std::uint8_t>& bytes, int layout_class,
                                std::uint32_t os_end);

}  // namespace ostrel
