#pragma once
// The error type the system raises: it carries the user-visible text exactly.

#include <stdexcept>
#include <string>
#include <utility>

namespace ostrel {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& text) : std::runtime_error(text) {}
  const std::string Text() const { return what(); }
};

// An input/output failure of the file system (cannot create, write, reopen a file).
class IoError : public Error {
 public:
  using Error::Error;
};

// A failure of the link that ends an operation: the system's own text (for example
// "sync error") and, beside it, the cause in words a user can act on.
class LinkError : public Error {
 public:
  LinkError(const std::string& text, std::string cause) : Error(text), cause_(std::move(cause)) {}
  const std::string& Cause() const { return cause_; }

 private:
  std::string cause_;
};

}  // namespace ostrel
