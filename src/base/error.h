#pragma once
// The error type the system raises: it carries the user-visible text exactly.

#include <stdexcept>
#include <string>

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

}  // namespace ostrel
