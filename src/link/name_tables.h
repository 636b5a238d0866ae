#pragma once
// The name tables of the serial port: the names a connection string may use for parity,
// stop bits, the bits of the line-control flags word, and the open flags.

#include <cstdint>

#include "base/string_map.h"

namespace ostrel {

// Parity codes.
enum ParityCode : int { kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3, kParitySpace = 4 };
// Stop-bit codes.
enum StopBitCode : int { kStopOne = 0, kStopOne5 = 1, kStopTwo = 2 };

// Bits of the line-control flags word, in bit order. DTR and RTS control are two-bit fields
// of the word: value 1 is "on", value 2 is "handshake".
inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParity = 0x0002;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kDcbDtrOn = 0x0010;
inline constexpr std::uint32_t kDcbDtrHandshake = 0x0020;
inline constexpr std::uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kDcbOutX = 0x0100;
inline constexpr std::uint32_t kDcbInX = 0x0200;
inline constexpr std::uint32_t kDcbErrorChar = 0x0400;
inline constexpr std::uint32_t kDcbNull = 0x0800;
inline constexpr std::uint32_t kDcbRtsOn = 0x1000;
inline constexpr std::uint32_t kDcbRtsHandshake = 0x2000;
inline constexpr std::uint32_t kDcbAbortOnError = 0x4000;
inline constexpr std::uint32_t kDcbReserved = 0x8000;

inline constexpr std::uint32_t kFileFlagOverlapped = 0x40000000;

TMap ParityNames();
TMap StopBitNames();
TMap DcbFlagNames();
TMap FileFlagNames();

// The four tables together, as the serial port owns them.
struct TLinkNameTables {
  TMap parity = ParityNames();
  TMap stop_bits = StopBitNames();
  TMap dcb_flags = DcbFlagNames();
  TMap file_flags = FileFlagNames();
};

}  // namespace ostrel
