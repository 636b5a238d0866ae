// The file a read-out writes into: every failure is an IoError naming the file and the
// system's reason, never a quietly short file.

#include <gtest/gtest.h>

#include <vector>

#include "base/error.h"
#include "operations/image_file.h"
#include "support/temporary_folder.h"

namespace ostrel::testing {
namespace {

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const IoError& e) {
    return e.Text();
  }
  return "no error raised";
}

TEST(ImageFile, FailuresNameTheFileAndTheReason) {
  const TemporaryFolder folder;
  const std::string missing = folder.File("missing-folder/flash.bin");
  EXPECT_EQ(ErrorText([&] { TImageFile file(missing); }),
            "Cannot create file " + missing + ": No such file or directory");

  const std::vector<std::uint8_t> block(64 * 1024, 0x5A);
  EXPECT_EQ(ErrorText([&] {
              TImageFile file("/dev/full");
              file.Append(block);
              file.Close();
            }),
            "Cannot write file /dev/full: No space left on device");
}

}  // namespace
}  // namespace ostrel::testing
