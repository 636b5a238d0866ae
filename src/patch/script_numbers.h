#pragma once
// Numbers in patch script values: optional leading blanks, then decimal digits with an
// optional sign, or hexadecimal digits after "$", "x", "X", "0x" or "0X" (no sign).
// Values are signed 32-bit: decimal from -2147483648 to 2147483647, hexadecimal up to
// eight significant digits, taken as the 32-bit pattern ($FFFFFFFF is -1).

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/error.h"

namespace ostrel {

// A malformed or out-of-range number where the script must give one.
class ConversionError : public Error {
 public:
  explicit ConversionError(const std::string& text) : Error(text, ErrorKind::ScriptNumber) {}
};

// The number, or nothing when the text is malformed or beyond 32 bits.
std::optional<std::int32_t> ParseScriptNumber(std::string_view text);
// Strict reading: a malformed number raises ConversionError ("Not a number: ..."), one
// beyond 32 bits too ("Number beyond 32 bits: ...").
std::int32_t StrictNumber(std::string_view text);
// Lenient reading: a malformed, out-of-range or empty number gives the default.
std::int32_t LenientNumber(std::string_view text, std::int32_t default_value);

}  // namespace ostrel
