#pragma once
// The read-only state of a target file. A file counts as read-only when it carries no
// write permission bit at all; that is the file's own mark, independent of who runs the
// program (root may write to any file, yet a file without write bits is still protected).

#include <string>

namespace ostrel {

// True when `path` names an existing file without any write permission bit.
bool IsReadOnlyFile(const std::string& path);

// Gives the owner write permission. True when the file is no longer read-only afterwards.
bool UnlockReadOnlyFile(const std::string& path);

}  // namespace ostrel
