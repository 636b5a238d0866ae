#include "calc/memory_board.h"

#include <algorithm>

namespace ostrel::testing {

namespace {
MemoryBoard& Self(void* context) { return *static_cast<MemoryBoard*>(context); }
}  // namespace

MemoryBoard::MemoryBoard(std::uint32_t flash_size)
    : flash(flash_size, 0xFF), staging(CALC_STAGING_END - CALC_STAGING_START, 0) {
  ids.size = flash_size;
  board_.context = this;
  board_.link_context = this;
  board_.receive_byte = ReceiveByte;
  board_.send = Send;
  board_.flash_identify = Identify;
  board_.flash_erase_sector = Erase;
  board_.flash_program = Program;
  board_.flash_read = Read;
  board_.staging = staging.data();
  board_.set_contrast = SetContrast;
  board_.processor_ids = ProcessorIds;
  board_.leave = Leave;
  board_.start.run_parameter = 0;
  board_.start.return_address = 0xA0001000;  // in the boot code
}

void MemoryBoard::Receive(const std::vector<std::uint8_t>& bytes) {
  incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
}

void MemoryBoard::ReceivePacket(std::uint8_t type, std::uint8_t subtype, const std::vector<std::uint8_t>& data) {
  Receive(Framed(type, subtype, data));
}

std::vector<std::uint8_t> MemoryBoard::TakeSent() {
  std::vector<std::uint8_t> sent;
  sent.swap(sent_);
  return sent;
}

int MemoryBoard::ReceiveByte(void* link, std::uint32_t) {
  MemoryBoard& self = Self(link);
  if (self.incoming_.empty()) return CALC_LINK_CLOSED;
  int byte = self.incoming_.front();
  self.incoming_.pop_front();
  return byte;
}

void MemoryBoard::Send(void* link, const std::uint8_t* bytes, std::uint32_t length) {
  Self(link).sent_.insert(Self(link).sent_.end(), bytes, bytes + length);
}

void MemoryBoard::Identify(void* context, calc_flash_ids* ids) { *ids = Self(context).ids; }

int MemoryBoard::Erase(void* context, std::uint32_t address) {
  MemoryBoard& self = Self(context);
  self.erased.push_back(address);
  if (self.erase_fails) return 1;
  const std::uint32_t offset = address - CALC_FLASH_BASE;
  std::fill_n(self.flash.begin() + offset, CALC_SECTOR_SIZE, 0xFF);
  if (self.erase_leaves_bits) self.flash[offset + 0x1234] = 0x7F;
  return 0;
}

int MemoryBoard::Program(void* context, std::uint32_t address, const std::uint8_t* source, std::uint32_t length) {
  MemoryBoard& self = Self(context);
  self.programmed.push_back(address);
  if (self.program_fails) return 1;
  const std::uint32_t offset = address - CALC_FLASH_BASE;
  for (std::uint32_t i = 0; i < length; ++i) self.flash[offset + i] &= source[i];
  return 0;
}

void MemoryBoard::Read(void* context, std::uint32_t address, std::uint8_t* target, std::uint32_t length) {
  const MemoryBoard& self = Self(context);
  std::copy_n(self.flash.begin() + (address - CALC_FLASH_BASE), length, target);
}

int MemoryBoard::SetContrast(void* context, std::uint32_t value) {
  MemoryBoard& self = Self(context);
  if (self.contrast_refused) return 1;
  self.contrast = value;
  return 0;
}

void MemoryBoard::ProcessorIds(void* context, std::uint32_t* pvr, std::uint32_t* prr) {
  *pvr = Self(context).pvr;
  *prr = Self(context).prr;
}

void MemoryBoard::Leave(void* context, calc_leave how) { Self(context).left = how; }

std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words, const std::vector<std::uint8_t>& tail) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t w : words) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(w >> shift));
  }
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

std::vector<std::uint8_t> Framed(std::uint8_t type, std::uint8_t subtype, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out(16 + 2 * data.size());
  out.resize(wire_frame(out.data(), type, subtype, data.data(), static_cast<std::uint32_t>(data.size())));
  return out;
}

std::vector<std::uint8_t> ErrorPacket(std::uint8_t code) { return Framed(WIRE_TYPE_ERROR, code); }

}  // namespace ostrel::testing
