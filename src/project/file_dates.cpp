#include "project/file_dates.h"

#include <sys/stat.h>

#include <ctime>

#include "base/path_map.h"

namespace ostrel {

namespace {

constexpr const char* kZeroDateStamp = "18991230000000";

int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

TFileTime LastWriteTime(const std::string& path) {
  struct stat st {};
  if (::stat(MapScriptPath(path).c_str(), &st) != 0) return kMissingFileTime;
  return static_cast<TFileTime>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(MapScriptPath(path).c_str(), &st) == 0;
}

std::string FileDateStamp(const std::string& path) {
  struct stat st {};
  if (::stat(MapScriptPath(path).c_str(), &st) != 0) return kZeroDateStamp;
  const std::time_t seconds = st.st_mtim.tv_sec;
  std::tm local {};
  if (::localtime_r(&seconds, &local) == nullptr) return kZeroDateStamp;
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

bool IsValidDateStamp(std::string_view stamp) {
  if (stamp.size() != 14) return false;
  for (char c : stamp) {
    if (c < '0' || c > '9') return false;
  }
  const int year = Digits(stamp, 0, 4);
  const int month = Digits(stamp, 4, 2);
  const int day = Digits(stamp, 6, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  return Digits(stamp, 8, 2) < 24 && Digits(stamp, 10, 2) < 60 && Digits(stamp, 12, 2) < 60;
}

bool DateStampIsLater(std::string_view stamp, std::string_view reference) {
  if (!IsValidDateStamp(stamp)) return false;
  if (!IsValidDateStamp(reference)) return true;
  // Fixed-width digits compare like the dates they spell.
  return stamp > reference;
}

}  // namespace ostrel
