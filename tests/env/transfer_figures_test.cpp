#include <gtest/gtest.h>

#include "env/transfer_figures.h"

namespace ostrel {
namespace {

TEST(TransferFiguresTest, SpeedTextsOfTheTransfers) {
  // A read-out: image bytes, payload, line, last block; a flash write: average, maximum, current.
  const auto read_out = ParseTransferFigures("2555904/2964892/3098443/47042");
  ASSERT_TRUE(read_out);
  EXPECT_EQ(read_out->average, 2555904u);
  EXPECT_EQ(read_out->now, 47042u);
  const auto write = ParseTransferFigures("11000/11520/10900");
  ASSERT_TRUE(write);
  EXPECT_EQ(write->average, 11000u);
  EXPECT_EQ(write->now, 10900u);
  for (const char* text : {"", "12", "1//2", "a/b", "1/2/", "/1/2", "1/-2", "99999999999999999999/1"}) {
    EXPECT_FALSE(ParseTransferFigures(text)) << text;
  }
}

TEST(TransferFiguresTest, WordsAndUnits) {
  EXPECT_EQ(TransferFiguresText({5500000, 5733120}, 42), "now 5.7 MB/s, average 5.5 MB/s, 0:42 left");
  EXPECT_EQ(TransferFiguresText({11250, 999}), "now 999 B/s, average 11.2 kB/s");
  EXPECT_EQ(DurationText(3723), "1:02:03");
  EXPECT_EQ(SecondsLeft(1, 4, 10.0), std::optional<std::uint64_t>(30));
  EXPECT_FALSE(SecondsLeft(0, 4, 10.0));
  EXPECT_FALSE(SecondsLeft(4, 4, 10.0));
}

}  // namespace
}  // namespace ostrel
