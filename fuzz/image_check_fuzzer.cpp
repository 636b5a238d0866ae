// The flash image check on images made by the image generator (every layout class, known
// and unknown BIOS builds, small and large sizes) whose identification fields, OS end and
// size the input changes. The check runs with a scaled-down geometry: the same fields
// below 0x10100 and the same steps, OS areas of a few 64 KiB sectors instead of 2.5 MiB, so
// that an execution takes microseconds rather than tens of milliseconds. The real layout
// table is pinned by the image check's tests.
//
// Input: one byte chooses the image, one byte its size (kept, cut or extended), the rest
// overwrites the fields the check reads, window after window (type information, BIOS date
// and checksum, calculator ID, signature, OS version, system-call address, the last bytes
// of the OS with its date and stored checksum).
//
// What must hold: the result is one a completed check can give; a check that says OK has
// a signature, a known OS version, a file that reaches the end of the OS, and an OS
// checksum that an independent sum over the whole OS area confirms (the pseudo-random fill
// makes a skipped block show); a checksum error is a real difference; the layout the check
// picks is the one of the class the real table picks for the same version and BIOS.

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "imagegen/image_generator.h"
#include "operations/image_check.h"

namespace {

using ostrel::fuzz::InputReader;

// Class by class like the flash layouts: class 0 with a main-memory area and a gap that the
// checksum leaves out, the OS end inside the image or at its end, class 3 the shortest.
constexpr ostrel::TImageGeometry kSmallGeometry{
    0x20000,
    {{
        {0, 0x50000, 0x50000, 0x30000, 1, 0x30000, 0x40000},
        {1, 0x30000, 0x50000, 0x30000, 2, 0, 0},
        {2, 0x50000, 0x50000, 0, 0, 0, 0},
        {3, 0x20000, 0x40000, 0x20000, 2, 0, 0},
    }}};

struct Window {
  std::uint32_t offset;
  std::uint32_t length;
};

struct BaseImage {
  std::vector<std::uint8_t> bytes;
  std::uint32_t os_end;
  std::string path;
  int fd = -1;
};

std::vector<BaseImage>& Images() {
  static std::vector<BaseImage> images;
  return images;
}

std::vector<Window> Windows(const BaseImage& image) {
  return {{0x300, 8}, {0xFFB0, 0x50}, {0x10000, 0x80}, {image.os_end - 0x40, 0x40}};
}

void WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size())) {
    ostrel::fuzz::Violation(__FILE__, __LINE__, "cannot write the scratch image");
  }
}

void Resize(int fd, std::uint64_t size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) ostrel::fuzz::Violation(__FILE__, __LINE__, "ftruncate");
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::uint32_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) << 24 | static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
}

