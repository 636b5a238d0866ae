#include "base/string_map.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace ostrel {
namespace {

TMap ParityTable() {
  TMap map;
  map.Add("NONE", 0);
  map.Add("Odd", 1);
  map.Add("EVEN", 2);
  return map;
}

TEST(TMapTest, AddGivesIndexesInInsertionOrder) {
  TMap map;
  EXPECT_EQ(map.Add("first", 10), 0);
  EXPECT_EQ(map.Add("second", 20), 1);
  ASSERT_EQ(map.Count(), 2);
  EXPECT_EQ(map.Name(1), "second");
  EXPECT_EQ(map.ValueAt(1), 20);
}

TEST(TMapTest, ValueOfIgnoresCaseAndFallsBackToFirstEntry) {
  const TMap map = ParityTable();
  EXPECT_EQ(map.ValueOf("even"), 2);
  EXPECT_EQ(map.ValueOf("ODD"), 1);
  EXPECT_EQ(map.ValueOf("Mark"), 0) << "an unknown name gives the first entry's value";
  EXPECT_EQ(map.ValueOf(" EVEN"), 0) << "names are not trimmed";

  TMap starts_at_seven;
  starts_at_seven.Add("A", 7);
  EXPECT_EQ(starts_at_seven.ValueOf("B"), 7);
  EXPECT_EQ(TMap().ValueOf("anything"), 0);
}

TEST(TMapTest, DuplicateNameFindsFirstEntry) {
  TMap map;
  map.Add("X", 1);
  map.Add("x", 2);
  EXPECT_EQ(map.Count(), 2);
  EXPECT_EQ(map.ValueOf("X"), 1);
  EXPECT_EQ(map.IndexOf("x"), 0);
}

TEST(TMapTest, FlagsOfCombinesListedEntries) {
  TMap flags;
  flags.Add("fBinary", 0x1);
  flags.Add("fParity", 0x2);
  flags.Add("fOutxCtsFlow", 0x4);
  flags.Add("WRITE_THROUGH", 0x80000000LL);
  struct Case {
    const char* list;
    TMap::Value expected;
  };
  const Case cases[] = {
      {"", 0},
      {"   ", 0},
      {"fbinary", 0x1},
      {" fParity ,  FOUTXCTSFLOW ", 0x6},
      {"fBinary,unknown,fParity", 0x3},
      {"fBinary,fBinary", 0x1},
      {"write_through", 0x80000000LL},
      {"fBinary;fParity", 0},  // only commas separate items
  };
  for (const Case& c : cases) {
    EXPECT_EQ(flags.FlagsOf(c.list), c.expected) << "list: \"" << c.list << "\"";
  }
}

TEST(TMapTest, IndexOutOfRangeRaises) {
  const TMap map = ParityTable();
  EXPECT_THROW(map.Name(3), Error);
  EXPECT_THROW(map.ValueAt(-1), Error);
}

}  // namespace
}  // namespace ostrel
