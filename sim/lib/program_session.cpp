// The uploaded recovery program's side of the link: the extended commands that write RAM,
// erase and write flash sectors, report the OS/BIOS record, set the LCD contrast, and
// leave for the boot code or reboot. Like the program, it refuses (error 04) every request
// outside what it allows: RAM writes outside the staging area, flash ranges outside the
// chip, odd addresses or lengths, unaligned erases, and sector 0 always. A refusal changes
// nothing; a request aimed at a sector is still recorded in that sector's history.

#include <algorithm>
#include <string>

#include "calculator_session.h"

namespace fxsim {

namespace {

std::uint32_t Big32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) << 24 | static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
}

constexpr std::uint32_t kStagingStart = 0x88030000;
constexpr std::uint32_t kStagingEnd = 0x88040000;
constexpr std::uint32_t kContrastMax = 255;

OutgoingPacket Ack(int work_ms = 0) { return {BuildPacket(kTypeAck, "00"), false, false, work_ms}; }

bool InStaging(std::uint32_t address, std::uint32_t length) {
  return address >= kStagingStart && address <= kStagingEnd && length <= kStagingEnd - address;
}

std::string Address(std::uint32_t address) { return Hex(address, 8); }

}  // namespace

void CalculatorSession::OnProgramPacket(const Packet& packet, Reaction& reaction) {
  if (!packet.checksum_ok) {
    AnswerError(reaction, FaultSite::Kind::kAnyTime, "01");
    return;
  }
  if (packet.type == kTypeCheck) {
    Answer(reaction, FaultSite::Kind::kCheck, 0, Ack());
  } else if (packet.type == kTypeTerminate || packet.type == kTypeRoleSwap) {
    Answer(reaction, FaultSite::Kind::kAnyTime, 0, Ack());
  } else if (packet.type == kTypeCommand) {
    OnProgramCommand(packet, reaction);
  } else if (packet.type != kTypeError) {
    AnswerError(reaction, FaultSite::Kind::kAnyTime, "00");
  }
}

void CalculatorSession::OnProgramCommand(const Packet& packet, Reaction& reaction) {
  const std::string& sub = packet.subtype;
  const Bytes data = Unescape(packet.data);
  if (sub == "70") {
    WriteRam(data, reaction);
  } else if (sub == "71") {
    WriteFlash(data, reaction);
  } else if (sub == "72") {
    EraseSector(data, reaction);
  } else if (sub == "76") {
    if (data.empty()) {
      QueryOsBios(reaction);
    } else {
      Refuse(reaction, FaultSite::Kind::kOsBios, 0, "OS/BIOS query with " + std::to_string(data.size()) + " data bytes");
    }
  } else if (sub == "77") {
    // No answer: the program leaves for the boot code at once.
    Restart(reaction, true);
  } else if (sub == "78") {
    const FaultSpec* fault = plan_.NextPacket(FaultSite::Kind::kReboot, 0);
    if (Replaces(reaction, fault)) return;
    Deliver(reaction, fault, Ack());
    Restart(reaction, false);
  } else if (sub == "79") {
    Restart(reaction, false);
  } else if (sub == "7A") {
    SetContrast(data, reaction);
  } else {
    AnswerError(reaction, FaultSite::Kind::kAnyTime, "00");
  }
}

void CalculatorSession::Refuse(Reaction& reaction, FaultSite::Kind site, int number, const std::string& why) {
  const FaultSpec* fault = plan_.NextPacket(site, number);
  if (Replaces(reaction, fault)) return;
  unit_.Report("program refused " + why);
  Deliver(reaction, fault, {BuildPacket(kTypeError, "04"), false, false});
}

void CalculatorSession::WriteRam(std::span<const std::uint8_t> data, Reaction& reaction) {
  const int number = unit_.NextRamWrite();
  const std::uint32_t address = data.size() >= 8 ? Big32(data, 0) : 0;
  const std::uint32_t length = data.size() >= 8 ? Big32(data, 4) : 0;
  const bool allowed = data.size() >= 8 && length == data.size() - 8 && InStaging(address, length);
  const auto ram = allowed ? unit_.RamAt(address, length) : std::nullopt;
  if (!ram) {
    Refuse(reaction, FaultSite::Kind::kRamWrite, number,
           "RAM write " + std::to_string(number) + " (" + std::to_string(data.size()) + " data bytes, address " +
               Address(address) + ", length " + Address(length) + ")");
    return;
  }
  const FaultSpec* fault = plan_.NextPacket(FaultSite::Kind::kRamWrite, number);
  if (Replaces(reaction, fault)) return;
  std::copy(data.begin() + 8, data.end(), ram->begin());
  Deliver(reaction, fault, Ack());
}

