// The flash image check on images made by the image generator (every layout class, known
// and unknown BIOS builds, small and large sizes) whose identification fields, OS end and
// size the input changes.
//
// Input: one byte chooses the image, one byte its size (kept, cut or extended), the rest
// overwrites the fields the check reads, window after window (type information, BIOS date
// and checksum, calculator ID, signature, OS version, system-call address, the last bytes
// of the OS with its date and stored checksum).
//
// What must hold: the result is one a completed check can give; a check that says OK has
// a signature, a known OS version, a file that reaches the end of the OS, and an OS
// checksum that the generator's own sum over the whole OS area confirms; a checksum error
// is a real difference; the layout the check picks agrees with the generator's.

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
    image.bytes = ostrel::GenerateTestImage(specs[i], &resolved);
    image.bytes.resize(resolved.size);
    image.os_end = resolved.os_end;
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
    file_size -= std::min<std::uint64_t>(file_size, (size_choice - 0x80u + 1) * 0x8000u);
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

  std::string info;
  std::int32_t bios_type = -1;
  const ostrel::ImageCheckResult result =
      ostrel::FXCheckImage(base.path, 0, nullptr, false, false, nullptr, info, bios_type, nullptr, {});

  // Back to the base image for the next input.
  Resize(base.fd, base.bytes.size());
  if (file_size < base.bytes.size()) WriteAt(base.fd, file_size, std::span(base.bytes).subspan(file_size));
  for (const Window& window : windows) WriteAt(base.fd, window.offset, std::span(base.bytes).subspan(window.offset, window.length));

  FUZZ_CHECK(result == ostrel::icrOK || result == ostrel::icrOsVersionError || result == ostrel::icrFileSizeError ||
                 result == ostrel::icrChecksumError || result == ostrel::icrCasioWinError,
             std::to_string(result));
  const bool signature = image.size() >= 0x10008 && std::memcmp(&image[0x10000], "CASIOWIN", 8) == 0;
  if (image.size() < ostrel::kMinimumImageSize) {
    FUZZ_CHECK(result == ostrel::icrFileSizeError, info);
    return 0;
  }
  FUZZ_CHECK(signature == (result != ostrel::icrCasioWinError), info);
  if (!signature) return 0;

  const auto layout = ostrel::ChooseOsLayout(std::string_view(reinterpret_cast<const char*>(&image[0x10020]), 10), bios_type);
  FUZZ_CHECK(layout.has_value() == (result != ostrel::icrOsVersionError), info);
  if (!layout) return 0;
  ostrel::TestImageSpec same_class;
  same_class.layout_class = layout->os_class;
  const ostrel::ResolvedTestImage expected_layout = ostrel::ResolveTestImage(same_class);
  FUZZ_CHECK(layout->os_end == expected_layout.os_end && layout->minimum_size == expected_layout.size,
             "layout of class " + std::to_string(layout->os_class));
  if (image.size() < layout->minimum_size) {
    FUZZ_CHECK(result == ostrel::icrFileSizeError, info);
    return 0;
  }
  const std::uint32_t sum = ostrel::TestImageChecksum(image, layout->os_class, layout->os_end);
  const std::uint32_t saved = BigEndian(image, layout->os_end - 8);
  FUZZ_CHECK(InfoValue(info, "OSCHKCALC") == ostrel::IntToHex(sum, 8), info);
  FUZZ_CHECK(InfoValue(info, "OSCHKSAVE") == ostrel::IntToHex(saved, 8), info);
  FUZZ_CHECK(result == (sum == saved ? ostrel::icrOK : ostrel::icrChecksumError), info);
  return 0;
}
