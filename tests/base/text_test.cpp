#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_names.h"

namespace ostrel {
namespace {

TEST(TextTest, IsBlank) {
  struct Case {
    const char* text;
    bool blank;
  };
  const Case cases[] = {
      {"", true}, {" ", true}, {"\t \t", true}, {" x ", false}, {"\n", false}, {"\r", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsBlank(c.text), c.blank) << "\"" << c.text << "\"";
}

struct GetTokenCase {
  const char* text;
  int n;
  const char* separator;
  const char* field;
  TokenCode code;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const GetTokenCase& c) { return std::string(c.text) + " token " + std::to_string(c.n); }
void PrintTo(const GetTokenCase& c, std::ostream* os) { *os << Describe(c); }

class GetTokenTest : public ::testing::TestWithParam<GetTokenCase> {};

TEST_P(GetTokenTest, GivesFieldAndCode) {
  const GetTokenCase& c = GetParam();
  TokenCode code = TokenCode::Missing;
  if (c.code == TokenCode::Missing) code = TokenCode::Last;  // make sure the code is written
  EXPECT_EQ(GetToken(c.text, c.n, c.separator, &code), c.field);
  EXPECT_EQ(code, c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetTokenTest,
    ::testing::Values(GetTokenCase{"a;b", 1, ";", "a", TokenCode::FollowedBySeparator},
                      GetTokenCase{"a;b", 2, ";", "b", TokenCode::Last},
                      GetTokenCase{"a;b", 3, ";", "", TokenCode::Missing},
                      GetTokenCase{"a;b;", 3, ";", "", TokenCode::Last},
                      GetTokenCase{"a;b", 0, ";", "", TokenCode::FollowedBySeparator},
                      GetTokenCase{"a;b", -5, ";", "", TokenCode::FollowedBySeparator},
                      GetTokenCase{"", 1, ";", "", TokenCode::Last},
                      GetTokenCase{"", 2, ";", "", TokenCode::Missing},
                      GetTokenCase{";;x", 2, ";", "", TokenCode::FollowedBySeparator},
                      // Separators of several characters, exact case.
                      GetTokenCase{"oneABtwoABthree", 2, "AB", "two", TokenCode::FollowedBySeparator},
                      GetTokenCase{"oneabtwo", 2, "AB", "", TokenCode::Missing},
                      GetTokenCase{"x::::y", 2, "::", "", TokenCode::FollowedBySeparator},
                      GetTokenCase{"x::::y", 3, "::", "y", TokenCode::Last},
                      GetTokenCase{"C:\\A\\B\\", 4, "\\", "", TokenCode::Last}),
    ostrel::testing::DescribedName{});

TEST(TextTest, GetTokenWithoutCodeArgument) { EXPECT_EQ(GetToken("k=v", 2, "="), "v"); }

TEST(TextTest, DeleteToken) {
  struct Case {
    const char* text;
    int n;
    const char* separator;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\A\\B\\", 4, "\\", "C:\\A\\B"},
      {"C:\\A\\B", 3, "\\", "C:\\A"},
      {"a;b;c", 1, ";", "b;c"},
      {"a;b;c", 2, ";", "a;c"},
      {"a;b;c", 3, ";", "a;b"},
      {"a;b;c", 4, ";", "a;b;c"},  // no such field: unchanged
      {"a;b;c", 0, ";", "a;b;c"},
      {"alone", 1, ";", ""},
      {"a--b--c", 2, "--", "a--c"},
      {";x", 1, ";", "x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeleteToken(c.text, c.n, c.separator), c.expected)
        << c.text << " field " << c.n;
  }
}

TEST(TextTest, TokenCount) {
  struct Case {
    const char* text;
    const char* separator;
    int count;
  };
  const Case cases[] = {
      {"", ";", 0},        {"  \t", ";", 0}, {"a", ";", 1},      {"a;b", ";", 2},
      {"a;b;", ";", 3},    {";", ";", 2},    {"a::b::c", "::", 3}, {"a:::b", "::", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TokenCount(c.text, c.separator), c.count) << "\"" << c.text << "\"";
  }
}

TEST(TextTest, ListIndex) {
  struct Case {
    const char* list;
    const char* item;
    const char* separator;
    int index;
  };
  const Case cases[] = {
      {" x , Y ", "y", ",", 2},
      {" x , Y ", " X\t", ",", 1},
      {"x,Y", "z", ",", -1},
      {"", "z", ",", -1},
      {"x,Y", "", ",", 0},
      {"x,Y", "  ", ",", 0},
      {"x y", "y", " ", 0},  // a blank separator finds nothing
      {"a;;b", "b", ";", 3},
      {"ab,a", "a", ",", 2},  // whole fields only
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ListIndex(c.list, c.item, c.separator), c.index)
        << "\"" << c.list << "\" / \"" << c.item << "\"";
  }
}

TEST(TextTest, ListAdd) {
  struct Case {
    const char* list;
    const char* item;
    const char* expected;
  };
  const Case cases[] = {
      {"", "a", "a"},
      {"a", "b", "a,b"},
      {"a, B", "b", "a, B"},  // already there, compared trimmed and without case
      {"a", " ", "a"},        // a blank item is not added
      {"a,b", "c", "a,b,c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ListAdd(c.list, c.item, ","), c.expected) << c.list << " + " << c.item;
  }
}

TEST(TextTest, ReplaceAll) {
  struct Case {
    const char* text;
    const char* old_text;
    const char* new_text;
    bool ignore_case;
    const char* expected;
  };
  const Case cases[] = {
      {"a\\\\b\\\\\\\\c", "\\\\", "\\", false, "a\\b\\\\c"},  // no rescan of inserted text
      {"aaa", "a", "aa", false, "aaaaaa"},                 // terminates although new holds old
      {"xAx", "a", "-", false, "xAx"},
      {"xAxa", "a", "-", true, "x-x-"},
      {"abc", "", "-", false, "abc"},
      {"abab", "ab", "", false, ""},
      {"", "a", "b", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.old_text, c.new_text, c.ignore_case), c.expected) << c.text;
  }
}

TEST(TextTest, RemoveQuotesAndRepeatText) {
  EXPECT_EQ(RemoveQuotes("\"C:\\my dir\"\\\"x\""), "C:\\my dir\\x");
  EXPECT_EQ(RemoveQuotes(""), "");
  EXPECT_EQ(RepeatText("ab", 3), "ababab");
  EXPECT_EQ(RepeatText("ab", 0), "");
  EXPECT_EQ(RepeatText("ab", -2), "");
}

TEST(TextTest, CaseHelpersTouchAsciiLettersOnly) {
  const std::string high_bytes = "\xE4\xF6\xC4";
  EXPECT_EQ(UpperCase("aZ_1" + high_bytes), "AZ_1" + high_bytes);
  EXPECT_EQ(LowerCase("AbC" + high_bytes), "abc" + high_bytes);
  EXPECT_TRUE(SameText("Hello", "hELLO"));
  EXPECT_FALSE(SameText("Hello", "Hell"));
  EXPECT_FALSE(SameText("\xE4", "\xC4"));
}

TEST(TextTest, TrimAndIntToHex) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(IntToHex(0x60DD16, 8), "0060DD16");
  EXPECT_EQ(IntToHex(0xAB, 2), "AB");
  EXPECT_EQ(IntToHex(0x1234, 2), "1234");  // never truncated
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(0xFFFFFFFFFFFFFFFFull, 16), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToHex(5, 40), std::string(39, '0') + "5");
}

}  // namespace
}  // namespace ostrel
