#pragma once
// Reading the small text files the program is configured by (settings, parameter file):
// only a regular file is read, and only up to a size cap, so that a FIFO never holds the
// start and a device such as /dev/zero is never read until memory runs out.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// A regular file opened for reading, or why not.
struct TRegularFileOpening {
  int fd = -1;       // the descriptor (reads wait as usual), or -1
  int error = 0;     // why there is none: an errno value (EISDIR for a folder, EINVAL for
                     // another kind of non-file)
  std::string kind;  // what is at the path when it is no regular file: "a FIFO", ...
};

// Opens `path` for reading only when it is a regular file. The path is looked at before it
// is opened, since opening a FIFO waits for a writer and opening a device can have effects
// of its own; the open itself does not wait, so a FIFO put there meanwhile is refused too.
TRegularFileOpening OpenRegularFileForReading(const std::string& path);

// The whole file. Nothing when there is no file at the path or it cannot be opened (the
// callers read that as "no settings"). Raises IoError when the path names something other
// than a regular file, or a file larger than `max_bytes`; the message begins with `what`
// (e.g. "Settings file") and the path, and says what to do.
std::optional<std::string> ReadSmallRegularFile(const std::string& path, std::uintmax_t max_bytes,
                                                const std::string& what);

// What a path's file mode says it is when it is no regular file: "a folder", "a FIFO",
// "a device", "a socket", else "not a regular file".
std::string NonFileKind(mode_t mode);

// The lines of a text as std::getline gives them: split at LF, no empty line after a
// final LF, a CR before the LF kept.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace ostrel
