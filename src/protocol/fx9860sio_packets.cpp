// TFX9860sio: building and sending packets, receiving and classifying answers.

#include <algorithm>
#include <chrono>

#include "base/error.h"
#include "protocol/fx9860sio.h"
#include "protocol/packet_trace.h"
#include "protocol/message_wait.h"
#include "protocol/packet_codec.h"

namespace ostrel {

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// What a packet the PC sent is, for a message about its answer.
std::string SentPacketName(std::span<const std::uint8_t> packet) {
  if (packet.size() < 4) return "a packet";
  const std::string subtype(reinterpret_cast<const char*>(packet.data()) + 1, 2);
  switch (packet[0]) {
    case kTypeCheck: return "the check";
    case kTypeAck: return "an acknowledge";
    case kTypeRoleswap: return "the role swap";
    case kTypeTerminate: return "the terminate packet";
    case kTypeCommand:
      if (subtype == "01") return "the device information request";
      if (subtype == "02") return "the link settings command";
      if (subtype == "4F") return "the flash read-out request";
      if (subtype == "2F") return "the RAM read-out request";
      if (subtype == "76") return "the OS/BIOS query";
      return "command " + subtype;
    default: return "packet " + ReadableBytes(packet.first(4));
  }
}

std::string DurationText(std::chrono::milliseconds duration) {
  if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
  return std::to_string(duration.count()) + " ms";
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

bool TFX9860sio::WritePacket() {
  EnsureOpen();
  if (settled_at_) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*settled_at_ - std::chrono::steady_clock::now());
    settled_at_.reset();
    if (wait.count() > 0) WaitWithMessages(ui_, wait);
  }
  const std::uint32_t written = channel_->Write(send_buffer_.data(), static_cast<std::uint32_t>(send_length_));
  sent_count_ += written;
  last_activity_ = std::chrono::steady_clock::now();
  last_sent_ = SentPacketName({send_buffer_.data(), send_length_});
  if (target_.trace) target_.trace->Record(TraceDirection::Sent, {send_buffer_.data(), written});
  if (written == send_length_) return true;
  // The channel says why in its diagnostics (a lost device, a line that takes nothing).
  const std::vector<std::string> lines = ReportChannelDiagnostics();
  const std::string why = lines.empty() ? std::string() : ": " + lines.back().substr(0, lines.back().find("; "));
  if (channel_->Gone()) {
    NoteFailure("the link to the calculator was lost (unplugged, or the simulator ended) while sending " + last_sent_ + why);
  } else {
    NoteFailure("the line took " + std::to_string(written) + " of the " + std::to_string(send_length_) +
                " bytes of " + last_sent_ + why);
  }
  return false;
}

bool TFX9860sio::LineClearBeforeRequest(const std::string& request) {
  const std::vector<std::uint8_t> stale = TakeStaleBytes();
  const bool discard = discard_stale_once_;
  discard_stale_once_ = false;
  if (stale.empty()) return true;
  if (discard) {
    Report("discarded " + std::to_string(stale.size()) + " bytes that were waiting on the line: " +
           ReadableBytes(std::span<const std::uint8_t>(stale).first(std::min<std::size_t>(stale.size(), 32))));
    return true;
  }
  NoteFailure("the calculator sent " + ReadableBytes(std::span<const std::uint8_t>(stale).first(std::min<std::size_t>(stale.size(), 32))) +
              (stale.size() > 32 ? "..." : "") + " before " + request +
              " was sent, after its answer to " + last_sent_ +
              ": an answer sent twice or out of turn, so later answers could not be matched to their requests; " +
              request + " was not sent");
  return false;
}

int TFX9860sio::SendPacket(bool wait_for_answer) {
  if (!LineClearBeforeRequest(SentPacketName({send_buffer_.data(), send_length_})) || !WritePacket()) return 0;
  return wait_for_answer ? ReceiveAnswer() : 0;
}

int TFX9860sio::SendCommand(std::string_view subtype, const std::uint8_t* data, int length, std::uint8_t type,
                            bool append_nul, bool escape) {
  std::span<const std::uint8_t> raw;
  if (length > 0 && data) raw = {data, static_cast<std::size_t>(length)};
  return Exchange(subtype, raw, type, append_nul, escape).Code();
}

