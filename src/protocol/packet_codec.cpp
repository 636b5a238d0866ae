#include "protocol/packet_codec.h"

#include <charconv>

#include "base/text.h"

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

TUnescaped UnescapeChecked(std::span<const std::uint8_t> escaped) {
  TUnescaped result;
  result.bytes.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    const std::uint8_t b = escaped[i];
    if (b != kEscape) {
      result.bytes.push_back(b);
      continue;
    }
    // Only bytes below 0x20 and 0x5C itself are escaped: 5C is followed by 20..3F or 5C.
    const bool has_next = i + 1 < escaped.size();
    const std::uint8_t next = has_next ? escaped[i + 1] : 0;
    if (!has_next || (next != kEscape && (next < kEscapeOffset || next >= kEscapeOffset + 0x20))) {
      result.malformed_at = i;
      return result;
    }
    result.bytes.push_back(next == kEscape ? kEscape : static_cast<std::uint8_t>(next - kEscapeOffset));
    ++i;
  }
  return result;
}

std::string HexDigits(std::uint32_t value, int digits) {
  const std::string text = IntToHex(value, digits);
  return text.substr(text.size() - static_cast<std::size_t>(digits));
}

std::optional<std::uint32_t> ParseHexField(std::span<const std::uint8_t> field) {
  return ParseHexField(std::string_view(reinterpret_cast<const char*>(field.data()), field.size()));
}

std::optional<std::uint32_t> ParseHexField(std::string_view field) {
  // from_chars takes no sign, blank or "0x" prefix: only the digits themselves.
  if (field.empty()) return std::nullopt;
  std::uint32_t value = 0;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, value, 16);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::string ReadableBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    } else {
      text += "<" + HexDigits(b, 2) + ">";
    }
  }
  return text;
}

std::string ReadableBytes(std::string_view bytes) {
  return ReadableBytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace ostrel
