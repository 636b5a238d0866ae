#pragma once
// The read-only mark of a patch target. A file counts as read-only when it carries no
// write permission bit at all (the same rule the backups apply): that is the file's own
// mark, whoever runs the program.

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

// The permission bits of an existing file, or nothing when it does not exist.
std::optional<std::uint32_t> FilePermissions(const std::string& path);

bool IsReadOnlyMode(std::uint32_t permissions);

// Gives the owner write permission; false when the file stays read-only.
bool RemoveReadOnly(const std::string& path);

// Sets the permission bits to `permissions` without any write bit; false on failure.
bool SetReadOnly(const std::string& path, std::uint32_t permissions);

}  // namespace ostrel
