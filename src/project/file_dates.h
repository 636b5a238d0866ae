#pragma once
// File dates as the build steps use them: last-write times to compare, and the date-time
// text "YYYYMMDDHHNNSS" (local time) that system-call entries are compared with.

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace ostrel {

// Nanoseconds since 1970 (UTC). A missing file has kMissingFileTime, earlier than every
// real file, as the zero date-time of the scripts' system.
using TFileTime = std::int64_t;
inline constexpr TFileTime kMissingFileTime = std::numeric_limits<TFileTime>::min();

// The last-write time of the file (a path as a script writes it).
TFileTime LastWriteTime(const std::string& path);
bool FileExists(const std::string& path);

// The last-write time in local time as "YYYYMMDDHHNNSS"; a missing file gives the zero
// date-time "18991230000000".
std::string FileDateStamp(const std::string& path);

// True for a text of 14 digits that is a real date and time.
bool IsValidDateStamp(std::string_view stamp);
// True when `stamp` is later than `reference`; a text that is no valid date-time counts
// as earlier than every valid one, and two invalid texts give false.
bool DateStampIsLater(std::string_view stamp, std::string_view reference);

}  // namespace ostrel
