#include "protocol/packet_codec.h"

namespace ostrel {

namespace {
constexpr std::uint8_t kEscape = 0x5C;
constexpr std::uint8_t kEscapeOffset = 0x20;
}  // namespace

std::uint8_t PacketChecksum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return static_cast<std::uint8_t>(-sum);
}

std::vector<std::uint8_t> EscapeData(std::span<const std::uint8_t> raw) {
  std::vector<std::uint8_t> out;
  out.reserve(raw.size() * 2);
  for (std::uint8_t b : raw) {
    if (b < kEscapeOffset) {
      out.push_back(kEscape);
      out.push_back(static_cast<std::uint8_t>(b + kEscapeOffset));
    } else if (b == kEscape) {
      out.push_back(kEscape);
      out.push_back(kEscape);
    } else {
      out.push_back(b);
    }
  }
  return out;
}

std::vector<std::uint8_t> UnescapeData(std::span<const std::uint8_t> escaped) {
  std::vector<std::uint8_t> out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    std::uint8_t b = escaped[i];
    if (b == kEscape && i + 1 < escaped.size()) {
      std::uint8_t next = escaped[++i];
      out.push_back(next == kEscape ? kEscape : static_cast<std::uint8_t>(next - kEscapeOffset));
    } else {
      out.push_back(b);
    }
  }
  return out;
}

std::string HexDigits(std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

std::optional<std::uint32_t> ParseHexField(std::span<const std::uint8_t> field) {
  if (field.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (std::uint8_t c : field) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return value;
}

std::optional<std::uint32_t> ParseHexField(std::string_view field) {
  return ParseHexField(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(field.data()),
                                                     field.size()));
}

}  // namespace ostrel
