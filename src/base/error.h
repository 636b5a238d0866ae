#pragma once
// The error type the system raises: it carries the user-visible text exactly, and what
// kind of error it is, so that a front end explains it without reading its words
// (operations/error_messages.h holds the explanations).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace ostrel {

enum class ErrorKind : std::uint8_t {
  General,          // any other raised text
  Io,               // a file could not be created, read or written
  Link,             // the link failed in a way the protocol names ("sync error")
  ErrorAnswer,      // the calculator ended an exchange with an error answer that carried data
  ProgramEmpty,     // an upload file of 0 bytes
  ProgramTooLarge,  // an upload file beyond what an upload command can announce
  ScriptNumber,     // a malformed or too large number in a script
  TargetNotOpen,    // a patch line that needs the target before a TARGETFILE line opened it
  Cable,            // an operation started without a cable chosen
};

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& text, ErrorKind kind = ErrorKind::General, std::string detail = {})
      : std::runtime_error(text), kind_(kind), detail_(std::move(detail)) {}
  const std::string Text() const { return what(); }
  ErrorKind Kind() const { return kind_; }
  // What the kind needs beside the text: the two code characters of an error answer, the
  // file name of an upload file.
  const std::string& Detail() const { return detail_; }

 private:
  ErrorKind kind_;
  std::string detail_;
};

// An input/output failure of the file system (cannot create, write, reopen a file).
class IoError : public Error {
 public:
  explicit IoError(const std::string& text) : Error(text, ErrorKind::Io) {}
};

// A failure of the link that ends an operation: the system's own text (for example
// "sync error") and, beside it, the cause in words a user can act on.
class LinkError : public Error {
 public:
  LinkError(const std::string& text, std::string cause) : Error(text, ErrorKind::Link), cause_(std::move(cause)) {}
  const std::string& Cause() const { return cause_; }

 private:
  std::string cause_;
};

}  // namespace ostrel
