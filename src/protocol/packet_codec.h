#pragma once
// The byte-level rules of the link packets: checksum, escaping of binary data, and the
// upper-case hexadecimal fields.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The negated byte sum (mod 256) of the bytes.
std::uint8_t PacketChecksum(std::span<const std::uint8_t> bytes);

// Bytes below 0x20 become 0x5C, byte + 0x20; 0x5C becomes 5C 5C; others stay.
std::vector<std::uint8_t> EscapeData(std::span<const std::uint8_t> raw);
// The reverse: 5C 5C gives 5C, 5C c gives c - 0x20. A lone 0x5C at the very end stays.
std::vector<std::uint8_t> UnescapeData(std::span<const std::uint8_t> escaped);

// The reverse for data that must be exact (image blocks, records): an escape that no
// sender makes (5C followed by a byte outside 20..3F and 5C, or a 5C at the very end) is
// reported instead of decoded.
struct TUnescaped {
  std::vector<std::uint8_t> bytes;         // decoded up to the malformed escape
  std::optional<std::size_t> malformed_at;  // offset of the malformed 5C in the escaped data
};
TUnescaped UnescapeChecked(std::span<const std::uint8_t> escaped);

// `digits` upper-case hexadecimal digits of the value (the low digits when it is longer).
std::string HexDigits(std::uint32_t value, int digits);
// The value of a field of hexadecimal digits ("0"-"9", "A"-"F", "a"-"f"); nothing when
// the field is empty or holds any other character.
std::optional<std::uint32_t> ParseHexField(std::span<const std::uint8_t> field);
std::optional<std::uint32_t> ParseHexField(std::string_view field);

// Packet bytes for a message: printable ASCII as it is, every other byte as "<XX>" (two
// upper-case hex digits), so a type byte 0x06 shows as "<06>" and never as a raw byte.
std::string ReadableBytes(std::span<const std::uint8_t> bytes);
std::string ReadableBytes(std::string_view bytes);

}  // namespace ostrel