TAnswer TFX9860sio::Exchange(std::string_view subtype, std::span<const std::uint8_t> raw, std::uint8_t type,
                             bool append_nul, bool escape) {
  EnsureOpen();
  RequireSubtype(subtype);
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
  TAnswer refused;
  if (!LineClearBeforeRequest(SentPacketName({send_buffer_.data(), send_length_}))) {
    refused.end = TLinkEnd::Unrequested;
    return refused;
  }
  if (!WritePacket()) {
    refused.end = TLinkEnd::NotSent;
    return refused;
  }
  // The start-up and reboot commands leave the calculator without an answer.
  if (subtype == "77" || subtype == "79") return {};
  return AwaitAnswer();
}

TAnswer TFX9860sio::ExchangeControl(std::uint8_t type) { return Exchange("00", {}, type, false, false); }

int TFX9860sio::SendParameterCommand(std::string_view subtype, int overwrite_code, int data_type,
                                     std::uint32_t file_size, const std::array<std::string_view, 6>& texts) {
  return ExchangeParameterCommand(subtype, overwrite_code, data_type, file_size, texts).Code();
}

TAnswer TFX9860sio::ExchangeParameterCommand(std::string_view subtype, int overwrite_code, int data_type,
                                             std::uint32_t file_size,
                                             const std::array<std::string_view, 6>& texts) {
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
  return Exchange(subtype, Bytes(field), kTypeCommand, false, false);
}

int TFX9860sio::ReceiveAnswer() { return AwaitAnswer().Code(); }

void TFX9860sio::NoteFailure(std::string cause) {
  Report(cause);
  failure_cause_ = std::move(cause);
}

std::string TFX9860sio::NoAnswerCause(TLinkEnd end) {
  const std::vector<std::string> lines = ReportChannelDiagnostics();
  switch (end) {
    case TLinkEnd::Gone: {
      // The channel said how it lost the device in its last diagnostics line.
      const std::string why = lines.empty() ? std::string() : ": " + lines.back().substr(0, lines.back().find("; "));
      return "the link to the calculator was lost (unplugged, or the simulator ended) while waiting for the "
             "answer to " + last_sent_ + why;
    }
    case TLinkEnd::Stopped: return "stopped by the user while waiting for the answer to " + last_sent_;
    case TLinkEnd::BrokenOff:
      return "the answer to " + last_sent_ + " broke off: no further byte within " + DurationText(last_timeout_);
    default: return "no answer from the calculator within " + DurationText(last_timeout_) + " to " + last_sent_;
  }
}

// Receives one packet: header, data field when the flag says so, checksum. A packet is
// usable only when every field is well formed and the checksum matches; a damaged packet
// must never be taken for data (a backup would store it).
TAnswer TFX9860sio::AwaitAnswer() {
  EnsureOpen();
  // The answer's bytes go to the trace as one packet, on every way out (an error answer
  // raises).
  struct TraceOnExit {
    TFX9860sio& sio;
    ~TraceOnExit() {
      if (sio.target_.trace && !sio.traced_answer_.empty()) {
        sio.target_.trace->Record(TraceDirection::Received, sio.traced_answer_);
      }
      sio.traced_answer_.clear();
    }
  } trace_on_exit{*this};
  traced_answer_.clear();
  running_checksum_ = 0;
  header_.fill(0);
  if (!ReceiveHeader()) {
    TAnswer none;
    none.end = last_end_ == TLinkEnd::None ? TLinkEnd::Silent : last_end_;
    // Some bytes of a header that then stopped: the packet broke off.
    if (none.end == TLinkEnd::Silent && last_header_length_ > 0) none.end = TLinkEnd::BrokenOff;
    NoteFailure(NoAnswerCause(none.end));
    Report("...failed!");
    return none;
  }
  const auto subtype = ParseHexField(std::span<const std::uint8_t>(header_).subspan(1, 2));
  FieldState state = subtype ? FieldState::Intact : FieldState::Damaged;

  TAnswer answer;
  if (header_[3] == '1') {
    const FieldState data_state = ReceiveDataField(answer.data);
    if (state == FieldState::Intact) state = data_state;
  }
  // After a field that was cut off the line is silent: waiting for a checksum would only
  // add another time-out.
  if (state == FieldState::Intact) state = ReceiveChecksum();

  if (state != FieldState::Intact) {
    TAnswer none;
    if (state == FieldState::Damaged) {
      none.end = TLinkEnd::Corrupt;
      Report("checksum error");
      NoteFailure("a damaged packet arrived in answer to " + last_sent_ + " (checksum error)");
    } else {
      // Cut off: the line went silent, was lost or the user stopped in the middle.
      none.end = last_end_ == TLinkEnd::Gone || last_end_ == TLinkEnd::Stopped ? last_end_ : TLinkEnd::BrokenOff;
      NoteFailure(NoAnswerCause(none.end));
    }
    header_.fill(0);
    received_data_.clear();
    Report("...failed!");
    return none;
  }

  answer.header = header_;
  if (answer.HasDataField()) received_data_ = answer.data;
  if (answer.Type() == kTypeError && *subtype != 2) {
    // Before the classification, which raises the error of an answer with data.
    NoteFailure("the calculator answered " + last_sent_ + " with " +
                ErrorAnswerMeaning(std::string_view(reinterpret_cast<const char*>(&answer.header[1]), 2)));
  }
  answer.kind = Classify(answer, *subtype);
  if (answer.kind == TAnswerKind::OverwriteRequest) return answer;  // reported by the caller's question
  Report(answer.Code() != kNoAnswer ? "...successful!" : "...failed!");
  return answer;
}

