#include "base/paramlist.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"

namespace ostrel {

namespace {

constexpr std::string_view kReferenceOpen = "$(";
constexpr char kReferenceClose = ')';

std::string Reference(std::string_view name) {
  return std::string(kReferenceOpen) + std::string(name) + kReferenceClose;
}

std::size_t CountOccurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(what); pos != std::string_view::npos;
       pos = text.find(what, pos + what.size())) {
    ++count;
  }
  return count;
}

// Refuses a replacement that would grow the text beyond the limit before any memory
// is spent on it.
void CheckExpandedSize(std::string_view text, const std::string& reference,
                       std::size_t replacement_size, std::string_view name) {
  if (replacement_size <= reference.size()) return;
  const std::size_t count = CountOccurrences(text, reference);
  const std::size_t growth_each = replacement_size - reference.size();
  const std::size_t room = TParamlist::kMaxExpandedSize - std::min(text.size(), TParamlist::kMaxExpandedSize);
  if (count > room / growth_each) {
    throw Error("BASE_00.TParamlist.Expand: expansion of " + Reference(name) + " exceeds " +
                std::to_string(TParamlist::kMaxExpandedSize) + " bytes");
  }
}

}  // namespace

const TParamlist::Entry* TParamlist::Find(std::string_view name) const {
  for (const Entry& entry : entries_) {
    if (SameText(entry.name, name)) return &entry;
  }
  return nullptr;
}

TParamlist::Entry* TParamlist::Find(std::string_view name) {
  return const_cast<Entry*>(static_cast<const TParamlist*>(this)->Find(name));
}

void TParamlist::Set(std::string_view name, std::string_view value) {
  if (value.empty()) {
    std::erase_if(entries_, [&](const Entry& entry) { return SameText(entry.name, name); });
    return;
  }
  if (Entry* entry = Find(name)) {
    entry->value = std::string(value);
  } else {
    entries_.push_back(Entry{std::string(name), std::string(value)});
  }
}

std::string TParamlist::Get(std::string_view name) const {
  const Entry* entry = Find(name);
  return entry ? entry->value : std::string();
}

const TParamlist::Entry& TParamlist::At(int index) const {
  if (index < 0 || index >= Count()) {
    throw Error("BASE_00.TParamlist: index " + std::to_string(index) + " out of range");
  }
  return entries_[static_cast<std::size_t>(index)];
}

const std::string& TParamlist::Name(int index) const { return At(index).name; }

const std::string& TParamlist::Value(int index) const { return At(index).value; }

std::string TParamlist::Expand(std::string_view text, bool unquote) const {
  ActiveNames active;
  return ExpandText(text, unquote, active);
}

std::string TParamlist::ExpandValue(std::string_view name, bool unquote) const {
  const Entry* entry = Find(name);
  if (!entry) return {};
  ActiveNames active{std::string(name)};
  return ExpandText(entry->value, unquote, active);
}

std::string TParamlist::ExpandText(std::string_view text, bool unquote, ActiveNames& active) const {
  std::string result = unquote ? RemoveQuotes(text) : std::string(text);
  for (;;) {
    const std::size_t open = result.find(kReferenceOpen);
    if (open == std::string::npos) break;
    const std::size_t name_begin = open + kReferenceOpen.size();
    const std::size_t close = result.find(kReferenceClose, name_begin);
    if (close == std::string::npos) break;
    const std::string name = result.substr(name_begin, close - name_begin);
    const std::string reference = Reference(name);
    const std::string replacement = ExpandReference(name, active);
    CheckExpandedSize(result, reference, replacement.size(), name);
    result = ReplaceAll(result, reference, replacement);
  }
  return result;
}

// The value of a referenced variable, fully expanded and without double quotes.
std::string TParamlist::ExpandReference(const std::string& name, ActiveNames& active) const {
  const Entry* entry = Find(name);
  if (!entry) return {};
  const bool recursive = std::any_of(active.begin(), active.end(),
                                     [&](const std::string& outer) { return SameText(outer, name); });
  if (recursive) {
    throw Error("BASE_00.TParamlist.Expand: recursive variable " + Reference(name));
  }
  if (active.size() >= kMaxNesting) {
    throw Error("BASE_00.TParamlist.Expand: variables nested deeper than " +
                std::to_string(kMaxNesting) + " at " + Reference(name));
  }
  active.push_back(name);
  std::string expanded = ExpandText(entry->value, true, active);
  active.pop_back();
  return expanded;
}

}  // namespace ostrel
