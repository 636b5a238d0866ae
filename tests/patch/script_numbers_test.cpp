// Numbers of patch scripts: decimal with a sign, hexadecimal after a prefix, 32 bits.

#include <gtest/gtest.h>

#include <optional>

#include "patch/script_numbers.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

struct NumberCase {
  const char* text;
  std::optional<std::int32_t> value;  // nothing: malformed or beyond 32 bits
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const NumberCase& c) { return std::string(c.text); }
void PrintTo(const NumberCase& c, std::ostream* os) { *os << Describe(c); }

class ScriptNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ScriptNumberTest, ParsesOrRejects) {
  const NumberCase& c = GetParam();
  EXPECT_EQ(ParseScriptNumber(c.text), c.value) << '"' << c.text << '"';
  if (c.value) {
    EXPECT_EQ(StrictNumber(c.text), *c.value);
  } else {
    EXPECT_THROW(StrictNumber(c.text), ConversionError);
    EXPECT_EQ(LenientNumber(c.text, 77), 77);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, ScriptNumberTest,
                         ::testing::Values(NumberCase{"0", 0}, NumberCase{"42", 42}, NumberCase{"+7", 7},
                                           NumberCase{"-16", -16}, NumberCase{"  \t12", 12},
                                           NumberCase{"$ff", 255}, NumberCase{"x1A", 26}, NumberCase{"X1a", 26},
                                           NumberCase{"0x10", 16}, NumberCase{"0X10", 16},
                                           NumberCase{"$7FFFFFFF", 0x7FFFFFFF}, NumberCase{"$FFFFFFFF", -1},
                                           NumberCase{"$000000000001", 1}, NumberCase{"2147483647", 2147483647},
                                           NumberCase{"-2147483648", INT32_MIN}, NumberCase{"2147483648", {}},
                                           NumberCase{"-2147483649", {}}, NumberCase{"$100000000", {}},
                                           NumberCase{"99999999999999999999", {}}, NumberCase{"", {}},
                                           NumberCase{" ", {}}, NumberCase{"12 ", {}}, NumberCase{"1a", {}},
                                           NumberCase{"$", {}}, NumberCase{"0x", {}}, NumberCase{"-$10", {}},
                                           NumberCase{"$-10", {}}, NumberCase{"--1", {}}, NumberCase{"$G", {}}),
                         ostrel::testing::DescribedName{});

TEST(ScriptNumberTest, MessagesNameTheText) {
  try {
    StrictNumber("12ab");
    ADD_FAILURE();
  } catch (const ConversionError& error) {
    EXPECT_EQ(error.Text(), "Not a number: \"12ab\"");
  }
  try {
    StrictNumber("$1FFFFFFFF");
    ADD_FAILURE();
  } catch (const ConversionError& error) {
    EXPECT_EQ(error.Text(), "Number beyond 32 bits: \"$1FFFFFFFF\"");
  }
}

}  // namespace
}  // namespace ostrel
