// TFX9860sio: building and sending packets, receiving and classifying answers.

#include <algorithm>

#include "base/error.h"
#include "protocol/fx9860sio.h"
#include "protocol/packet_codec.h"

namespace ostrel {

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void RequireSubtype(std::string_view subtype) {
  if (subtype.size() != 2) throw Error("packet subtype must be two characters: \"" + std::string(subtype) + "\"");
}

}  // namespace

void TFX9860sio::StartPacket(std::string_view text) {
  send_length_ = 0;
  AppendText(text);
}

void TFX9860sio::AppendText(std::string_view text) { AppendBytes(Bytes(text)); }

void TFX9860sio::AppendBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > send_buffer_.size() - send_length_) {
    throw Error("packet too long: " + std::to_string(send_length_ + bytes.size()) + " bytes");
  }
  std::copy(bytes.begin(), bytes.end(), send_buffer_.begin() + static_cast<std::ptrdiff_t>(send_length_));
  send_length_ += bytes.size();
}

void TFX9860sio::AppendChecksum() {
  // The type byte is not covered.
  std::span<const std::uint8_t> covered(send_buffer_.data(), send_length_);
  AppendText(HexDigits(PacketChecksum(covered.subspan(std::min<std::size_t>(1, send_length_))), 2));
}

int TFX9860sio::SendPacket(bool wait_for_answer) {
  EnsureOpen();
  channel_->Write(send_buffer_.data(), static_cast<std::uint32_t>(send_length_));
  sent_count_ += send_length_;
  return wait_for_answer ? ReceiveAnswer() : 0;
}

int TFX9860sio::SendCommand(std::string_view subtype, const std::uint8_t* data, int length, std::uint8_t type,
                            bool append_nul, bool escape) {
  EnsureOpen();
  RequireSubtype(subtype);
  std::span<const std::uint8_t> raw;
  if (length > 0 && data) raw = {data, static_cast<std::size_t>(length)};
  std::vector<std::uint8_t> escaped;
  std::span<const std::uint8_t> field = raw;
  if (escape && !raw.empty()) {
    escaped = EscapeData(raw);
    field = escaped;
  }
  if (field.size() > kMaxDataField) {
    throw Error("packet data too long: " + std::to_string(field.size()) + " bytes");
  }

  std::string head(1, static_cast<char>(type));
  head += subtype;
  head += field.empty() ? '0' : '1';
  StartPacket(head);
  if (!field.empty()) {
    AppendText(HexDigits(static_cast<std::uint32_t>(field.size()), 4));
    AppendBytes(field);
  }
  AppendChecksum();
  if (append_nul) AppendBytes(std::array<std::uint8_t, 1>{0});
  // The start-up and reboot commands leave the calculator without an answer.
  const bool wait = subtype != "77" && subtype != "79";
  return SendPacket(wait);
}

int TFX9860sio::SendParameterCommand(std::string_view subtype, int overwrite_code, int data_type,
                                     std::uint32_t file_size, const std::array<std::string_view, 6>& texts) {
  EnsureOpen();
  std::string field = HexDigits(static_cast<std::uint32_t>(overwrite_code), 2) +
                      HexDigits(static_cast<std::uint32_t>(data_type), 2) + HexDigits(file_size, 8);
  std::string joined;
  for (std::string_view text : texts) {
    if (text.size() > 0xFF) throw Error("parameter text too long: " + std::string(text.substr(0, 32)) + "...");
    field += HexDigits(static_cast<std::uint32_t>(text.size()), 2);
    joined += text;
  }
  field += joined;
  // The block is ASCII throughout and goes unescaped; it is never empty, so the packet
  // always carries a data field.
  return SendCommand(subtype, reinterpret_cast<const std::uint8_t*>(field.data()), static_cast<int>(field.size()),
                     kTypeCommand, false, false);
}

int TFX9860sio::ReceiveAnswer() {
  EnsureOpen();
  running_checksum_ = 0;
  int result = kNoAnswer;

  header_.fill(0);
  const int header_length = ReceiveBytes(4);
  if (header_length != 4) {
    Report("headerlength: " + std::to_string(header_length));
    Report("...failed!");
    return kNoAnswer;
  }
  std::copy_n(receive_buffer_.begin(), 4, header_.begin());
  for (int i = 1; i < 4; ++i) running_checksum_ = static_cast<std::uint8_t>(running_checksum_ + header_[i]);

  // A packet is usable only when every field is well formed and the checksum matches; a
  // damaged packet must never be taken for data (a backup would store it).
  bool damaged = false;
  bool complete = true;
  const auto subtype = ParseHexField(std::span<const std::uint8_t>(header_).subspan(1, 2));
  if (!subtype) damaged = true;

  bool has_data = false;
  if (header_[3] == '1') {
    if (ReceiveBytes(4) != 4) {
      complete = false;
    } else {
      std::copy_n(receive_buffer_.begin(), 4, size_chars_.begin());
      for (std::uint8_t c : size_chars_) running_checksum_ = static_cast<std::uint8_t>(running_checksum_ + c);
      const auto size = ParseHexField(std::span<const std::uint8_t>(size_chars_));
      if (!size) {
        damaged = true;
      } else {
        received_data_size_ = static_cast<int>(*size);
        if (*size == 0) {
          received_data_.clear();
          has_data = true;
        } else if (ReceiveBytes(received_data_size_) == received_data_size_) {
          received_data_ = receive_buffer_;
          for (std::uint8_t c : received_data_) running_checksum_ = static_cast<std::uint8_t>(running_checksum_ + c);
          has_data = true;
          result = received_data_size_;
        } else {
          complete = false;
        }
      }
    }
  }

  // After a field that was cut off the line is silent: waiting for a checksum would only
  // add another time-out.
  if (complete && !damaged) {
    if (ReceiveBytes(2) != 2) {
      complete = false;
    } else {
      std::copy_n(receive_buffer_.begin(), 2, checksum_chars_.begin());
      const auto checksum = ParseHexField(std::span<const std::uint8_t>(checksum_chars_));
      if (!checksum || *checksum != static_cast<std::uint8_t>(-running_checksum_)) damaged = true;
    }
  }

  if (damaged || !complete) {
    if (damaged) Report("checksum error");
    header_.fill(0);
    received_data_.clear();
    Report("...failed!");
    return kNoAnswer;
  }

  switch (header_[0]) {
    case kTypeRoleswap:
    case kTypeAck:
      result = kAcknowledged;
      break;
    case kTypeError:
      if (*subtype == 2) return kOverwriteAsked;
      if (has_data) {
        throw Error("Error: " + std::string(reinterpret_cast<const char*>(&header_[1]), 2));
      }
      result = kNoAnswer;
      break;
    default:
      break;
  }
  Report(result != kNoAnswer ? "...successful!" : "...failed!");
  return result;
}

}  // namespace ostrel
