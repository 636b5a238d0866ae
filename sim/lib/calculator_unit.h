#pragma once
// The calculator behind the links: its flash (NOR, 64 KiB sectors), its RAM, its device
// record, which system runs (receive mode, the recovery program, another program) and
// what happened to it. One per simulated calculator, shared by all its links; the owner
// guards it with its lock.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fxsim/packet.h"
#include "fxsim/simulator.h"

namespace fxsim {

class CalculatorUnit {
 public:
  CalculatorUnit(Bytes flash, Bytes ram, const DeviceInfo& info, ProgramConfig program,
                 std::function<void(const std::string&)> report);

  // The memories keep their size and place for the unit's lifetime.
  const Bytes& Flash() const { return flash_; }
  const Bytes& Ram() const { return ram_; }
  // The device information as the unit reports it now: its OS fields follow the flash, so
  // after a rewrite they are the new OS's.
  Bytes DeviceRecord() const;
  const ProgramConfig& Program() const { return program_; }
  UnitStatus::Mode Mode() const { return status_.mode; }
  UnitStatus Status() const { return status_; }

  // The RAM bytes at a P1 or P2 address; nullopt when [address, address + length) is not
  // all RAM.
  std::optional<std::span<std::uint8_t>> RamAt(std::uint32_t address, std::size_t length);
  // The flash offset of a P1 or P2 address; nullopt when the range is not all flash.
  std::optional<std::size_t> FlashOffset(std::uint32_t address, std::size_t length) const;

  // Sets every byte of the sector to 0xFF.
  void EraseSector(std::size_t sector);
  // A request to erase or write the sector was refused.
  void NoteRefused(std::size_t sector) { ++status_.sectors[sector].refused; }
  // Programs `bytes` at `offset` as a NOR flash does (a bit only goes from 1 to 0) and
  // records a violation for every sector written that was not erased since its last
  // write. True when the flash reads back `bytes`.
  bool WriteFlash(std::size_t offset, std::span<const std::uint8_t> bytes);

  // A complete upload ran: the recovery program (start = load) or another program starts.
  void StartProgram(std::uint32_t load, std::uint32_t start);
  // The OS/BIOS record of the running program.
  std::array<std::uint8_t, kOsBiosRecordSize> OsBiosRecord() const;
  // Counts the program's RAM writes: the number of this one, from 1.
  int NextRamWrite() { return ++ram_writes_; }
  void SetContrast(std::uint32_t value) { status_.contrasts.push_back(value); }
  void SetScreen(std::string text) { status_.screen = std::move(text); }

  // The calculator restarts: into the boot code's receive mode (the OS ERROR path), or a
  // reboot that finds the operating system when its header sector is not erased.
  void BeginRestart(bool into_boot_code);
  void FinishRestart() { status_.mode = UnitStatus::Mode::kReceive; }

  void Report(const std::string& line);

 private:
  bool OsPresent() const;

  Bytes flash_;
  Bytes ram_;
  DeviceInfo device_info_;
  ProgramConfig program_;
  std::function<void(const std::string&)> report_;
  std::vector<bool> erased_;   // per sector: erased since its last write
  std::uint16_t running_caller_ = 0;  // the caller code of the running program
  int ram_writes_ = 0;
  UnitStatus status_;
};

}  // namespace fxsim
