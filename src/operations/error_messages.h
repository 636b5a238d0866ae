#pragma once
// What a user is told about an error that ended an operation: the system's own text, the
// cause in words, and what to do. One table for the command line and the window, looked
// up by the error's kind, never by its wording.

#include <exception>
#include <string>

namespace ostrel {

struct TErrorMessage {
  std::string text;    // the error's own text, exactly as raised
  std::string cause;   // why it happened, when the text does not say (may be empty)
  std::string advice;  // what to do (may be empty)

  // "text: cause; advice" (the parts that are there).
  std::string Line() const;
};

// The explanation of an error; any other exception gives its text alone.
TErrorMessage DescribeError(const std::exception& error);

}  // namespace ostrel
