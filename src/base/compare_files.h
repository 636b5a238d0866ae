#pragma once
// Compares two files by their directory entries and their contents.

#include <filesystem>
#include <string>

namespace ostrel {

// Gives the empty text when both files are equal, otherwise a message:
//   "<path> does not exist!" for the first missing file (nothing else is compared);
//   "Mismatch: " + "Time" and/or "Size" (joined by ",") for differing last-write times
//   (unless ignore_time) and sizes;
//   for files of equal size, the first content difference: "Unexpected eof after
//   reading <n> bytes!", "Size mismatch while reading!" or "Binary mismatch at <pos>!"
//   (pos counted from 1), joined to a "Mismatch: " text by "; ".
// A file that exists but cannot be read raises ostrel::IoError.
std::string CompareFiles(const std::filesystem::path& first, const std::filesystem::path& second,
                         bool ignore_time);

}  // namespace ostrel
