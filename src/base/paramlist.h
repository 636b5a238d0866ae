#pragma once
// The variable store of the script interpreters: named text values whose references,
// written "$(" name ")", are expanded when a text is used.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/object.h"

namespace ostrel {

class TParamlist : public TObject {
 public:
  // Expansion fails with ostrel::Error when references nest deeper than this ...
  static constexpr std::size_t kMaxNesting = 64;
  // ... or when an expansion would grow a text beyond this many bytes.
  static constexpr std::size_t kMaxExpandedSize = 4 * 1024 * 1024;

  // Sets a variable; names compare without regard to case, an existing entry keeps its
  // place and the spelling of its name. The empty value removes the entry.
  void Set(std::string_view name, std::string_view value);
  // The stored (unexpanded) value; the empty text when there is no entry.
  std::string Get(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }

  // Entries in the order they were first set.
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Name(int index) const;
  const std::string& Value(int index) const;
  std::string Line(int index) const { return Name(index) + "=" + Value(index); }
  void Clear() { entries_.clear(); }

  // The text with every variable reference replaced. With unquote set, the text's own
  // double quotes are removed first. Each reference is replaced, everywhere it occurs in
  // the exact spelling, by the variable's value fully expanded and without double quotes;
  // an unknown name gives the empty text, and an unmatched "$(" stays as it is.
  // A variable that refers to itself (directly or through others), nesting deeper than
  // kMaxNesting or a result beyond kMaxExpandedSize raise ostrel::Error.
  std::string Expand(std::string_view text, bool unquote) const;
  // Expand applied to the stored value of the named variable.
  std::string ExpandValue(std::string_view name, bool unquote) const;

 private:
  struct Entry {
    std::string name;
    std::string value;
  };
  // Names of the variables whose values are being expanded, outermost first.
  using ActiveNames = std::vector<std::string>;

  const Entry* Find(std::string_view name) const;
  Entry* Find(std::string_view name);
  const Entry& At(int index) const;
  std::string ExpandText(std::string_view text, bool unquote, ActiveNames& active) const;
  std::string ExpandReference(const std::string& name, ActiveNames& active) const;

  std::vector<Entry> entries_;
};

}  // namespace ostrel
