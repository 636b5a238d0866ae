#include "imagegen/image_generator.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "operations/known_bios.h"

namespace ostrel {

namespace {

struct ClassLayout {
  std::uint32_t os_end;
  std::uint32_t minimum_size;
  const char* default_version;
  int default_bios_row;
};

// Where the OS of each layout class ends, and the smallest file of that class.
constexpr ClassLayout kClassLayouts[4] = {
    {0x270000, 0x270000, "01.04.0000", 1},
    {0x250000, 0x270000, "02.00.0000", 7},
    {0x270000, 0x270000, "01.02.0000", 1},
    {0x1E0000, 0x200000, "02.00.0000", 10},
};

constexpr std::uint32_t kOsStart = 0x10000;
constexpr std::uint32_t kClass0GapStart = 0x230000;
constexpr std::uint32_t kClass0GapEnd = 0x260000;

// An unknown BIOS build: a date and checksum that no row of the table has.
constexpr const char* kUnknownBiosDate = "2010.0101.0000";
constexpr std::uint32_t kUnknownBiosChecksum = 0x00123456;

int ClassOfVersion(const std::string& version, std::int32_t bios_type) {
  static const char* const kNewVersions[] = {"02.00.0000", "02.01.0000", "02.02.0000",
                                             "03.00.0000", "03.01.0000"};
  for (const char* v : kNewVersions) {
    if (version == v) return bios_type == kBiosTypeFx7400GII ? 3 : 1;
  }
  if (version == "01.02.0000") return 2;
  if (version.rfind("01", 0) == 0) return 0;
  return 1;  // an unknown version: lay it out like the common class
}

// splitmix64: small, fast and the same on every platform.
class FillPattern {
 public:
  explicit FillPattern(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

void Fill(std::vector<std::uint8_t>& bytes, std::uint64_t seed) {
  FillPattern pattern(seed);
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    std::uint64_t word = pattern.Next();
    for (std::size_t k = 0; k < 8 && i + k < bytes.size(); ++k) {
      bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
  }
}

void PutText(std::vector<std::uint8_t>& bytes, std::uint32_t offset, const std::string& text,
             std::size_t width, std::uint8_t pad) {
  for (std::size_t i = 0; i < width; ++i) {
    bytes[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : pad;
  }
}

void PutBigEndian(std::vector<std::uint8_t>& bytes, std::uint32_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

}  // namespace

ResolvedTestImage ResolveTestImage(const TestImageSpec& spec) {
  if (spec.layout_class && (*spec.layout_class < 0 || *spec.layout_class > 3)) {
    throw std::invalid_argument("layout class must be 0..3");
  }
  if (spec.bios_row && (*spec.bios_row < 0 || *spec.bios_row > static_cast<int>(KnownBiosTable.size()))) {
    throw std::invalid_argument("BIOS row must be 0..11");
  }
  ResolvedTestImage r{};
  // The BIOS row decides the class of a version 2/3 OS, and the class may decide the row.
  if (spec.layout_class) {
    r.layout_class = *spec.layout_class;
    r.os_version = spec.os_version.value_or(kClassLayouts[r.layout_class].default_version);
    r.bios_row = spec.bios_row.value_or(kClassLayouts[r.layout_class].default_bios_row);
  } else {
    r.os_version = spec.os_version.value_or("02.00.0000");
    r.bios_row = spec.bios_row.value_or(7);
    const std::int32_t type = r.bios_row == 0 ? kBiosTypeUnknown : KnownBiosTable[r.bios_row - 1].type;
    r.layout_class = ClassOfVersion(r.os_version, type);
    if (!spec.bios_row && r.layout_class != 1) {
      r.bios_row = kClassLayouts[r.layout_class].default_bios_row;
    }
  }
  if (r.bios_row == 0) {
    r.bios_date = kUnknownBiosDate;
    r.bios_checksum = kUnknownBiosChecksum;
  } else {
    r.bios_date = std::string(KnownBiosTable[r.bios_row - 1].date);
    r.bios_checksum = KnownBiosTable[r.bios_row - 1].checksum;
  }
  if (spec.bios_date) r.bios_date = *spec.bios_date;
  if (spec.bios_checksum) r.bios_checksum = *spec.bios_checksum;
  const ClassLayout& layout = kClassLayouts[r.layout_class];
  r.os_end = layout.os_end;
  r.size = spec.size.value_or(layout.minimum_size);
  return r;
}

std::uint32_t TestImageChecksum(const std::vector<std::uint8_t>& bytes, int layout_class,
                                std::uint32_t os_end) {
  std::uint32_t sum = 0;
  const std::size_t end = std::min<std::size_t>(bytes.size(), os_end - 8);
  for (std::size_t i = kOsStart; i < end; ++i) {
    if (layout_class == 0 && i >= kClass0GapStart && i < kClass0GapEnd) continue;
    sum += bytes[i];
  }
  return sum;
}

std::vector<std::uint8_t> GenerateTestImage(const TestImageSpec& spec, ResolvedTestImage* resolved) {
  ResolvedTestImage r = ResolveTestImage(spec);
  // Build the whole OS even for a short file, then cut: a short file is a cut-off image.
  std::vector<std::uint8_t> bytes(std::max<std::size_t>(r.size, r.os_end));
  Fill(bytes, spec.seed);

  PutBigEndian(bytes, 0x300, spec.type_info1);
  PutBigEndian(bytes, 0x304, spec.type_info2);
  PutText(bytes, 0xFFB0, r.bios_date, kBiosDateLength, ' ');
  if (spec.erased_calc_id) {
    std::fill_n(bytes.begin() + 0xFFD0, 8, std::uint8_t{0xFF});
  } else {
    PutText(bytes, 0xFFD0, spec.calc_id, 8, ' ');
  }
  PutBigEndian(bytes, 0xFFFC, r.bios_checksum);
  if (spec.signature) {
    PutText(bytes, kOsStart, "CASIOWIN", 8, ' ');
  } else {
    PutText(bytes, kOsStart, "NOTAN_OS", 8, ' ');
  }
  PutText(bytes, 0x10020, r.os_version, 10, ' ');
  PutBigEndian(bytes, 0x1007C, spec.syscall_address);
  PutText(bytes, r.os_end - 0x20, spec.os_date, 14, ' ');

  std::uint32_t sum = TestImageChecksum(bytes, r.layout_class, r.os_end);
  PutBigEndian(bytes, r.os_end - 8, spec.correct_checksum ? sum : sum + 1);
  r.os_checksum = sum;
  if (resolved) *resolved = r;

  bytes.resize(r.size);
  return bytes;
}

void WriteImageFile(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
  if (!file) throw std::runtime_error("cannot create " + path);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    throw std::runtime_error("cannot write " + path);
  }
  if (std::fclose(file.release()) != 0) throw std::runtime_error("cannot write " + path);
}

void WriteTestImage(const TestImageSpec& spec, const std::string& path, ResolvedTestImage* resolved) {
  WriteImageFile(GenerateTestImage(spec, resolved), path);
}

}  // namespace ostrel
