#include "calculator_unit.h"

#include <algorithm>
#include <utility>

namespace fxsim {

namespace {

constexpr std::uint32_t kAreaMask = 0xE0000000;  // P1 (cached) and P2 (uncached)
constexpr std::uint32_t kP1 = 0x80000000;
constexpr std::uint32_t kP2 = 0xA0000000;
constexpr std::uint32_t kPhysicalMask = 0x1FFFFFFF;
constexpr std::uint32_t kRamBase = 0x08000000;
constexpr std::size_t kOsHeaderOffset = 0x10000;
constexpr std::size_t kOsHeaderProbe = 0x100;

// The physical address of a P1 or P2 address.
std::optional<std::uint32_t> Physical(std::uint32_t address) {
  const std::uint32_t area = address & kAreaMask;
  if (area != kP1 && area != kP2) return std::nullopt;
  return address & kPhysicalMask;
}

bool AllErased(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

void PutBig(std::array<std::uint8_t, kOsBiosRecordSize>& record, std::size_t offset, std::uint32_t value,
            int size) {
  for (int i = 0; i < size; ++i) {
    record[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
  }
}

}  // namespace

std::array<std::uint8_t, kOsBiosRecordSize> ProgramConfig::Record(std::uint16_t caller, std::uint32_t run_parameter,
                                                                  std::span<const std::uint8_t> flash) const {
  constexpr std::size_t kIdOffset = 0xFFD0;
  // Where the boot code and an OS call an uploaded program from, and their stack.
  constexpr std::uint32_t kBootCodeCall = 0x80001A40;
  constexpr std::uint32_t kOsCall = 0x80020B64;
  constexpr std::uint32_t kCallerStack = 0x8807FEC0;
  std::array<std::uint8_t, kOsBiosRecordSize> record{};
  PutBig(record, 0, caller, 2);
  PutBig(record, 2, bios_type, 2);
  PutBig(record, 4, run_parameter, 4);
  PutBig(record, 8, caller == 0 ? kBootCodeCall : kOsCall, 4);
  PutBig(record, 12, kCallerStack, 4);
  PutBig(record, 24, static_cast<std::uint32_t>(flash.size()), 4);
  if (bios_id) {
    std::copy(bios_id->begin(), bios_id->end(), record.begin() + 16);
  } else if (flash.size() >= kIdOffset + 8) {
    std::copy_n(flash.begin() + kIdOffset, 8, record.begin() + 16);
  } else {
    std::fill_n(record.begin() + 16, 8, 0xFF);
  }
  PutBig(record, 28, flash_device, 4);
  PutBig(record, 32, flash_manufacturer, 4);
  PutBig(record, 36, processor_version, 4);
  PutBig(record, 40, product, 4);
  return record;
}

ProgramConfig UnknownSh4Program() {
  ProgramConfig program;
  program.bios_type = 7;
  program.flash_manufacturer = 0x1F;
  program.flash_device = 0xDF1E;
  program.processor_version = 0x10300B00;
  program.product = 0x2C00;
  return program;
}

CalculatorUnit::CalculatorUnit(Bytes flash, Bytes ram, const DeviceInfo& info, ProgramConfig program,
                               std::function<void(const std::string&)> report)
    : flash_(std::move(flash)),
      ram_(std::move(ram)),
      device_info_(info),
      program_(std::move(program)),
      report_(std::move(report)) {
  const std::size_t sectors = (flash_.size() + kSectorSize - 1) / kSectorSize;
  status_.sectors.resize(sectors);
  erased_.resize(sectors);
  for (std::size_t s = 0; s < sectors; ++s) {
    const std::size_t begin = s * kSectorSize;
    erased_[s] = AllErased(std::span(flash_).subspan(begin, std::min(kSectorSize, flash_.size() - begin)));
  }
  status_.caller_code = program_.caller_code;
}

std::optional<std::span<std::uint8_t>> CalculatorUnit::RamAt(std::uint32_t address, std::size_t length) {
  const auto physical = Physical(address);
  if (!physical || *physical < kRamBase) return std::nullopt;
  const std::size_t offset = *physical - kRamBase;
  if (offset > ram_.size() || length > ram_.size() - offset) return std::nullopt;
  return std::span(ram_).subspan(offset, length);
}

std::optional<std::size_t> CalculatorUnit::FlashOffset(std::uint32_t address, std::size_t length) const {
  const auto physical = Physical(address);
  if (!physical || *physical > flash_.size() || length > flash_.size() - *physical) return std::nullopt;
  return *physical;
}

void CalculatorUnit::EraseSector(std::size_t sector) {
  const std::size_t begin = sector * kSectorSize;
  std::fill(flash_.begin() + static_cast<std::ptrdiff_t>(begin),
            flash_.begin() + static_cast<std::ptrdiff_t>(std::min(begin + kSectorSize, flash_.size())), 0xFF);
  erased_[sector] = true;
  ++status_.sectors[sector].erases;
}

bool CalculatorUnit::WriteFlash(std::size_t offset, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return true;
  for (std::size_t s = offset / kSectorSize; s <= (offset + bytes.size() - 1) / kSectorSize; ++s) {
    SectorHistory& history = status_.sectors[s];
    ++history.writes;
    if (!erased_[s]) {
      ++history.nor_violations;
      ++status_.nor_violations;
      Report("NOR violation: flash write at " + Hex(static_cast<std::uint32_t>(kP2 + offset), 8) +
             " into sector " + Hex(static_cast<std::uint32_t>(s), 2) + ", which was not erased since its last write");
    }
    erased_[s] = false;
  }
  bool same = true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::uint8_t& cell = flash_[offset + i];
    cell &= bytes[i];
    same = same && cell == bytes[i];
  }
  return same;
}

void CalculatorUnit::StartProgram(std::uint32_t load, std::uint32_t start) {
  ++status_.uploads;
  status_.load_address = load;
  status_.start_address = start;
  running_caller_ = status_.caller_code;
  ram_writes_ = 0;
  status_.screen.clear();
  status_.mode = start == load ? UnitStatus::Mode::kProgram : UnitStatus::Mode::kForeignProgram;
}

std::array<std::uint8_t, kOsBiosRecordSize> CalculatorUnit::OsBiosRecord() const {
  // The upload put the run parameter into the program's word at offset 32.
  constexpr std::uint32_t kRunParameterOffset = 32;
  std::uint32_t run_parameter = 0xFFFFFFFF;
  const std::uint32_t physical = status_.load_address & kPhysicalMask;
  if (physical >= kRamBase && physical - kRamBase + kRunParameterOffset + 4 <= ram_.size()) {
    const std::size_t at = physical - kRamBase + kRunParameterOffset;
    run_parameter = static_cast<std::uint32_t>(ram_[at]) << 24 | static_cast<std::uint32_t>(ram_[at + 1]) << 16 |
                    static_cast<std::uint32_t>(ram_[at + 2]) << 8 | ram_[at + 3];
  }
  return program_.Record(running_caller_, run_parameter, flash_);
}

void CalculatorUnit::BeginRestart(bool into_boot_code) {
  ++status_.restarts;
  status_.mode = UnitStatus::Mode::kRestarting;
  status_.screen = into_boot_code ? "OS ERROR" : "";
  status_.caller_code = !into_boot_code && OsPresent() ? program_.caller_code : 0;
}

bool CalculatorUnit::OsPresent() const {
  if (flash_.size() < kOsHeaderOffset + kOsHeaderProbe) return false;
  return !AllErased(std::span(flash_).subspan(kOsHeaderOffset, kOsHeaderProbe));
}

Bytes CalculatorUnit::DeviceRecord() const {
  const auto record = device_info_.ServedWith(flash_).Record();
  return Bytes(record.begin(), record.end());
}

void CalculatorUnit::Report(const std::string& line) {
  status_.reports.push_back(line);
  if (report_) report_(line);
}

}  // namespace fxsim
