#include "calculator_session.h"

#include <algorithm>
#include <string>

namespace fxsim {

namespace {

constexpr std::string_view kStorageName = "fls0";

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

OutgoingPacket Plain(std::uint8_t type, std::string_view subtype) {
  return {BuildPacket(type, subtype), false, false};
}

bool IsSupportedBaud(const std::string& text) { return text == "9600" || text == "115200"; }

// Leaves out or changes one byte, or spoils the checksum, as the fault says.
void Mangle(const FaultSpec& fault, Bytes& bytes) {
  const std::size_t index =
      fault.byte_index >= 0 ? std::min<std::size_t>(static_cast<std::size_t>(fault.byte_index),
                                                    bytes.size() - 1)
                            : bytes.size() / 2;
  switch (fault.fault) {
    case Fault::kDropByte:
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(index));
      break;
    case Fault::kCorruptByte:
      bytes[index] ^= 0x01;
      break;
    case Fault::kBadChecksum: {
      const std::string_view digits(reinterpret_cast<const char*>(bytes.data()) + bytes.size() - 2, 2);
      const std::string wrong = Hex(*ParseHex(digits) + 1, 2);
      std::copy(wrong.begin(), wrong.end(), bytes.end() - 2);
      break;
    }
    default:
      break;
  }
}

}  // namespace

FaultPlan::FaultPlan(std::vector<FaultSpec> faults) {
  for (FaultSpec& f : faults) {
    switch (f.fault) {
      case Fault::kNoAnswer:
        if (f.site.kind == FaultSite::Kind::kAnyTime) {
          no_answer_ = true;
        } else {
          sited_.push_back(std::move(f));
        }
        break;
      case Fault::kExtraBlocks:
        extra_blocks_ += f.count;
        break;
      case Fault::kNoRoleSwap:
        no_roleswap_ = true;
        break;
      case Fault::kAnnounceRoleSwap:
        announce_roleswap_ = true;
        break;
      case Fault::kShortBlocks:
        block_bytes_ = static_cast<std::size_t>(f.count);
        break;
      default:
        sited_.push_back(std::move(f));
        break;
    }
  }
  spent_.resize(sited_.size());
}

const FaultSpec* FaultPlan::NextPacket(FaultSite::Kind answer, int number) {
  using Kind = FaultSite::Kind;
  const int packet = ++packets_;
  for (std::size_t i = 0; i < sited_.size(); ++i) {
    const FaultSite& site = sited_[i].site;
    // The sites of the recovery program hit once; a site without a number hits the first.
    const bool once = site.kind >= Kind::kUpload;
    if (once && spent_[i]) continue;
    bool hits = false;
    switch (site.kind) {
      case Kind::kAnyTime:
        hits = true;
        break;
      case Kind::kPacket:
        hits = site.number == packet;
        break;
      case Kind::kBlock:
        hits = answer == Kind::kBlock && site.number == number;
        break;
      default:
        hits = site.kind == answer && (!once || site.number == 0 || site.number == number);
        break;
    }
    if (hits) {
      if (once) spent_[i] = true;
      return &sited_[i];
    }
  }
  return nullptr;
}

CalculatorSession::CalculatorSession(Endpoint endpoint, CalculatorUnit& unit, FaultPlan& plan, int baud)
    : endpoint_(endpoint), unit_(unit), plan_(plan), baud_(baud) {}

bool CalculatorSession::Answer(Reaction& reaction, FaultSite::Kind site, int block,
                               OutgoingPacket packet) {
  const FaultSpec* fault = plan_.NextPacket(site, block);
  if (Replaces(reaction, fault)) return false;
  Deliver(reaction, fault, std::move(packet));
  return true;
}

// The packet with its data field changed: the first byte of the data (of a data block,
// the first after its block numbers) becomes the escape 5C 7F, and the size and the
// checksum follow the change. A packet without data goes out as it is.
namespace {

void SpoilEscape(Bytes& bytes) {
  if (bytes.size() < 10 || bytes[3] != '1') return;
  const std::string_view size_text(reinterpret_cast<const char*>(bytes.data()) + 4, 4);
  const auto size = ParseHex(size_text);
  if (!size || *size == 0 || bytes.size() < 8 + *size + 2) return;
  Bytes data(bytes.begin() + 8, bytes.begin() + 8 + *size);
  const std::size_t at = bytes[0] == kTypeData && data.size() > 8 ? 8 : 0;
  data[at] = 0x5C;
  data.insert(data.begin() + static_cast<std::ptrdiff_t>(at) + 1, 0x7F);
  const std::string subtype(reinterpret_cast<const char*>(bytes.data()) + 1, 2);
  bytes = BuildPacket(bytes[0], subtype, data);
}

}  // namespace

