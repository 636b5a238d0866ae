#pragma once
// Files an image check refuses, for the command-line tests of the commands that check an
// image first.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "imagegen/image_generator.h"
#include "support/temporary_folder.h"

namespace ostrel::testing {

// The image of damaged.fls: a stored OS checksum one above the right one.
inline TestImageSpec DamagedImageSpec() {
  TestImageSpec damaged;
  damaged.correct_checksum = false;
  return damaged;
}

// Writes into `folder`: damaged.fls (a wrong OS checksum), unknown.fls (OS version
// 09.99.0000), short.fls (10240 zero bytes, shorter than any flash image) and the folder
// dir.fls.
inline void WriteRefusedImages(const TemporaryFolder& folder) {
  WriteTestImage(DamagedImageSpec(), folder.File("damaged.fls"));
  TestImageSpec unknown_os;
  unknown_os.os_version = "09.99.0000";
  WriteTestImage(unknown_os, folder.File("unknown.fls"));
  WriteImageFile(std::vector<std::uint8_t>(0x2800), folder.File("short.fls"));
  std::filesystem::create_directory(folder.File("dir.fls"));
}

}  // namespace ostrel::testing
