#pragma once
// Paths written in scripts use the drive letters and backslashes of the system the
// scripts were written for ("C:\obj\main.OBJ", "..\src\x.c"). MapScriptPath turns them
// into paths of this file system.

#include <string>
#include <string_view>

namespace ostrel {

// Every "\" becomes "/" and a leading drive letter with its colon ("C:") is dropped:
// "C:\obj\x" gives "/obj/x", "\\server\share" gives "//server/share". A path with
// neither is returned unchanged.
std::string MapScriptPath(std::string_view path);

}  // namespace ostrel
