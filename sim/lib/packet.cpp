#include "fxsim/packet.h"

#include <algorithm>

namespace fxsim {

namespace {

constexpr std::uint8_t kEscape = 0x5C;

bool IsHexDigit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsKnownType(std::uint8_t type) {
  switch (type) {
    case kTypeCommand:
    case kTypeData:
    case kTypeRoleSwap:
    case kTypeCheck:
    case kTypeAck:
    case kTypeError:
    case kTypeTerminate:
      return true;
    default:
      return false;
  }
}

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

Bytes Escape(std::span<const std::uint8_t> raw) {
  Bytes wire;
  wire.reserve(raw.size() * 2);
  for (std::uint8_t b : raw) {
    if (b < 0x20) {
      wire.push_back(kEscape);
      wire.push_back(static_cast<std::uint8_t>(b + 0x20));
    } else if (b == kEscape) {
      wire.push_back(kEscape);
      wire.push_back(kEscape);
    } else {
      wire.push_back(b);
    }
  }
  return wire;
}

Bytes Unescape(std::span<const std::uint8_t> wire) {
  Bytes raw;
  raw.reserve(wire.size());
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == kEscape && i + 1 < wire.size()) {
      const std::uint8_t next = wire[++i];
      raw.push_back(next == kEscape ? kEscape : static_cast<std::uint8_t>(next - 0x20));
    } else {
      raw.push_back(wire[i]);
    }
  }
  return raw;
}

std::uint8_t Checksum(std::span<const std::uint8_t> covered) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : covered) sum = static_cast<std::uint8_t>(sum + b);
  return static_cast<std::uint8_t>(0x100 - sum);
}

std::string Hex(std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return value;
}

Bytes BuildPacket(std::uint8_t type, std::string_view subtype,
                  std::span<const std::uint8_t> wire_data) {
  Bytes packet;
  packet.reserve(wire_data.size() + 10);
  packet.push_back(type);
  packet.insert(packet.end(), subtype.begin(), subtype.end());
  packet.push_back(wire_data.empty() ? '0' : '1');
  if (!wire_data.empty()) {
    const std::string size = Hex(static_cast<std::uint32_t>(wire_data.size()), 4);
    packet.insert(packet.end(), size.begin(), size.end());
    packet.insert(packet.end(), wire_data.begin(), wire_data.end());
  }
  const std::string sum = Hex(Checksum(std::span(packet).subspan(1)), 2);
  packet.insert(packet.end(), sum.begin(), sum.end());
  return packet;
}

Bytes ParameterBlock::Encode() const {
  std::string text = Hex(overwrite, 2) + Hex(data_type, 2) + Hex(file_size, 8);
  std::string body;
  for (const std::string& t : texts) {
    text += Hex(static_cast<std::uint32_t>(t.size()), 2);
    body += t;
  }
  text += body;
  return Bytes(text.begin(), text.end());
}

std::optional<ParameterBlock> ParameterBlock::Decode(std::span<const std::uint8_t> data) {
  constexpr std::size_t kHeader = 24;
  if (data.size() < kHeader) return std::nullopt;
  const std::string_view text = AsText(data);
  ParameterBlock block;
  const auto overwrite = ParseHex(text.substr(0, 2));
  const auto data_type = ParseHex(text.substr(2, 2));
  const auto file_size = ParseHex(text.substr(4, 8));
  if (!overwrite || !data_type || !file_size) return std::nullopt;
  block.overwrite = static_cast<std::uint8_t>(*overwrite);
  block.data_type = static_cast<std::uint8_t>(*data_type);
  block.file_size = *file_size;
  std::size_t offset = kHeader;
  for (std::size_t i = 0; i < block.texts.size(); ++i) {
    const auto length = ParseHex(text.substr(12 + 2 * i, 2));
    if (!length || offset + *length > text.size()) return std::nullopt;
    block.texts[i] = std::string(text.substr(offset, *length));
    offset += *length;
  }
  return block;
}

void PacketReader::Feed(std::span<const std::uint8_t> bytes) {
  // Drop what was consumed before growing the buffer, so it stays small.
  if (start_ > 0 && start_ == pending_.size()) {
    pending_.clear();
    start_ = 0;
  } else if (start_ > 4096) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

void PacketReader::Consume(std::size_t count) { start_ += count; }

PacketReader::Scan PacketReader::TryParse(Packet& packet, std::size_t& length) const {
  const std::span<const std::uint8_t> in(pending_.data() + start_, pending_.size() - start_);
  if (in.empty()) return Scan::kIncomplete;
  if (!IsKnownType(in[0])) return Scan::kGarbage;
  // Each field is checked as soon as it has arrived, so garbage is rejected early.
  for (std::size_t i = 1; i < 3 && i < in.size(); ++i) {
    if (!IsHexDigit(in[i])) return Scan::kGarbage;
  }
  if (in.size() < 4) return Scan::kIncomplete;
  if (in[3] != '0' && in[3] != '1') return Scan::kGarbage;
  const bool has_data = in[3] == '1';
  std::size_t data_size = 0;
  std::size_t header = 4;
  if (has_data) {
    for (std::size_t i = 4; i < 8 && i < in.size(); ++i) {
      if (!IsHexDigit(in[i])) return Scan::kGarbage;
    }
    if (in.size() < 8) return Scan::kIncomplete;
    data_size = *ParseHex(AsText(in.subspan(4, 4)));
    if (data_size > kMaxDataField) return Scan::kGarbage;
    header = 8;
  }
  const std::size_t total = header + data_size + 2;
  for (std::size_t i = header + data_size; i < total && i < in.size(); ++i) {
    if (!IsHexDigit(in[i])) return Scan::kGarbage;
  }
  if (in.size() < total) return Scan::kIncomplete;

  packet = Packet{};
  packet.bytes.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(total));
  packet.type = in[0];
  packet.subtype = std::string(AsText(in.subspan(1, 2)));
  packet.has_data = has_data;
  packet.data.assign(in.begin() + static_cast<std::ptrdiff_t>(header),
                     in.begin() + static_cast<std::ptrdiff_t>(header + data_size));
  const auto sent_sum = ParseHex(AsText(in.subspan(header + data_size, 2)));
  packet.checksum_ok = sent_sum && *sent_sum == Checksum(in.subspan(1, header + data_size - 1));
  length = total;
  return Scan::kPacket;
}

std::optional<Packet> PacketReader::Next() {
  while (start_ < pending_.size()) {
    if (pending_[start_] == 0x00 && after_packet_) {
      trailing_nul_ = true;
      after_packet_ = false;
      Consume(1);
      continue;
    }
    Packet packet;
    std::size_t length = 0;
    switch (TryParse(packet, length)) {
      case Scan::kPacket:
        Consume(length);
        if (start_ < pending_.size() && pending_[start_] == 0x00) {
          packet.trailing_nul = true;
          Consume(1);
          after_packet_ = false;
        } else {
          after_packet_ = true;
        }
        return packet;
      case Scan::kIncomplete:
        return std::nullopt;
      case Scan::kGarbage:
        Consume(1);
        ++skipped_;
        after_packet_ = false;
        break;
    }
  }
  return std::nullopt;
}

bool PacketReader::TakeTrailingNul() {
  const bool seen = trailing_nul_;
  trailing_nul_ = false;
  return seen;
}

}  // namespace fxsim