// The four header bytes; the data flag and subtype characters count into the checksum.
bool TFX9860sio::ReceiveHeader() {
  const int header_length = ReceiveBytes(4);
  last_header_length_ = header_length;
  if (header_length != 4) {
    Report("headerlength: " + std::to_string(header_length));
    return false;
  }
  std::copy_n(receive_buffer_.begin(), 4, header_.begin());
  for (int i = 1; i < 4; ++i) running_checksum_ = static_cast<std::uint8_t>(running_checksum_ + header_[i]);
  return true;
}

// The size field and the data it announces, as they came (escaped).
TFX9860sio::FieldState TFX9860sio::ReceiveDataField(std::vector<std::uint8_t>& data) {
  if (ReceiveBytes(4) != 4) return FieldState::Cut;
  std::copy_n(receive_buffer_.begin(), 4, size_chars_.begin());
  for (std::uint8_t c : size_chars_) running_checksum_ = static_cast<std::uint8_t>(running_checksum_ + c);
  const auto size = ParseHexField(std::span<const std::uint8_t>(size_chars_));
  if (!size) return FieldState::Damaged;
  received_data_size_ = static_cast<int>(*size);
  data.clear();
  if (*size == 0) return FieldState::Intact;
  if (ReceiveBytes(received_data_size_) != received_data_size_) return FieldState::Cut;
  data = receive_buffer_;
  for (std::uint8_t c : data) running_checksum_ = static_cast<std::uint8_t>(running_checksum_ + c);
  return FieldState::Intact;
}

TFX9860sio::FieldState TFX9860sio::ReceiveChecksum() {
  if (ReceiveBytes(2) != 2) return FieldState::Cut;
  std::copy_n(receive_buffer_.begin(), 2, checksum_chars_.begin());
  const auto checksum = ParseHexField(std::span<const std::uint8_t>(checksum_chars_));
  if (!checksum || *checksum != static_cast<std::uint8_t>(-running_checksum_)) return FieldState::Damaged;
  return FieldState::Intact;
}

// An error answer that carries data ends the operation with its code.
TAnswerKind TFX9860sio::Classify(const TAnswer& answer, std::uint32_t subtype) const {
  switch (answer.Type()) {
    case kTypeRoleswap: return TAnswerKind::RoleSwap;
    case kTypeAck: return TAnswerKind::Acknowledge;
    case kTypeError:
      if (subtype == 2) return TAnswerKind::OverwriteRequest;
      if (answer.HasDataField()) {
        const std::string code(reinterpret_cast<const char*>(&answer.header[1]), 2);
        throw Error("Error: " + code, ErrorKind::ErrorAnswer, code);
      }
      return TAnswerKind::Error;
    default: return TAnswerKind::Packet;
  }
}

}  // namespace ostrel
