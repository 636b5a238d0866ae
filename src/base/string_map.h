#pragma once
// A name table: names mapped to integer values, kept in insertion order. Names compare
// without regard to case.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class TMap {
 public:
  using Value = std::int64_t;

  // Appends an entry and gives its index. A name that is already present is appended
  // again; lookups find the first entry of that name.
  int Add(std::string_view name, Value value);

  // The value of the first entry with that name; when there is none, the value of the
  // first entry; for an empty map 0.
  Value ValueOf(std::string_view name) const;

  // The bitwise OR of the values of all entries whose name is one of the items of the
  // comma-separated list (items trimmed, compared without regard to case). Items that
  // name no entry are ignored; a blank list gives 0.
  Value FlagsOf(std::string_view list) const;

  // Index of the first entry with that name, -1 if there is none.
  int IndexOf(std::string_view name) const;
  bool Contains(std::string_view name) const { return IndexOf(name) >= 0; }

  int Count() const { return static_cast<int>(entries_.size()); }
  // Access by index (0 .. Count()-1); an index out of range raises ostrel::Error.
  const std::string& Name(int index) const;
  Value ValueAt(int index) const;

  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    std::string name;
    Value value;
  };
  const Entry& At(int index) const;

  std::vector<Entry> entries_;
};

}  // namespace ostrel
