#include "base/paramlist.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

TEST(TParamlistTest, SetAndGetIgnoreCaseAndEmptyValueRemoves) {
  TParamlist list;
  list.Set("Prog", "main");
  list.Set("PROG", "other");
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Line(0), "Prog=other");
  EXPECT_EQ(list.Get("prog"), "other");
  EXPECT_EQ(list.Get("missing"), "");

  list.Set("Space", " ");
  EXPECT_EQ(list.Get("SPACE"), " ") << "a blank value is still a value";
  list.Set("prog", "");
  EXPECT_FALSE(list.Has("PROG"));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Name(0), "Space");
  EXPECT_THROW(list.Name(1), Error);
}

TEST(TParamlistTest, StoresValuesUnexpanded) {
  TParamlist list;
  list.Set("A", "$(B)");
  list.Set("B", "x");
  EXPECT_EQ(list.Get("A"), "$(B)");
  EXPECT_EQ(list.ExpandValue("a", false), "x");
  list.Set("B", "y");
  EXPECT_EQ(list.ExpandValue("A", false), "y") << "expansion happens when the value is used";
  EXPECT_EQ(list.ExpandValue("NOPE", false), "");

  list.Set("QUOTED", "\"$(B) z\"");
  EXPECT_EQ(list.ExpandValue("quoted", false), "\"y z\"");
  EXPECT_EQ(list.ExpandValue("quoted", true), "y z");
}

struct ExpandCase {
  const char* text;
  bool unquote;
  const char* expected;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const ExpandCase& c) { return std::string(c.text) + (c.unquote ? " unquoted" : ""); }
void PrintTo(const ExpandCase& c, std::ostream* os) { *os << Describe(c); }

class TParamlistExpandTest : public ::testing::TestWithParam<ExpandCase> {
 protected:
  TParamlistExpandTest() {
    list_.Set("PROG", "main");
    list_.Set("OBJECTDIR", "C:\\obj");
    list_.Set("A", "x");
    list_.Set("DIR", "C:\\\"my dir\"");
    list_.Set("NESTED", "$(OBJECTDIR)\\$(PROG)");
    list_.Set("QUOTED", "\"$(DIR)\"");
    list_.Set("EMPTYNAME", "$()");
  }
  TParamlist list_;
};

TEST_P(TParamlistExpandTest, Expands) {
  const ExpandCase& c = GetParam();
  EXPECT_EQ(list_.Expand(c.text, c.unquote), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TParamlistExpandTest,
    ::testing::Values(
        ExpandCase{"$(OBJECTDIR)\\$(PROG).OBJ", true, "C:\\obj\\main.OBJ"},
        ExpandCase{"$(A)$(A)", false, "xx"},
        ExpandCase{"a$(NOPE)b", false, "ab"},
        ExpandCase{"\"$(DIR)\"", true, "C:\\my dir"},
        ExpandCase{"\"$(DIR)\"", false, "\"C:\\my dir\""},
        ExpandCase{"$(A", false, "$(A"},
        ExpandCase{"$(A)$(B", false, "x$(B"},
        ExpandCase{"$(prog)", false, "main"},
        ExpandCase{"$(prog)+$(PROG)+$(Prog)", false, "main+main+main"},
        ExpandCase{"$(NESTED).c", false, "C:\\obj\\main.c"},
        ExpandCase{"[$(QUOTED)]", false, "[C:\\my dir]"},
        ExpandCase{"$()", false, ""},
        ExpandCase{"$(EMPTYNAME)x", false, "x"},
        ExpandCase{"$(A$(A))", false, ")"},  // the name runs to the first ")"
        ExpandCase{"$$()(A)", false, "x"},    // a reference formed by a replacement is expanded
        ExpandCase{"no references", true, "no references"},
        ExpandCase{"", false, ""}),
    ostrel::testing::DescribedName{});

TEST(TParamlistTest, ReplacesEveryOccurrenceAsWritten) {
  TParamlist list;
  list.Set("X", "$(Y)");
  list.Set("Y", "1");
  // The replacement of X holds no reference any more: values are fully expanded first.
  EXPECT_EQ(list.Expand("$(X)-$(x)-$(X)", false), "1-1-1");
}

TEST(TParamlistTest, SelfReferenceRaisesNamingTheVariable) {
  struct Case {
    const char* text;
    const char* message;
  };
  TParamlist list;
  list.Set("SELF", "a$(SELF)");
  list.Set("A", "$(B)");
  list.Set("B", "$(C)");
  list.Set("C", "$(a)");
  const Case cases[] = {
      {"$(SELF)", "BASE_00.TParamlist.Expand: recursive variable $(SELF)"},
      {"x $(self) y", "BASE_00.TParamlist.Expand: recursive variable $(SELF)"},
      {"$(A)", "BASE_00.TParamlist.Expand: recursive variable $(a)"},
      {"$(B)", "BASE_00.TParamlist.Expand: recursive variable $(B)"},
  };
  for (const Case& c : cases) {
    try {
      list.Expand(c.text, true);
      ADD_FAILURE() << c.text << " expanded without error";
    } catch (const Error& error) {
      EXPECT_EQ(error.Text(), c.message) << c.text;
    }
  }
  EXPECT_THROW(list.ExpandValue("SELF", false), Error);
}

TEST(TParamlistTest, RepeatedButNotRecursiveUseIsFine) {
  TParamlist list;
  list.Set("LEAF", "l");
  list.Set("MID", "$(LEAF)$(LEAF)");
  list.Set("TOP", "$(MID)/$(LEAF)/$(MID)");
  EXPECT_EQ(list.Expand("$(TOP)", false), "ll/l/ll");
}

TEST(TParamlistTest, NestingDepthIsBounded) {
  auto chain = [](std::size_t length) {
    TParamlist list;
    for (std::size_t i = 0; i < length; ++i) {
      list.Set("V" + std::to_string(i), "$(V" + std::to_string(i + 1) + ")");
    }
    list.Set("V" + std::to_string(length), "end");
    return list;
  };
  EXPECT_EQ(chain(TParamlist::kMaxNesting - 1).Expand("$(V0)", false), "end");
  EXPECT_THROW(chain(TParamlist::kMaxNesting + 5).Expand("$(V0)", false), Error);
}

TEST(TParamlistTest, ExponentialExpansionFailsInsteadOfExhaustingMemory) {
  TParamlist list;
  constexpr int kLevels = 40;  // 2^40 bytes if it were allowed
  for (int i = 0; i < kLevels; ++i) {
    const std::string next = "$(L" + std::to_string(i + 1) + ")";
    list.Set("L" + std::to_string(i), next + next);
  }
  list.Set("L" + std::to_string(kLevels), "x");
  try {
    list.Expand("$(L0)", false);
    ADD_FAILURE() << "expansion did not fail";
  } catch (const Error& error) {
    EXPECT_NE(error.Text().find("BASE_00.TParamlist.Expand: expansion of $(L"), std::string::npos)
        << error.Text();
  }
  // Below the limit the same construction works.
  EXPECT_EQ(list.Expand("$(L30)", false).size(), std::size_t{1} << 10);
}

TEST(TParamlistTest, CopiesAreIndependent) {
  TParamlist list;
  list.Set("A", "1");
  TParamlist saved = list;
  list.Set("A", "2");
  list.Set("B", "3");
  EXPECT_EQ(saved.Get("A"), "1");
  EXPECT_EQ(saved.Count(), 1);
}

}  // namespace
}  // namespace ostrel
