#pragma once
// Date-time patterns of the INSERTTIME command and the run's elapsed time.
//
// Pattern letters, in either case: yy / yyyy the year with two or four digits (a run of
// three or more y gives four), m / mm the month, d / dd the day, h / hh the hour, n / nn
// the minute, s / ss the second (the doubled forms with a leading zero), z / zzz the
// milliseconds (without / with leading zeros). Text in double or single quotes is copied
// without the quotes, ":" and "/" give the time and date separators, and every other
// character is copied.

#include <string>
#include <string_view>

namespace ostrel {

struct TDateTimeParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

struct TDateTimeSeparators {
  char date = '/';
  char time = ':';
};

std::string FormatDateTime(std::string_view pattern, const TDateTimeParts& when,
                           TDateTimeSeparators separators);

// The local clock, to the millisecond.
TDateTimeParts LocalNow();

// The separators of the user's locale (LC_ALL, LC_TIME, LANG): the first separator
// character of its date and time formats, "/" and ":" when the locale names none.
TDateTimeSeparators LocaleSeparators();

// "HH:NN:SS.ZZZ" for an elapsed time in milliseconds (hours are not wrapped).
std::string FormatElapsedTime(long long milliseconds);

}  // namespace ostrel
