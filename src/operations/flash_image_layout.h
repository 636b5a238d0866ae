#pragma once
// The layout of a flash image file: a byte-for-byte copy of the calculator's flash (file
// offset = flash offset; flash address = offset + 0xA0000000), numbers big-endian, the
// identification fields at fixed offsets, and the OS layout classes that decide where an
// OS ends and which area holds its main memory.
//
// The image check reads these fields, the backups write some of them, the test-image
// generator writes all of them; this header is the one place that says where they are.
// Header-only, so that tools can use it without linking the operations.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "base/big_endian.h"
#include "operations/known_bios.h"

namespace ostrel {

// Flash address of image offset 0.
inline constexpr std::uint32_t kFlashBaseAddress = 0xA0000000;
// The flash is erased and written in sectors of this size.
inline constexpr std::uint32_t kFlashSectorSize = 0x10000;
// Every flash image is at least this long.
inline constexpr std::uint32_t kMinimumImageSize = 0x200000;
// The OS begins here (the BIOS area lies below).
inline constexpr std::uint32_t kOsStart = 0x10000;
// The OS signature at kOsStart.
inline constexpr std::string_view kOsSignature = "CASIOWIN";

// A fixed-width field of an image.
struct TImageField {
  std::uint32_t offset;
  std::uint32_t width;
};

inline constexpr TImageField kTypeInfo1Field{0x000300, 4};       // hardware type word
inline constexpr TImageField kTypeInfo2Field{0x000304, 4};       // 0xFFAA.... SD model, 0x00AA.... without
inline constexpr TImageField kBiosDateField{0x00FFB0, kBiosDateLength};  // YYYY.MMDD.hhmm
inline constexpr TImageField kCalcIdField{0x00FFD0, 8};          // all 0xFF: the ID is erased
inline constexpr TImageField kBiosChecksumField{0x00FFFC, 4};    // as stored, never recomputed
inline constexpr TImageField kSignatureField{kOsStart, 8};       // "CASIOWIN"
inline constexpr TImageField kOsVersionField{0x010020, 10};      // NN.NN.NNNN
inline constexpr TImageField kSyscallAddressField{0x01007C, 4};  // the system-call table

// Where the OS of one layout class lies in an image.
struct OsLayout {
  int os_class;                       // 0..3
  std::uint32_t os_end;               // OS date at os_end - 0x20, stored checksum at os_end - 8
  std::uint32_t minimum_size;         // the smallest image of this class
  std::uint32_t main_memory_offset;   // image offset of the main-memory area (0: none)
  std::uint32_t main_memory_sectors;  // its number of 64 KiB sectors
  std::uint32_t gap_start;            // the checksum leaves [gap_start, gap_end) out (0, 0: no gap)
  std::uint32_t gap_end;

  TImageField OsDateField() const { return {os_end - 0x20, kBiosDateLength}; }
  TImageField OsChecksumField() const { return {os_end - 8, 4}; }
  // The OS checksum sums [kOsStart, ChecksumEnd()) without the gap.
  std::uint32_t ChecksumEnd() const { return os_end - 8; }
};

// The layout classes, indexed by class number.
inline constexpr std::array<OsLayout, 4> kOsLayouts = {{
    {0, 0x270000, 0x270000, 0x230000, 3, 0x230000, 0x260000},  // versions 01.xx but 01.02
    {1, 0x250000, 0x270000, 0x250000, 2, 0, 0},                // versions 02.00 .. 03.01
    {2, 0x270000, 0x270000, 0, 0, 0, 0},                       // version 01.02.0000
    {3, 0x1E0000, 0x200000, 0x1E0000, 2, 0, 0},                // 02.00 .. 03.01 on an fx-7400GII BIOS
}};

// The sizes an image check works with: the smallest image and the OS layouts by class.
// Flash images have kFlashImageGeometry; a scaled-down geometry (the same fields below
// 0x10100, shorter OS areas) lets the check run through the same steps on small images,
// which fuzzing needs.
struct TImageGeometry {
  std::uint32_t minimum_image_size;
  std::array<OsLayout, 4> layouts;
};
inline constexpr TImageGeometry kFlashImageGeometry{kMinimumImageSize, kOsLayouts};

// The layout of an OS version (ten characters) on a BIOS image type, from `layouts`;
// nothing for an unknown version.
inline std::optional<OsLayout> ChooseOsLayout(std::string_view os_version, std::int32_t bios_image_type,
                                              const std::array<OsLayout, 4>& layouts = kOsLayouts) {
  static constexpr std::string_view kVersions2And3[] = {"02.00.0000", "02.01.0000", "02.02.0000",
                                                        "03.00.0000", "03.01.0000"};
  for (std::string_view v : kVersions2And3) {
    if (os_version == v) return layouts[bios_image_type == kBiosTypeFx7400GII ? 3 : 1];
  }
  if (os_version == "01.02.0000") return layouts[2];
  if (os_version.substr(0, 2) == "01") return layouts[0];
  return std::nullopt;
}

// ---- field readers and writers over bytes ----

// The bytes of a field inside an image held in memory (the image must be long enough).
inline std::span<const std::uint8_t> FieldBytes(std::span<const std::uint8_t> image, TImageField field) {
  return image.subspan(field.offset, field.width);
}
inline std::span<std::uint8_t> FieldBytes(std::span<std::uint8_t> image, TImageField field) {
  return image.subspan(field.offset, field.width);
}

inline std::uint32_t ReadWordField(std::span<const std::uint8_t> image, TImageField field) {
  return ReadBigEndianWord(FieldBytes(image, field).data());
}

inline void WriteWordField(std::span<std::uint8_t> image, TImageField field, std::uint32_t value) {
  WriteBigEndianWord(FieldBytes(image, field).data(), value);
}

// Writes a text into a field, cut to its width or padded with `pad`.
inline void WriteTextField(std::span<std::uint8_t> image, TImageField field, std::string_view text,
                           std::uint8_t pad) {
  const auto bytes = FieldBytes(image, field);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : pad;
  }
}

