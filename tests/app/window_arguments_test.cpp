#include <gtest/gtest.h>

#include "app/window_arguments.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

struct ArgumentsCase {
  std::vector<std::string> words;
  std::vector<std::string> start_parameters;
  std::string simulate;
  bool help;
  bool error;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const ArgumentsCase& c) {
  std::string text = "words";
  for (const std::string& word : c.words) text += " " + word;
  return text;
}
void PrintTo(const ArgumentsCase& c, std::ostream* os) { *os << Describe(c); }

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
                      ArgumentsCase{{"--verbose", "UD=/x"}, {"UD=/x"}, "", false, true}),
    ostrel::testing::DescribedName{});

}  // namespace
}  // namespace ostrel
