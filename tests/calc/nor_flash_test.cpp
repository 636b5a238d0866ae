// The NOR flash driver against a simulated chip of the AMD command set on a 16-bit bus:
// the chip acts only on complete unlock sequences, is busy for a while after an erase or
// a program command (data polling on DQ7, DQ5 on an internal failure), and can only clear
// bits when it programs.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "nor_flash.h"

namespace ostrel::testing {
namespace {

class SimulatedChip {
 public:
  enum class Failure { kNone, kNeverReady, kExceedsTimeLimit };

  SimulatedChip(std::uint32_t size, std::uint32_t device_word1, std::uint32_t device_word2 = 0,
                std::uint32_t device_word3 = 0)
      : memory_(size / 2, 0xFFFF), device_{device_word1, device_word2, device_word3} {
    unsigned power = 0;
    while ((1u << power) < size) ++power;
    size_power_ = power;
  }

  nor_bus Bus(std::uint32_t poll_limit = 1000) {
    return nor_bus{this, &SimulatedChip::Read, &SimulatedChip::Write, poll_limit};
  }

  std::uint16_t Word(std::uint32_t offset) const { return memory_[offset / 2]; }
  void SetWord(std::uint32_t offset, std::uint16_t value) { memory_[offset / 2] = value; }

  Failure failure = Failure::kNone;
  bool answers_cfi = true;
  std::uint16_t command_set = 0x0002;
  int busy_reads = 3;
  int program_commands = 0;
  int erase_commands = 0;
  int status_reads = 0;

 private:
  enum class Mode { kRead, kAutoselect, kCfi, kBusy };

  static std::uint16_t Read(void* context, std::uint32_t offset) {
    return static_cast<SimulatedChip*>(context)->OnRead(offset);
  }
  static void Write(void* context, std::uint32_t offset, std::uint16_t value) {
    static_cast<SimulatedChip*>(context)->OnWrite(offset, value);
  }

  std::uint16_t OnRead(std::uint32_t offset) {
    const std::uint32_t word = offset / 2;
    switch (mode_) {
      case Mode::kAutoselect:
        if (word == 0x00) return 0x0001;
        if (word == 0x01) return static_cast<std::uint16_t>(0x2200 | device_[0]);
        if (word == 0x0E) return static_cast<std::uint16_t>(0x2200 | device_[1]);
        if (word == 0x0F) return static_cast<std::uint16_t>(0x2200 | device_[2]);
        return 0;
      case Mode::kCfi:
        switch (word) {
          case 0x10: return 'Q';
          case 0x11: return 'R';
          case 0x12: return 'Y';
          case 0x13: return command_set & 0xFF;
          case 0x14: return command_set >> 8;
          case 0x27: return static_cast<std::uint16_t>(size_power_);
          default: return 0;
        }
      case Mode::kBusy: {
        ++status_reads;
        if (failure == Failure::kNone && --busy_left_ <= 0) {
          Complete();
          return memory_[word];
        }
        // DQ7: complement of the data's bit 7 (0 during an erase); DQ5 on a failure.
        std::uint16_t status = static_cast<std::uint16_t>(~pending_value_ & 0x80);
        if (failure == Failure::kExceedsTimeLimit) status |= 0x20;
        return status;
      }
      case Mode::kRead:
        return memory_[word];
    }
    return 0;
  }

  void OnWrite(std::uint32_t offset, std::uint16_t value) {
    const std::uint32_t word = offset / 2;
    if (mode_ == Mode::kBusy) return;  // ignored until the operation ends
    if (value == 0xF0) {  // reset, from any mode
      mode_ = Mode::kRead;
      cycle_ = 0;
      return;
    }
    if (mode_ == Mode::kRead && cycle_ == 0 && word == 0x55 && value == 0x98 && answers_cfi) {
      mode_ = Mode::kCfi;
      return;
    }
    if (mode_ != Mode::kRead) return;
    // The command cycles: unlock (555/AA, 2AA/55), then the command at 555; an erase
    // takes a second unlock and 30 at the sector; a program takes the data at its address.
    switch (cycle_) {
      case 0: cycle_ = (word == 0x555 && value == 0xAA) ? 1 : 0; return;
      case 1: cycle_ = (word == 0x2AA && value == 0x55) ? 2 : 0; return;
      case 2:
        cycle_ = 0;
        if (word != 0x555) return;
        if (value == 0x90) mode_ = Mode::kAutoselect;
        if (value == 0xA0) cycle_ = 10;
        if (value == 0x80) cycle_ = 20;
        return;
      case 10:
        cycle_ = 0;
        ++program_commands;
        Start(word, value, false);
        return;
      case 20: cycle_ = (word == 0x555 && value == 0xAA) ? 21 : 0; return;
      case 21: cycle_ = (word == 0x2AA && value == 0x55) ? 22 : 0; return;
      case 22:
        cycle_ = 0;
        if (value != 0x30) return;
        ++erase_commands;
        Start(word, 0xFFFF, true);
        return;
      default: cycle_ = 0;
    }
  }

  void Start(std::uint32_t word, std::uint16_t value, bool erase) {
    mode_ = Mode::kBusy;
    busy_left_ = busy_reads;
    pending_word_ = word;
    pending_value_ = value;
    pending_erase_ = erase;
  }