bool CalculatorSession::Replaces(Reaction& reaction, const FaultSpec* fault) {
  last_fault_ = fault;
  if (fault == nullptr) return false;
  switch (fault->fault) {
    case Fault::kAckInstead:
      reaction.packets.push_back(Plain(kTypeAck, "00"));
      return true;
    case Fault::kStalePacket:
      reaction.packets.push_back(Plain(kTypeAck, "00"));
      return false;
    case Fault::kNoAnswer:
      return true;
    case Fault::kStall:
      stalled_ = true;
      return true;
    case Fault::kDisconnect:
      stalled_ = true;
      reaction.disconnect = true;
      return true;
    case Fault::kRepeatBlock:
    case Fault::kSwapBlocks:
    case Fault::kForeignPacket:
      return true;  // the read-out sends its blocks in another order (OnAck)
    case Fault::kErrorAnswer: {
      const Bytes data = fault->error_with_data ? AsBytes(fault->error_code) : Bytes();
      reaction.packets.push_back({BuildPacket(kTypeError, fault->error_code, data), false, false});
      return true;
    }
    default:
      return false;
  }
}

void CalculatorSession::Deliver(Reaction& reaction, const FaultSpec* fault, OutgoingPacket packet) {
  if (fault != nullptr) {
    Mangle(*fault, packet.bytes);
    if (fault->fault == Fault::kBadEscape) SpoilEscape(packet.bytes);
    if (fault->fault == Fault::kDoubleAnswer) reaction.packets.push_back(packet);
  }
  reaction.packets.push_back(std::move(packet));
}

bool CalculatorSession::AnswerError(Reaction& reaction, FaultSite::Kind site,
                                    std::string_view code) {
  return Answer(reaction, site, 0, Plain(kTypeError, code));
}

Reaction CalculatorSession::OnPacket(const Packet& packet) {
  Reaction reaction;
  if (stalled_ || plan_.NoAnswer()) return reaction;
  switch (unit_.Mode()) {
    case UnitStatus::Mode::kReceive:
      break;
    case UnitStatus::Mode::kProgram:
      OnProgramPacket(packet, reaction);
      return reaction;
    default:
      return reaction;  // another program has the calculator, or it is restarting
  }
  if (!packet.checksum_ok) {
    // A damaged packet is not acted on: ask for it again and keep the state.
    AnswerError(reaction, FaultSite::Kind::kAnyTime, "01");
    return reaction;
  }
  const std::string& sub = packet.subtype;
  switch (packet.type) {
    case kTypeCheck:
      if (sub == "00" || sub == "01") {
        state_ = State::kIdle;
        Answer(reaction, FaultSite::Kind::kCheck, 0, Plain(kTypeAck, "00"));
      } else {
        AnswerError(reaction, FaultSite::Kind::kCheck, "00");
      }
      break;
    case kTypeCommand:
      OnCommand(packet, reaction);
      break;
    case kTypeRoleSwap:
      OnRoleSwap(reaction);
      break;
    case kTypeAck:
      OnAck(reaction);
      break;
    case kTypeTerminate:
      state_ = State::kIdle;
      Answer(reaction, FaultSite::Kind::kAnyTime, 0, Plain(kTypeAck, "00"));
      break;
    case kTypeError:
      break;  // the calculator never expects one; nothing to answer
    case kTypeData:
      if (state_ == State::kUploading && sub == "56") {
        OnUploadBlock(packet, reaction);
      } else {
        state_ = State::kIdle;
        AnswerError(reaction, FaultSite::Kind::kAnyTime, "00");
      }
      break;
    default:
      // Uploads and the like are not part of this calculator's repertoire.
      AnswerError(reaction, FaultSite::Kind::kAnyTime, "00");
      break;
  }
  return reaction;
}

