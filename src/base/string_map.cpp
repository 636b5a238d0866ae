#include "base/string_map.h"

#include "base/error.h"
#include "base/text.h"

namespace ostrel {

int TMap::Add(std::string_view name, Value value) {
  entries_.push_back(Entry{std::string(name), value});
  return Count() - 1;
}

int TMap::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (SameText(entries_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

TMap::Value TMap::ValueOf(std::string_view name) const {
  if (entries_.empty()) return 0;
  const int index = IndexOf(name);
  return entries_[index >= 0 ? static_cast<std::size_t>(index) : 0].value;
}

TMap::Value TMap::FlagsOf(std::string_view list) const {
  Value flags = 0;
  for (const Entry& entry : entries_) {
    if (ListIndex(list, entry.name, ",") > 0) flags |= entry.value;
  }
  return flags;
}

const TMap::Entry& TMap::At(int index) const {
  if (index < 0 || index >= Count()) {
    throw Error("BASE_00.TMap: index " + std::to_string(index) + " out of range");
  }
  return entries_[static_cast<std::size_t>(index)];
}

const std::string& TMap::Name(int index) const { return At(index).name; }

TMap::Value TMap::ValueAt(int index) const { return At(index).value; }

}  // namespace ostrel
