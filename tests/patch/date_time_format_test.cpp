// Date-time patterns of INSERTTIME and the elapsed time of a run.

#include <gtest/gtest.h>

#include "patch/date_time_format.h"
#include "patch_fixture.h"
#include "support/case_names.h"

namespace ostrel::testing {
namespace {

struct PatternCase {
  const char* pattern;
  const char* expected;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const PatternCase& c) { return std::string(c.pattern); }
void PrintTo(const PatternCase& c, std::ostream* os) { *os << Describe(c); }

class DateTimePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(DateTimePatternTest, Formats) {
  const TDateTimeParts when{2009, 6, 1, 7, 5, 3, 45};
  EXPECT_EQ(FormatDateTime(GetParam().pattern, when, TDateTimeSeparators{'.', '-'}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, DateTimePatternTest,
    ::testing::Values(PatternCase{"yyyy", "2009"}, PatternCase{"yy", "09"}, PatternCase{"YYYY-MM-DD", "2009-06-01"},
                      PatternCase{"m/d/yy", "6.1.09"}, PatternCase{"mm/dd/yyyy", "06.01.2009"},
                      PatternCase{"h:n:s", "7-5-3"}, PatternCase{"HH:NN:SS.ZZZ", "07-05-03.045"},
                      PatternCase{"z", "45"}, PatternCase{"\"built \"yyyy", "built 2009"},
                      PatternCase{"'at' hh", "at 07"}, PatternCase{"V1.0 #", "V1.0 #"},
                      PatternCase{"\"unclosed", "unclosed"}, PatternCase{"", ""}),
    ostrel::testing::DescribedName{});

TEST(DateTimeFormatTest, ElapsedTimeUsesFixedSeparatorsAndUnwrappedHours) {
  EXPECT_EQ(FormatElapsedTime(0), "00:00:00.000");
  EXPECT_EQ(FormatElapsedTime(3723004), "01:02:03.004");
  EXPECT_EQ(FormatElapsedTime(100LL * 3600000), "100:00:00.000");
}

TEST_F(PatchTest, InsertTimeWritesTheFormattedClockAndAZero) {
  Write("t.bin", "");
  ASSERT_TRUE(Run("DIRECTORY=@DIR@\nTARGETFILE=t.bin\nINSERTTIME=\"v\"yyyymmdd"));
  const std::string written = Read("t.bin");
  ASSERT_EQ(written.size(), 10u);
  EXPECT_EQ(written[0], 'v');
  EXPECT_EQ(written.back(), '\0');
  const TDateTimeParts now = LocalNow();
  EXPECT_EQ(written.substr(1, 4), std::to_string(now.year)) << "unless the test ran over new year";
  EXPECT_EQ(CommandReports()[0], "INSERTTIME=\"v\"yyyymmdd -> \"" + written.substr(0, 9) + "\"");
}

}  // namespace
}  // namespace ostrel::testing