void CalculatorSession::OnCommand(const Packet& packet, Reaction& reaction) {
  const std::string& sub = packet.subtype;
  if (sub == "01") {
    state_ = State::kIdle;
    Answer(reaction, FaultSite::Kind::kDeviceInfo, 0, DeviceInfoAnswer());
    return;
  }
  if (sub == "02") {
    state_ = State::kIdle;
    const auto block = ParameterBlock::Decode(packet.data);
    if (!block || !IsSupportedBaud(block->texts[0])) {
      AnswerError(reaction, FaultSite::Kind::kLinkSettings, "00");
      return;
    }
    // The acknowledge still goes out at the old speed; the new one applies after it.
    if (Answer(reaction, FaultSite::Kind::kLinkSettings, 0, Plain(kTypeAck, "00")) &&
        endpoint_ == Endpoint::kSerial) {
      reaction.switch_to_baud = std::stoi(block->texts[0]);
    }
    return;
  }
  if (sub == "4F" || sub == "2F") {
    state_ = State::kIdle;
    // The flash request also comes without a data field (the storage is then implied).
    const bool short_flash_request = sub == "4F" && !packet.has_data;
    const auto block = ParameterBlock::Decode(packet.data);
    if (!short_flash_request && (!block || block->texts[4] != kStorageName)) {
      AnswerError(reaction, FaultSite::Kind::kRequest, "04");
      return;
    }
    if (Answer(reaction, FaultSite::Kind::kRequest, 0, Plain(kTypeAck, "00"))) {
      image_ = sub == "4F" ? Image::kFlash : Image::kRam;
      state_ = State::kAwaitRoleSwap;
    }
    return;
  }
  if (sub == "56") {
    OnUploadCommand(packet, reaction);
    return;
  }
  state_ = State::kIdle;
  AnswerError(reaction, FaultSite::Kind::kAnyTime, "00");
}

void CalculatorSession::OnUploadCommand(const Packet& packet, Reaction& reaction) {
  state_ = State::kIdle;
  const std::string_view text(reinterpret_cast<const char*>(packet.data.data()), packet.data.size());
  const auto size = text.size() == 24 ? ParseHex(text.substr(0, 8)) : std::nullopt;
  const auto load = text.size() == 24 ? ParseHex(text.substr(8, 8)) : std::nullopt;
  const auto start = text.size() == 24 ? ParseHex(text.substr(16, 8)) : std::nullopt;
  if (!size || !load || !start || *size == 0) {
    AnswerError(reaction, FaultSite::Kind::kUpload, "00");
    return;
  }
  if (!unit_.RamAt(*load, *size)) {
    AnswerError(reaction, FaultSite::Kind::kUpload, "05");  // memory is full
    return;
  }
  if (Answer(reaction, FaultSite::Kind::kUpload, 0, Plain(kTypeAck, "00"))) {
    state_ = State::kUploading;
    upload_size_ = *size;
    upload_load_ = *load;
    upload_start_ = *start;
    upload_blocks_ = static_cast<int>((*size + kBlockPayload - 1) / kBlockPayload);
    next_upload_block_ = 1;
  }
}

void CalculatorSession::OnUploadBlock(const Packet& packet, Reaction& reaction) {
  const std::string_view text(reinterpret_cast<const char*>(packet.data.data()),
                              std::min<std::size_t>(packet.data.size(), 8));
  const auto total = text.size() == 8 ? ParseHex(text.substr(0, 4)) : std::nullopt;
  const auto number = text.size() == 8 ? ParseHex(text.substr(4, 4)) : std::nullopt;
  const Bytes payload = Unescape(std::span(packet.data).subspan(text.size()));
  const std::size_t offset = static_cast<std::size_t>(next_upload_block_ - 1) * kBlockPayload;
  const std::size_t expected = std::min<std::size_t>(kBlockPayload, upload_size_ - offset);
  if (!total || !number || static_cast<int>(*total) != upload_blocks_ ||
      static_cast<int>(*number) != next_upload_block_ || payload.size() != expected) {
    // A block out of order or of the wrong size ends the upload.
    state_ = State::kIdle;
    AnswerError(reaction, FaultSite::Kind::kUploadBlock, "00");
    return;
  }
  if (!Answer(reaction, FaultSite::Kind::kUploadBlock, next_upload_block_, Plain(kTypeAck, "00"))) return;
  const auto ram = unit_.RamAt(static_cast<std::uint32_t>(upload_load_ + offset), payload.size());
  std::copy(payload.begin(), payload.end(), ram->begin());
  if (next_upload_block_++ < upload_blocks_) return;
  state_ = State::kIdle;
  unit_.StartProgram(upload_load_, upload_start_);
  if (unit_.Mode() == UnitStatus::Mode::kProgram && unit_.Program().usb_reconnect_on_start &&
      endpoint_ == Endpoint::kUsb) {
    reaction.reconnect = true;
    unit_.SetScreen("Waiting...");
  }
}