void CalculatorSession::WriteFlash(std::span<const std::uint8_t> data, Reaction& reaction) {
  const std::uint32_t address = data.size() == 12 ? Big32(data, 0) : 0;
  const std::uint32_t length = data.size() == 12 ? Big32(data, 4) : 0;
  const std::uint32_t source = data.size() == 12 ? Big32(data, 8) : 0;
  const auto offset = data.size() == 12 ? unit_.FlashOffset(address, 1) : std::nullopt;
  const int sector = offset ? static_cast<int>(*offset / kSectorSize) : -1;
  const bool allowed = offset && *offset >= kSectorSize && length > 0 && length % 2 == 0 && address % 2 == 0 &&
                       unit_.FlashOffset(address, length) && InStaging(source, length);
  const auto ram = allowed ? unit_.RamAt(source, length) : std::nullopt;
  if (!ram) {
    if (sector >= 0) unit_.NoteRefused(static_cast<std::size_t>(sector));
    Refuse(reaction, FaultSite::Kind::kFlashWrite, sector,
           "flash write (" + std::to_string(data.size()) + " data bytes, address " + Address(address) +
               ", length " + Address(length) + ", source " + Address(source) + ")");
    return;
  }
  const FaultSpec* fault = plan_.NextPacket(FaultSite::Kind::kFlashWrite, sector);
  if (Replaces(reaction, fault)) return;
  const bool verified = unit_.WriteFlash(*offset, *ram);
  if (!verified) unit_.Report("flash write at " + Address(address) + " does not read back as written");
  Deliver(reaction, fault,
          verified ? Ack(unit_.Program().write_ms)
                   : OutgoingPacket{BuildPacket(kTypeError, "00"), false, false, unit_.Program().write_ms});
}

void CalculatorSession::EraseSector(std::span<const std::uint8_t> data, Reaction& reaction) {
  const std::uint32_t address = data.size() == 4 ? Big32(data, 0) : 0;
  const auto offset = data.size() == 4 ? unit_.FlashOffset(address, 1) : std::nullopt;
  const int sector = offset ? static_cast<int>(*offset / kSectorSize) : -1;
  if (!offset || *offset % kSectorSize != 0 || sector == 0) {
    if (sector >= 0) unit_.NoteRefused(static_cast<std::size_t>(sector));
    Refuse(reaction, FaultSite::Kind::kErase, sector,
           "sector erase (" + std::to_string(data.size()) + " data bytes, address " + Address(address) + ")");
    return;
  }
  const FaultSpec* fault = plan_.NextPacket(FaultSite::Kind::kErase, sector);
  if (Replaces(reaction, fault)) return;
  unit_.EraseSector(static_cast<std::size_t>(sector));
  Deliver(reaction, fault, Ack(unit_.Program().erase_ms));
}

void CalculatorSession::QueryOsBios(Reaction& reaction) {
  if (!Answer(reaction, FaultSite::Kind::kOsBios, 0, Ack())) return;
  const auto record = unit_.OsBiosRecord();
  Answer(reaction, FaultSite::Kind::kOsBiosRecord, 0, {BuildPacket(kTypeData, "76", Escape(record)), true, false});
}

void CalculatorSession::SetContrast(std::span<const std::uint8_t> data, Reaction& reaction) {
  if (data.size() != 4 || Big32(data, 0) > kContrastMax || !unit_.Program().contrast_driver) {
    Refuse(reaction, FaultSite::Kind::kContrast, 0,
           "LCD contrast (" + std::to_string(data.size()) + " data bytes" +
               (data.size() == 4 ? ", value " + std::to_string(Big32(data, 0)) : std::string()) + ")");
    return;
  }
  const FaultSpec* fault = plan_.NextPacket(FaultSite::Kind::kContrast, 0);
  if (Replaces(reaction, fault)) return;
  unit_.SetContrast(Big32(data, 0));
  Deliver(reaction, fault, Ack());
}

void CalculatorSession::Restart(Reaction& reaction, bool into_boot_code) {
  unit_.BeginRestart(into_boot_code);
  state_ = State::kIdle;
  reaction.restart = true;
}

}  // namespace fxsim