// The value of a KEY=value line of the image information.
std::string InfoValue(const std::string& info, const std::string& key) {
  const std::string wanted = key + "=";
  for (std::size_t start = 0; start < info.size();) {
    std::size_t end = info.find("\r\n", start);
    if (end == std::string::npos) end = info.size();
    if (info.compare(start, wanted.size(), wanted) == 0) return info.substr(start + wanted.size(), end - start - wanted.size());
    start = end + 2;
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::vector<ostrel::TestImageSpec> specs(8);
  for (int layout_class = 0; layout_class < 4; ++layout_class) specs[static_cast<std::size_t>(layout_class)].layout_class = layout_class;
  specs[4].layout_class = 1;
  specs[4].size = 0x400000;
  specs[5].bios_row = 0;
  specs[6].erased_calc_id = true;
  specs[6].os_version = "03.00.0000";
  specs[7].layout_class = 3;
  specs[7].correct_checksum = false;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    ostrel::ResolvedTestImage resolved;
    BaseImage image;
    const std::vector<std::uint8_t> full = ostrel::GenerateTestImage(specs[i], &resolved);
    // The generated fields and fill, with the OS end, date and checksum of the small layout
    // of the same class; a large image stays larger than its class's minimum.
    const ostrel::OsLayout& small = kSmallGeometry.layouts[static_cast<std::size_t>(resolved.layout_class)];
    image.bytes.assign(full.begin(), full.begin() + (resolved.size > resolved.os_end ? 0x80000 : small.minimum_size));
    std::copy_n(full.begin() + resolved.os_end - 0x20, 0x20, image.bytes.begin() + small.os_end - 0x20);
    const std::uint32_t sum = ostrel::OsChecksum(image.bytes, small) + (specs[i].correct_checksum ? 0 : 1);
    ostrel::WriteWordField(image.bytes, small.OsChecksumField(), sum);
    image.os_end = small.os_end;
    image.path = ostrel::fuzz::ScratchFile("image" + std::to_string(i) + ".bin");
    ostrel::fuzz::WriteFileBytes(image.path, image.bytes);
    image.fd = ::open(image.path.c_str(), O_RDWR);
    Images().push_back(std::move(image));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputReader input(std::span(data, size));
  BaseImage& base = Images()[input.Byte() % Images().size()];
  const std::uint8_t size_choice = input.Byte();
  std::uint64_t file_size = base.bytes.size();
  if (size_choice >= 0xC0) {
    file_size += (size_choice - 0xC0u) * 0x1000u;
  } else if (size_choice >= 0x80) {
    file_size -= std::min<std::uint64_t>(file_size, (size_choice - 0x80u + 1) * 0x1000u);
  }

  // The image as the check will see it, in memory and in the file.
  std::vector<std::uint8_t> image = base.bytes;
  const std::vector<Window> windows = Windows(base);
  for (const Window& window : windows) {
    const auto changed = input.Take(window.length);
    std::copy(changed.begin(), changed.end(), image.begin() + window.offset);
    WriteAt(base.fd, window.offset, std::span(image).subspan(window.offset, window.length));
  }
  image.resize(file_size, 0);
  Resize(base.fd, file_size);

  ostrel::TImageCheckRequest request;
  request.image_file = base.path;
  request.geometry = kSmallGeometry;
  const ostrel::TImageCheckReport report = ostrel::CheckFlashImage(request, {});
  const ostrel::ImageCheckResult result = report.result;
  const std::string info = report.ImageInfo();
  const std::int32_t bios_type = report.bios_image_type.value_or(-1);

  // Back to the base image for the next input.
  Resize(base.fd, base.bytes.size());
  if (file_size < base.bytes.size()) WriteAt(base.fd, file_size, std::span(base.bytes).subspan(file_size));
  for (const Window& window : windows) WriteAt(base.fd, window.offset, std::span(base.bytes).subspan(window.offset, window.length));

  FUZZ_CHECK(result == ostrel::icrOK || result == ostrel::icrOsVersionError || result == ostrel::icrFileSizeError ||
                 result == ostrel::icrChecksumError || result == ostrel::icrCasioWinError,
             std::to_string(result));
  const bool signature = image.size() >= 0x10008 && std::memcmp(&image[0x10000], "CASIOWIN", 8) == 0;
  if (image.size() < kSmallGeometry.minimum_image_size) {
    FUZZ_CHECK(result == ostrel::icrFileSizeError, info);
    return 0;
  }
  FUZZ_CHECK(signature == (result != ostrel::icrCasioWinError), info);
  if (!signature) return 0;

  const std::string_view version(reinterpret_cast<const char*>(&image[0x10020]), 10);
  const auto flash_layout = ostrel::ChooseOsLayout(version, bios_type);
  FUZZ_CHECK(flash_layout.has_value() == (result != ostrel::icrOsVersionError), info);
  if (!flash_layout) return 0;
  const ostrel::OsLayout* layout = &kSmallGeometry.layouts[static_cast<std::size_t>(flash_layout->os_class)];
  FUZZ_CHECK(layout->os_class == flash_layout->os_class, "layout of class " + std::to_string(layout->os_class));
  if (image.size() < layout->minimum_size) {
    FUZZ_CHECK(result == ostrel::icrFileSizeError, info);
    return 0;
  }
  const std::uint32_t sum = ostrel::OsChecksum(image, *layout);
  const std::uint32_t saved = BigEndian(image, layout->os_end - 8);
  FUZZ_CHECK(InfoValue(info, "OSCHKCALC") == ostrel::IntToHex(sum, 8), info);
  FUZZ_CHECK(InfoValue(info, "OSCHKSAVE") == ostrel::IntToHex(saved, 8), info);
  FUZZ_CHECK(result == (sum == saved ? ostrel::icrOK : ostrel::icrChecksumError), info);
  return 0;
}
