#include <gtest/gtest.h>

#include "app/window_arguments.h"

namespace ostrel {
namespace {

struct ArgumentsCase {
  std::vector<std::string> words;
  std::vector<std::string> start_parameters;
  std::string simulate;
  bool help;
  bool error;
};

class WindowArgumentsTest : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(WindowArgumentsTest, SplitIntoStartParametersAndOptions) {
  const ArgumentsCase& c = GetParam();
  const TWindowArguments parsed = ParseWindowArguments(c.words);
  EXPECT_EQ(parsed.start_parameters, c.start_parameters);
  EXPECT_EQ(parsed.simulate, c.simulate);
  EXPECT_EQ(parsed.help, c.help);
  EXPECT_EQ(!parsed.error.empty(), c.error) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowArgumentsTest,
    ::testing::Values(ArgumentsCase{{}, {}, "", false, false},
                      ArgumentsCase{{"IF=/tmp/a.INI", "--simulate"}, {"IF=/tmp/a.INI"}, "usb", false, false},
                      ArgumentsCase{{"--simulate=serial"}, {}, "serial", false, false},
                      ArgumentsCase{{"--simulate=usb", "-h"}, {}, "usb", true, false},
                      ArgumentsCase{{"--simulate=parallel"}, {}, "", false, true},
                      ArgumentsCase{{"--verbose", "UD=/x"}, {"UD=/x"}, "", false, true}));

}  // namespace
}  // namespace ostrel
