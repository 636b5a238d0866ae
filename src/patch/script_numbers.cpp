#include "patch/script_numbers.h"

#include <string>

namespace ostrel {

namespace {

enum class Outcome { Ok, Malformed, Overflow };

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view SkipLeadingBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

// The digits after a hexadecimal prefix, or nothing when the text has no prefix.
std::optional<std::string_view> HexDigits(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) return text.substr(2);
  if (text.starts_with("$") || text.starts_with("x") || text.starts_with("X")) return text.substr(1);
  return std::nullopt;
}

Outcome ParseHex(std::string_view digits, std::int32_t& value) {
  if (digits.empty()) return Outcome::Malformed;
  std::uint64_t total = 0;
  bool overflow = false;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return Outcome::Malformed;
    total = total * 16 + static_cast<std::uint64_t>(digit);
    if (total > 0xFFFFFFFFu) {
      overflow = true;
      total &= 0xFFFFFFFFu;  // keep scanning for malformed digits without overflowing
    }
  }
  if (overflow) return Outcome::Overflow;
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(total));
  return Outcome::Ok;
}

Outcome ParseDecimal(std::string_view text, std::int32_t& value) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return Outcome::Malformed;
  std::int64_t total = 0;
  bool overflow = false;
  for (char c : text) {
    if (c < '0' || c > '9') return Outcome::Malformed;
    if (!overflow) {
      total = total * 10 + (c - '0');
      if (total > 0x80000000LL) overflow = true;
    }
  }
  if (negative) total = -total;
  if (overflow || total > 0x7FFFFFFFLL) return Outcome::Overflow;
  value = static_cast<std::int32_t>(total);
  return Outcome::Ok;
}

Outcome Parse(std::string_view text, std::int32_t& value) {
  text = SkipLeadingBlanks(text);
  if (const auto digits = HexDigits(text)) return ParseHex(*digits, value);
  return ParseDecimal(text, value);
}

}  // namespace

std::optional<std::int32_t> ParseScriptNumber(std::string_view text) {
  std::int32_t value = 0;
  if (Parse(text, value) != Outcome::Ok) return std::nullopt;
  return value;
}

std::int32_t StrictNumber(std::string_view text) {
  std::int32_t value = 0;
  switch (Parse(text, value)) {
    case Outcome::Ok: return value;
    case Outcome::Overflow: throw ConversionError("Number beyond 32 bits: \"" + std::string(text) + "\"");
    case Outcome::Malformed: break;
  }
  throw ConversionError("Not a number: \"" + std::string(text) + "\"");
}

std::int32_t LenientNumber(std::string_view text, std::int32_t default_value) {
  return ParseScriptNumber(text).value_or(default_value);
}

}  // namespace ostrel
