#pragma once
// The option word: the set of options the front end builds from its controls and passes
// to every maintenance operation.

#include <cstdint>

namespace ostrel {

using TOptionWord = std::uint16_t;

inline constexpr TOptionWord OPT_USB = 0x0001;
inline constexpr TOptionWord OPT_3PIN = 0x0002;
inline constexpr TOptionWord OPT_IGNORE_ID = 0x0040;
inline constexpr TOptionWord OPT_IGNORE_CHECKSUM = 0x0080;
inline constexpr TOptionWord OPT_IGNORE_MAIN_MEMORY = 0x0100;
inline constexpr TOptionWord OPT_UPLOAD_AND_RUN = 0x0200;
inline constexpr TOptionWord OPT_INCLUDE_SMEM = 0x1000;
inline constexpr TOptionWord OPT_DELETE_SMEM = 0x2000;

}  // namespace ostrel
