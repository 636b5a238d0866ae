#include "imagegen/image_generator.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "operations/flash_image_layout.h"

namespace ostrel {

namespace {

// The OS version and BIOS row an image of each layout class gets when the request names
// neither.
struct ClassDefaults {
  const char* version;
  int bios_row;
};

constexpr ClassDefaults kClassDefaults[4] = {
    {"01.04.0000", 1},
    {"02.00.0000", 7},
    {"01.02.0000", 1},
    {"02.00.0000", 10},
};

// An unknown BIOS build: a date and checksum that no row of the table has.
constexpr const char* kUnknownBiosDate = "2010.0101.0000";
constexpr std::uint32_t kUnknownBiosChecksum = 0x00123456;

int ClassOfVersion(const std::string& version, std::int32_t bios_type) {
  const std::optional<OsLayout> layout = ChooseOsLayout(version, bios_type);
  return layout ? layout->os_class : 1;  // an unknown version: lay it out like the common class
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
    r.os_version = spec.os_version.value_or(kClassDefaults[r.layout_class].version);
    r.bios_row = spec.bios_row.value_or(kClassDefaults[r.layout_class].bios_row);
  } else {
    r.os_version = spec.os_version.value_or("02.00.0000");
    r.bios_row = spec.bios_row.value_or(7);
    const std::int32_t type = r.bios_row == 0 ? kBiosTypeUnknown : KnownBiosTable[r.bios_row - 1].type;
    r.layout_class = ClassOfVersion(r.os_version, type);
    if (!spec.bios_row && r.layout_class != 1) {
      r.bios_row = kClassDefaults[r.layout_class].bios_row;
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
  const OsLayout& layout = kOsLayouts[static_cast<std::size_t>(r.layout_class)];
  r.os_end = layout.os_end;
  r.size = spec.size.value_or(layout.minimum_size);
  return r;
}

std::uint32_t TestImageChecksum(const std::vector<std::uint8_t>& bytes, int layout_class,
                                std::uint32_t os_end) {
  OsLayout layout = kOsLayouts.at(static_cast<std::size_t>(layout_class));
  layout.os_end = os_end;
  return OsChecksum(bytes, layout);
}

std::vector<std::uint8_t> GenerateTestImage(const TestImageSpec& spec, ResolvedTestImage* resolved) {
  ResolvedTestImage r = ResolveTestImage(spec);
  // Build the whole OS even for a short file, then cut: a short file is a cut-off image.
  std::vector<std::uint8_t> bytes(std::max<std::size_t>(r.size, r.os_end));
  Fill(bytes, spec.seed);
  const std::span<std::uint8_t> image(bytes);
  const OsLayout& layout = kOsLayouts[static_cast<std::size_t>(r.layout_class)];

  WriteOsImageFields(image, layout,
                     {spec.type_info1, spec.type_info2, r.bios_date,
                      spec.erased_calc_id ? std::nullopt : std::optional<std::string_view>(spec.calc_id),
                      r.bios_checksum, spec.signature ? kOsSignature : "NOTAN_OS", r.os_version,
                      spec.syscall_address, spec.os_date});

  std::uint32_t sum = TestImageChecksum(bytes, r.layout_class, r.os_end);
  WriteWordField(image, layout.OsChecksumField(), spec.correct_checksum ? sum : sum + 1);
  r.os_checksum = sum;
  if (resolved) *resolved = r;

  bytes.resize(r.size);
  return bytes;
}

std::vector<std::uint8_t> GenerateTestProgram(const TestProgramSpec& spec) {
  std::vector<std::uint8_t> bytes(spec.size);
  Fill(bytes, spec.seed);
  if (bytes.size() >= 48) {
    WriteBigEndianWord(&bytes[36], spec.load_address);
    WriteBigEndianWord(&bytes[40], spec.start_address);
  }
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
