#pragma once
// The program files that upload-and-run sends: a file on disk, or the calculator program
// this build carries, reached through the name "@@MEMFILE@@".
//
// The carried program is a memory record (size, build date, build time, checksum, then
// the image bytes) generated at build time from the file named by the CMake cache
// variable OSTREL_RECOVERY_HELPER; a build without one carries none, and "@@MEMFILE@@"
// then cannot be opened.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/files.h"

namespace ostrel {

inline constexpr std::string_view kBuiltInProgramName = "@@MEMFILE@@";

// The stored record of the carried program (header included); empty when the build
// carries none.
std::span<const std::uint8_t> BuiltInProgramRecord();

// Opens a program file for reading: "@@MEMFILE@@" gives the carried program (a damaged
// record raises "BASE_00.TMemoryFile.Create:checksum"), any other name a regular file on
// disk. Null when there is nothing to read (no carried program, a blank name, no such
// file, a folder, or a file that cannot be opened).
std::unique_ptr<TBaseFile> OpenProgramFile(const std::string& name);

// The record over a memory record's bytes; what OpenProgramFile uses for the carried one.
std::unique_ptr<TBaseFile> OpenMemoryProgram(std::span<const std::uint8_t> record);

}  // namespace ostrel
