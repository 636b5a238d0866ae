#include "operations/read_only_file.h"

#include <sys/stat.h>

namespace ostrel {

namespace {
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
}  // namespace

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & kAnyWriteBit) == 0;
}

bool UnlockReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) return false;
  return !IsReadOnlyFile(path);
}

}  // namespace ostrel
