#pragma once
// Readable names for the cases of parameterised tests. Header-only, so that every test
// program can use it.
//
// NameFromText makes a test name from a case's text: letters and digits are kept, every
// other run of characters becomes one underscore ("UD=/data//" -> "UD_data_"); an empty
// text is "empty". CaseName is the name generator for tables whose cases carry a `name`;
// DescribedName for tables whose cases are described by a `Describe(case)` of the test
// (found by argument-dependent lookup), with the case's row number after the text.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace ostrel::testing {

inline std::string NameFromText(std::string_view text) {
  std::string name;
  bool separated = false;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      if (separated && !name.empty()) name += '_';
      name += c;
      separated = false;
    } else {
      separated = true;
    }
  }
  if (separated && !name.empty()) name += '_';
  return name.empty() ? "empty" : name;
}

struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return NameFromText(info.param.name);
  }
};

struct DescribedName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return NameFromText(Describe(info.param)) + "_" + std::to_string(info.index);
  }
};

}  // namespace ostrel::testing
