#include "base/path_map.h"

namespace ostrel {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool StartsWithDriveLetter(std::string_view path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':';
}

}  // namespace

std::string MapScriptPath(std::string_view path) {
  if (StartsWithDriveLetter(path)) path.remove_prefix(2);
  std::string mapped(path);
  for (char& c : mapped) {
    if (c == '\\') c = '/';
  }
  return mapped;
}

}  // namespace ostrel
