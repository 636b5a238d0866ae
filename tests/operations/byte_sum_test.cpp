// The byte sum behind the OS checksum against a plain byte loop: lengths around the word
// size and the lane round (128 words), start offsets off the word alignment, and bytes of
// 0xFF, which would overflow a lane that took one word too many.

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "operations/flash_image_layout.h"

namespace ostrel {
namespace {

std::uint32_t PlainSum(std::span<const std::uint8_t> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0});
}

TEST(ByteSumTest, EqualsAPlainLoopForEveryLengthAndAlignment) {
  std::vector<std::uint8_t> random(5000);
  std::uint32_t state = 12345;
  for (std::uint8_t& b : random) {
    state = state * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(state >> 23);
  }
  const std::vector<std::uint8_t> all_ff(5000, 0xFF);
  const std::vector<std::uint8_t>* const inputs[] = {&random, &all_ff};
  for (const std::vector<std::uint8_t>* bytes : inputs) {
    for (std::size_t offset : {0, 1, 3, 7}) {
      for (std::size_t length : {0, 1, 7, 8, 9, 1023, 1024, 1025, 1031, 2048, 2055, 4096, 4993}) {
        const std::span<const std::uint8_t> part = std::span(*bytes).subspan(offset, length);
        EXPECT_EQ(ByteSum(part), PlainSum(part)) << "offset " << offset << ", length " << length
                                                 << (bytes == &all_ff ? ", all 0xFF" : ", random");
      }
    }
  }
}

TEST(ByteSumTest, OsChecksumLeavesOutTheGapOfClassZero) {
  std::vector<std::uint8_t> image(0x270000, 1);
  const OsLayout& layout = kOsLayouts[0];
  // 0x10000 .. 0x270000 - 8 without 0x230000 .. 0x260000.
  EXPECT_EQ(OsChecksum(image, layout), (0x270000u - 8 - 0x10000) - 0x30000);
  EXPECT_EQ(OsChecksum(image, kOsLayouts[1]), 0x250000u - 8 - 0x10000);
  // A short image: the bytes that are not there count as absent.
  image.resize(0x240000);
  EXPECT_EQ(OsChecksum(image, layout), 0x230000u - 0x10000);
}

}  // namespace
}  // namespace ostrel
