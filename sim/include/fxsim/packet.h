#pragma once
// The calculator's packet code: framing, checksum, escaping, parameter blocks, and an
// incremental reader that splits a byte stream into packets.
//
// A packet is: type byte, two subtype characters, data flag "0"/"1", and when the flag is
// "1" four hex digits of data size plus the data; then two hex digits of checksum (the
// negated sum of every byte after the type, modulo 256).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fxsim/simulator.h"

namespace fxsim {

using Bytes = std::vector<std::uint8_t>;

// Packet type codes.
inline constexpr std::uint8_t kTypeCommand = 0x01;
inline constexpr std::uint8_t kTypeData = 0x02;
inline constexpr std::uint8_t kTypeRoleSwap = 0x03;
inline constexpr std::uint8_t kTypeCheck = 0x05;
inline constexpr std::uint8_t kTypeAck = 0x06;
inline constexpr std::uint8_t kTypeError = 0x15;
inline constexpr std::uint8_t kTypeTerminate = 0x18;

// Largest data field the reader accepts; a longer size field is taken as garbage.
inline constexpr std::size_t kMaxDataField = 0x1000;

// Bytes below 0x20 become 5C, b+0x20; 5C becomes 5C 5C; everything else is kept.
Bytes Escape(std::span<const std::uint8_t> raw);
// The reverse: 5C 5C gives 5C, 5C c gives c-0x20. A lone 5C at the end is kept.
Bytes Unescape(std::span<const std::uint8_t> wire);

// The checksum byte over `covered` (the packet bytes from offset 1 up to the end of data).
std::uint8_t Checksum(std::span<const std::uint8_t> covered);

// Upper-case hex text of `value` with exactly `digits` digits (higher digits cut off).
std::string Hex(std::uint32_t value, int digits);
// Parses hex digits (either case); nullopt when a character is not a hex digit.
std::optional<std::uint32_t> ParseHex(std::string_view text);

// A whole packet. `wire_data` is the data field exactly as sent (already escaped where the
// packet kind needs it); empty means data flag "0".
Bytes BuildPacket(std::uint8_t type, std::string_view subtype,
                  std::span<const std::uint8_t> wire_data = {});

// The command parameter block: overwrite code, data type, file size, six texts.
struct ParameterBlock {
  std::uint8_t overwrite = 0;
  std::uint8_t data_type = 0;
  std::uint32_t file_size = 0;
  std::array<std::string, 6> texts;

  Bytes Encode() const;
  // nullopt when the field is too short, a number is not hex, or the texts do not fit.
  static std::optional<ParameterBlock> Decode(std::span<const std::uint8_t> data);
};

// Splits a received byte stream into packets. Bytes that cannot start a packet, and
// candidates whose header is malformed, are skipped one byte at a time, so the reader
// resynchronises on the next plausible type byte. A 0x00 right after a packet is noted:
// in the packet itself when it arrived with it, else by TakeTrailingNul() when it comes
// later (check that before handling the next packet).
class PacketReader {
 public:
  void Feed(std::span<const std::uint8_t> bytes);
  // The next complete packet, or nullopt until more bytes arrive.
  std::optional<Packet> Next();
  // True (once) when a 0x00 arrived after the packet returned by Next() was handed out,
  // directly following it.
  bool TakeTrailingNul();
  // Bytes skipped as garbage so far (a trailing 0x00 does not count).
  std::size_t SkippedBytes() const { return skipped_; }

 private:
  enum class Scan { kPacket, kIncomplete, kGarbage };
  Scan TryParse(Packet& packet, std::size_t& length) const;
  void Consume(std::size_t count);

  Bytes pending_;
  std::size_t start_ = 0;
  bool after_packet_ = false;
  bool trailing_nul_ = false;
  std::size_t skipped_ = 0;
};

}  // namespace fxsim