void CalculatorSession::OnRoleSwap(Reaction& reaction) {
  if (state_ != State::kAwaitRoleSwap) {
    state_ = State::kIdle;
    Answer(reaction, FaultSite::Kind::kAnyTime, 0, Plain(kTypeAck, "00"));
    return;
  }
  OutgoingPacket announcement;
  if (plan_.AnnounceRoleSwap()) {
    announcement = Plain(kTypeRoleSwap, "00");
  } else {
    ParameterBlock block;
    block.file_size = static_cast<std::uint32_t>(ImageBytes().size());
    block.texts[1] = image_ == Image::kFlash ? "FLASH" : "RAM";
    block.texts[4] = std::string(kStorageName);
    announcement = {BuildPacket(kTypeCommand, image_ == Image::kFlash ? "50" : "30", block.Encode()),
                    true, false};
  }
  if (Answer(reaction, FaultSite::Kind::kAnyTime, 0, std::move(announcement))) {
    state_ = State::kSending;
    next_block_ = 1;
    block_fault_spent_ = 0;
    held_back_ = false;
    extra_block_sent_ = false;
  }
}

void CalculatorSession::OnAck(Reaction& reaction) {
  if (state_ != State::kSending) {
    AnswerError(reaction, FaultSite::Kind::kAnyTime, "00");
    return;
  }
  const int total = ImageBlocks() + plan_.ExtraBlocks();
  if (held_back_) {
    // The block that a swap held back, after its successor.
    held_back_ = false;
    if (Answer(reaction, FaultSite::Kind::kAnyTime, next_block_, DataBlock(next_block_, total))) next_block_ += 2;
    return;
  }
  const bool overrun = next_block_ > total;
  if (overrun && (!plan_.NoRoleSwap() || extra_block_sent_)) {
    if (Answer(reaction, FaultSite::Kind::kAnyTime, 0, Plain(kTypeRoleSwap, "00"))) {
      state_ = State::kIdle;
    }
    return;
  }
  // A fault at block N hits once per read-out: asked again, the calculator sends the block.
  const FaultSite::Kind site =
      next_block_ == block_fault_spent_ ? FaultSite::Kind::kAnyTime : FaultSite::Kind::kBlock;
  const bool sent = Answer(reaction, site, next_block_, DataBlock(next_block_, total));
  if (last_fault_ != nullptr && site == FaultSite::Kind::kBlock) {
    block_fault_spent_ = next_block_;
    SendOutOfOrder(last_fault_->fault, total, reaction);
  }
  if (sent) {
    extra_block_sent_ = overrun;
    ++next_block_;
  }
}

void CalculatorSession::SendOutOfOrder(Fault fault, int total, Reaction& reaction) {
  switch (fault) {
    case Fault::kRepeatBlock:  // the block now, and again on the next acknowledge
      reaction.packets.push_back(DataBlock(next_block_, total));
      break;
    case Fault::kSwapBlocks:  // its successor now, the block on the next acknowledge
      reaction.packets.push_back(DataBlock(next_block_ + 1, total));
      held_back_ = true;
      break;
    case Fault::kForeignPacket:  // the device information, the block on the next acknowledge
      reaction.packets.push_back(DeviceInfoAnswer());
      break;
    default:
      break;
  }
}

OutgoingPacket CalculatorSession::DeviceInfoAnswer() const {
  return {BuildPacket(kTypeAck, "02", Escape(unit_.DeviceRecord())), true, false};
}

OutgoingPacket CalculatorSession::DataBlock(int number, int total) const {
  const std::span<const std::uint8_t> image = ImageBytes();
  const std::size_t offset = static_cast<std::size_t>(number - 1) * kBlockPayload;
  std::span<const std::uint8_t> payload;
  const Bytes filler(kBlockPayload, 0xFF);  // past the image end: erased flash
  if (offset < image.size()) {
    payload = image.subspan(offset, std::min(kBlockPayload, image.size() - offset));
  } else {
    payload = filler;
  }
  payload = payload.first(std::min(payload.size(), plan_.BlockBytes()));
  Bytes data = AsBytes(Hex(static_cast<std::uint32_t>(total), 4) +
                       Hex(static_cast<std::uint32_t>(number), 4));
  const Bytes escaped = Escape(payload);
  data.insert(data.end(), escaped.begin(), escaped.end());
  return {BuildPacket(kTypeData, image_ == Image::kFlash ? "50" : "30", data), true, true};
}

std::span<const std::uint8_t> CalculatorSession::ImageBytes() const {
  return image_ == Image::kFlash ? unit_.Flash() : unit_.Ram();
}

int CalculatorSession::ImageBlocks() const {
  return static_cast<int>((ImageBytes().size() + kBlockPayload - 1) / kBlockPayload);
}

}  // namespace fxsim