inline void FillField(std::span<std::uint8_t> image, TImageField field, std::uint8_t value) {
  const auto bytes = FieldBytes(image, field);
  std::fill(bytes.begin(), bytes.end(), value);
}

// The sum of the bytes, modulo 2^32. Eight bytes at a time: the even and the odd bytes of a
// word go into four 16-bit lanes, which 128 words cannot overflow (128 * 2 * 255 < 65536),
// then the lanes are folded into the sum; a plain byte loop takes the rest.
inline std::uint32_t ByteSum(std::span<const std::uint8_t> bytes) {
  constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  constexpr std::uint64_t kEvenLanes = 0x0000FFFF0000FFFFull;
  constexpr std::size_t kWordsPerRound = 128;
  std::uint32_t sum = 0;
  std::size_t i = 0;
  while (bytes.size() - i >= 8) {
    const std::size_t words = std::min(kWordsPerRound, (bytes.size() - i) / 8);
    std::uint64_t lanes = 0;
    for (std::size_t w = 0; w < words; ++w, i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      lanes += (word & kEvenBytes) + ((word >> 8) & kEvenBytes);
    }
    lanes = (lanes & kEvenLanes) + ((lanes >> 16) & kEvenLanes);
    sum += static_cast<std::uint32_t>(lanes) + static_cast<std::uint32_t>(lanes >> 32);
  }
  for (; i < bytes.size(); ++i) sum += bytes[i];
  return sum;
}

// The OS checksum of an image held in memory: the byte sum of [kOsStart, ChecksumEnd())
// without the layout's gap; bytes past the end of `image` count as absent.
inline std::uint32_t OsChecksum(std::span<const std::uint8_t> image, const OsLayout& layout) {
  const std::size_t end = std::min<std::size_t>(image.size(), layout.ChecksumEnd());
  if (end <= kOsStart) return 0;
  const std::span<const std::uint8_t> os = image.subspan(kOsStart, end - kOsStart);
  if (layout.gap_end <= layout.gap_start || layout.gap_start >= end) return ByteSum(os);
  const std::size_t gap_start = std::max<std::size_t>(layout.gap_start, kOsStart) - kOsStart;
  const std::size_t gap_end = std::min<std::size_t>(layout.gap_end, end) - kOsStart;
  return ByteSum(os.first(gap_start)) + ByteSum(os.subspan(gap_end));
}

// The fields an image's boot code area and OS header carry, as an image is built.
struct TOsImageFields {
  std::uint32_t type_info1;
  std::uint32_t type_info2;
  std::string_view bios_date;
  std::optional<std::string_view> calc_id;  // nothing: an erased ID (eight bytes 0xFF)
  std::uint32_t bios_checksum;
  std::string_view signature;
  std::string_view os_version;
  std::uint32_t syscall_address;
  std::string_view os_date;
};

// Writes `fields` into `image`, the OS date where `layout` keeps it; texts are padded with
// blanks. The OS checksum is the caller's to write, once every byte is in place.
inline void WriteOsImageFields(std::span<std::uint8_t> image, const OsLayout& layout, const TOsImageFields& fields) {
  WriteWordField(image, kTypeInfo1Field, fields.type_info1);
  WriteWordField(image, kTypeInfo2Field, fields.type_info2);
  WriteTextField(image, kBiosDateField, fields.bios_date, ' ');
  if (fields.calc_id) {
    WriteTextField(image, kCalcIdField, *fields.calc_id, ' ');
  } else {
    FillField(image, kCalcIdField, 0xFF);
  }
  WriteWordField(image, kBiosChecksumField, fields.bios_checksum);
  WriteTextField(image, kSignatureField, fields.signature, ' ');
  WriteTextField(image, kOsVersionField, fields.os_version, ' ');
  WriteWordField(image, kSyscallAddressField, fields.syscall_address);
  WriteTextField(image, layout.OsDateField(), fields.os_date, ' ');
}

// True when every byte of the calculator ID is 0xFF.
inline bool IsErasedCalcId(std::span<const std::uint8_t> id) {
  return std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace ostrel