  void Complete() {
    mode_ = Mode::kRead;
    if (pending_erase_) {
      const std::uint32_t first = pending_word_ & ~0x7FFFu;  // 64 KiB sectors
      std::fill_n(memory_.begin() + first, 0x8000, 0xFFFF);
    } else {
      memory_[pending_word_] &= pending_value_;
    }
  }

  std::vector<std::uint16_t> memory_;
  std::uint32_t device_[3];
  unsigned size_power_;
  Mode mode_ = Mode::kRead;
  int cycle_ = 0;
  int busy_left_ = 0;
  std::uint32_t pending_word_ = 0;
  std::uint16_t pending_value_ = 0;
  bool pending_erase_ = false;
};

TEST(NorFlash, IdentifiesAOneWordDeviceAndItsSize) {
  SimulatedChip chip(0x200000, 0x49);
  chip.SetWord(0, 0x1234);
  const nor_bus bus = chip.Bus();
  calc_flash_ids ids{};
  nor_identify(&bus, &ids);
  EXPECT_EQ(ids.manufacturer, 0x01u);
  EXPECT_EQ(ids.device, 0x49u);
  EXPECT_EQ(ids.size, 0x200000u);
  EXPECT_EQ(bus.read(bus.context, 0), 0x1234) << "the chip must be back in read mode";
}

TEST(NorFlash, IdentifiesAThreeWordDevice) {
  SimulatedChip chip(0x400000, 0x7E, 0x0A, 0x00);
  const nor_bus bus = chip.Bus();
  calc_flash_ids ids{};
  nor_identify(&bus, &ids);
  EXPECT_EQ(ids.device, 0x7E0A00u);
  EXPECT_EQ(ids.size, 0x400000u);
}

TEST(NorFlash, AChipWithoutTheStandardCommandSetIsNotDriven) {
  SimulatedChip without_cfi(0x400000, 0x49);
  without_cfi.answers_cfi = false;
  SimulatedChip other_commands(0x400000, 0x49);
  other_commands.command_set = 0x0001;
  for (SimulatedChip* chip : {&without_cfi, &other_commands}) {
    const nor_bus bus = chip->Bus();
    calc_flash_ids ids{};
    nor_identify(&bus, &ids);
    EXPECT_EQ(ids.size, 0u);
  }
}

TEST(NorFlash, ErasesOneSector) {
  SimulatedChip chip(0x200000, 0x49);
  chip.SetWord(0x1FFFE, 0x0000);
  chip.SetWord(0x20000, 0x0000);
  chip.SetWord(0x2FFFE, 0x0000);
  chip.SetWord(0x30000, 0x0000);
  const nor_bus bus = chip.Bus();
  EXPECT_EQ(nor_erase_sector(&bus, 0x20000), 0);
  EXPECT_EQ(chip.Word(0x20000), 0xFFFF);
  EXPECT_EQ(chip.Word(0x2FFFE), 0xFFFF);
  EXPECT_EQ(chip.Word(0x1FFFE), 0x0000);
  EXPECT_EQ(chip.Word(0x30000), 0x0000);
  EXPECT_EQ(chip.erase_commands, 1);
}

TEST(NorFlash, ProgramsBigEndianWordsAndSkipsErasedOnes) {
  SimulatedChip chip(0x200000, 0x49);
  const nor_bus bus = chip.Bus();
  const std::uint8_t data[] = {0x12, 0x34, 0xFF, 0xFF, 0x00, 0x5C};
  EXPECT_EQ(nor_program(&bus, 0x10000, data, sizeof data), 0);
  EXPECT_EQ(chip.Word(0x10000), 0x1234);
  EXPECT_EQ(chip.Word(0x10002), 0xFFFF);
  EXPECT_EQ(chip.Word(0x10004), 0x005C);
  EXPECT_EQ(chip.program_commands, 2);
}

struct FailureCase {
  const char* name;
  SimulatedChip::Failure failure;
  bool erase;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class NorFlashFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(NorFlashFailure, IsReportedWithinThePollLimit) {
  SimulatedChip chip(0x200000, 0x49);
  chip.failure = GetParam().failure;
  chip.SetWord(0x10000, 0xABCD);
  const nor_bus bus = chip.Bus(500);
  const std::uint8_t data[] = {0x12, 0x34};
  EXPECT_EQ(GetParam().erase ? nor_erase_sector(&bus, 0x10000) : nor_program(&bus, 0x12000, data, 2), 1);
  EXPECT_LE(chip.status_reads, 501);
}

INSTANTIATE_TEST_SUITE_P(Cases, NorFlashFailure,
                         ::testing::Values(FailureCase{"EraseNeverReady", SimulatedChip::Failure::kNeverReady, true},
                                           FailureCase{"EraseTimeLimit", SimulatedChip::Failure::kExceedsTimeLimit, true},
                                           FailureCase{"ProgramNeverReady", SimulatedChip::Failure::kNeverReady, false},
                                           FailureCase{"ProgramTimeLimit", SimulatedChip::Failure::kExceedsTimeLimit, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrel::testing
