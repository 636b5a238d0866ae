#include "patch/file_attributes.h"

#include <sys/stat.h>

namespace ostrel {

namespace {
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kPermissionBits = 07777;
}  // namespace

std::optional<std::uint32_t> FilePermissions(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint32_t>(st.st_mode & kPermissionBits);
}

bool IsReadOnlyMode(std::uint32_t permissions) { return (permissions & kAnyWriteBit) == 0; }

bool RemoveReadOnly(const std::string& path) {
  const auto permissions = FilePermissions(path);
  if (!permissions) return false;
  if (::chmod(path.c_str(), static_cast<mode_t>(*permissions) | S_IWUSR) != 0) return false;
  const auto after = FilePermissions(path);
  return after && !IsReadOnlyMode(*after);
}

bool SetReadOnly(const std::string& path, std::uint32_t permissions) {
  return ::chmod(path.c_str(), static_cast<mode_t>(permissions & kPermissionBits & ~kAnyWriteBit)) == 0;
}

}  // namespace ostrel
