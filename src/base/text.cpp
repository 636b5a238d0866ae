#include "base/text.h"

namespace ostrel {

namespace {

// ASCII only, whatever locale the process runs in: texts are byte strings.
char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t FindFrom(std::string_view text, std::string_view what, std::size_t from, bool ignore_case) {
  if (!ignore_case) return text.find(what, from);
  if (what.empty()) return from <= text.size() ? from : std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
    if (SameText(text.substr(i, what.size()), what)) return i;
  }
  return std::string_view::npos;
}

}  // namespace

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

std::string GetToken(std::string_view text, int n, std::string_view separator, TokenCode* code) {
  auto set = [&](TokenCode c) {
    if (code) *code = c;
  };
  if (n < 1) {
    set(TokenCode::FollowedBySeparator);
    return {};
  }
  if (separator.empty()) {
    set(n == 1 ? TokenCode::Last : TokenCode::Missing);
    return n == 1 ? std::string(text) : std::string();
  }
  std::size_t start = 0;
  for (int field = 1; field < n; ++field) {
    std::size_t pos = text.find(separator, start);
    if (pos == std::string_view::npos) {
      set(TokenCode::Missing);
      return {};
    }
    start = pos + separator.size();
  }
  std::size_t end = text.find(separator, start);
  if (end == std::string_view::npos) {
    set(TokenCode::Last);
    return std::string(text.substr(start));
  }
  set(TokenCode::FollowedBySeparator);
  return std::string(text.substr(start, end - start));
}

std::string DeleteToken(std::string_view text, int n, std::string_view separator) {
  if (n < 1 || separator.empty()) return std::string(text);
  // Locate field n: [start, end) and whether a separator follows it.
  std::size_t start = 0;
  for (int field = 1; field < n; ++field) {
    std::size_t pos = text.find(separator, start);
    if (pos == std::string_view::npos) return std::string(text);  // no such field
    start = pos + separator.size();
  }
  std::size_t end = text.find(separator, start);
  std::string result;
  if (n == 1) {
    // Field 1 goes with the separator after it.
    if (end == std::string_view::npos) return {};
    result = std::string(text.substr(end + separator.size()));
  } else {
    // Any other field goes with the separator before it.
    std::size_t cut_from = start - separator.size();
    result = std::string(text.substr(0, cut_from));
    if (end != std::string_view::npos) result += std::string(text.substr(end));
  }
  return result;
}

int TokenCount(std::string_view text, std::string_view separator) {
  if (IsBlank(text)) return 0;
  if (separator.empty()) return 1;
  int count = 1;
  for (std::size_t pos = text.find(separator); pos != std::string_view::npos;
       pos = text.find(separator, pos + separator.size())) {
    ++count;
  }
  return count;
}

int ListIndex(std::string_view list, std::string_view item, std::string_view separator) {
  if (IsBlank(item) || IsBlank(separator)) return 0;
  const std::string wanted = Trim(item);
  const int count = TokenCount(list, separator);
  for (int i = 1; i <= count; ++i) {
    if (SameText(Trim(GetToken(list, i, separator)), wanted)) return i;
  }
  return -1;
}

std::string ListAdd(std::string_view list, std::string_view item, std::string_view separator) {
  if (IsBlank(item) || ListIndex(list, item, separator) > 0) return std::string(list);
  std::string result(list);
  if (!IsBlank(list)) result += separator;
  result += item;
  return result;
}

std::string ReplaceAll(std::string_view text, std::string_view old_text, std::string_view new_text,
                       bool ignore_case) {
  if (old_text.empty()) return std::string(text);
  std::string result;
  std::size_t from = 0;
  for (;;) {
    std::size_t pos = FindFrom(text, old_text, from, ignore_case);
    if (pos == std::string_view::npos) break;
    result.append(text.substr(from, pos - from));
    result.append(new_text);
    from = pos + old_text.size();
  }
  result.append(text.substr(from));
  return result;
}

std::string RemoveQuotes(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c != '"') result += c;
  }
  return result;
}

std::string RepeatText(std::string_view text, int n) {
  std::string result;
  for (int i = 0; i < n; ++i) result.append(text);
  return result;
}

std::string Trim(std::string_view text) {
  auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_space(text[begin])) ++begin;
  while (end > begin && is_space(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = UpperChar(c);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = LowerChar(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  }
  return true;
}

std::string IntToHex(std::uint64_t value, int digits) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string reversed;
  do {
    reversed += kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  if (digits > 0 && reversed.size() < static_cast<std::size_t>(digits)) {
    reversed.append(static_cast<std::size_t>(digits) - reversed.size(), '0');
  }
  return std::string(reversed.rbegin(), reversed.rend());
}

}  // namespace ostrel
