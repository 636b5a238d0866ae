#include "patch/date_time_format.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <chrono>
#include <cstdio>

namespace ostrel {

namespace {

char LowerLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Number(int value, int min_digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", min_digits, value);
  return text;
}

// The first character of a strftime format that is neither a conversion nor a letter.
char FirstSeparator(const char* format, char fallback) {
  if (format == nullptr) return fallback;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '%') {
      if (p[1] == '\0') break;
      ++p;
      if (*p == 'E' || *p == 'O') {  // modifier: skip the conversion letter too
        if (p[1] == '\0') break;
        ++p;
      }
      continue;
    }
    const char c = *p;
    const bool letter_or_digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letter_or_digit && c != ' ') return c;
  }
  return fallback;
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, const TDateTimeParts& when,
                           TDateTimeSeparators separators) {
  std::string result;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const std::size_t close = pattern.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
      result.append(pattern.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? pattern.size() : close + 1;
      continue;
    }
    if (c == ':' || c == '/') {
      result += c == ':' ? separators.time : separators.date;
      ++i;
      continue;
    }
    const char letter = LowerLetter(c);
    std::size_t run = 1;
    while (i + run < pattern.size() && LowerLetter(pattern[i + run]) == letter) ++run;
    const bool doubled = run >= 2;
    switch (letter) {
      case 'y': result += run >= 3 ? Number(when.year, 4) : Number(when.year % 100, 2); break;
      case 'm': result += Number(when.month, doubled ? 2 : 1); break;
      case 'd': result += Number(when.day, doubled ? 2 : 1); break;
      case 'h': result += Number(when.hour, doubled ? 2 : 1); break;
      case 'n': result += Number(when.minute, doubled ? 2 : 1); break;
      case 's': result += Number(when.second, doubled ? 2 : 1); break;
      case 'z': result += Number(when.millisecond, doubled ? 3 : 1); break;
      default:
        result += c;
        run = 1;
        break;
    }
    i += run;
  }
  return result;
}

TDateTimeParts LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const auto since_epoch = now.time_since_epoch();
  const time_t seconds = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count());
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000;
  struct tm local {};
  localtime_r(&seconds, &local);
  return TDateTimeParts{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(millis)};
}

TDateTimeSeparators LocaleSeparators() {
  TDateTimeSeparators separators;
  locale_t locale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return separators;
  separators.date = FirstSeparator(::nl_langinfo_l(D_FMT, locale), separators.date);
  separators.time = FirstSeparator(::nl_langinfo_l(T_FMT, locale), separators.time);
  ::freelocale(locale);
  return separators;
}

std::string FormatElapsedTime(long long milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  const long long hours = milliseconds / 3600000;
  TDateTimeParts parts;
  parts.hour = static_cast<int>(hours);
  parts.minute = static_cast<int>(milliseconds / 60000 % 60);
  parts.second = static_cast<int>(milliseconds / 1000 % 60);
  parts.millisecond = static_cast<int>(milliseconds % 1000);
  return FormatDateTime("hh:nn:ss.zzz", parts, TDateTimeSeparators{'/', ':'});
}

}  // namespace ostrel
