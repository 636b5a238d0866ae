#pragma once
// A stack that owns its entries. An entry may be empty (no object). Whatever the stack
// still holds is freed when it is cleared or destroyed; Pop hands an entry's object to
// the caller, who owns it from then on.

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "base/object.h"

namespace ostrel {

template <typename T = TObject>
class TBaseStack {
 public:
  TBaseStack() = default;
  TBaseStack(const TBaseStack&) = delete;
  TBaseStack& operator=(const TBaseStack&) = delete;
  TBaseStack(TBaseStack&&) noexcept = default;
  TBaseStack& operator=(TBaseStack&&) noexcept = default;
  ~TBaseStack() = default;

  // Appends an entry; an empty pointer makes an empty entry.
  void Push(std::unique_ptr<T> object) { entries_.push_back(std::move(object)); }

  // Removes the last entry and gives its object (empty for an empty entry); an empty
  // stack gives an empty pointer and stays unchanged.
  std::unique_ptr<T> Pop() {
    if (entries_.empty()) return nullptr;
    std::unique_ptr<T> object = std::move(entries_.back());
    entries_.pop_back();
    return object;
  }

  // The last entry's object without removing it (nullptr when empty or the entry is empty).
  T* Top() const { return entries_.empty() ? nullptr : entries_.back().get(); }

  std::size_t Count() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  // Frees every object the stack holds.
  void Clear() { entries_.clear(); }

 private:
  std::vector<std::unique_ptr<T>> entries_;
};

}  // namespace ostrel
