// The program's command table, run through its main loop against memory-backed hardware:
// what each command does, what it answers, and which requests it refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "calc/memory_board.h"
#include "commands.h"
#include "engine.h"
#include "support/case_names.h"

namespace ostrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kFlash = CALC_FLASH_BASE;
constexpr std::uint32_t kStaging = CALC_STAGING_START;

// Runs the program until the script ends or it leaves; gives what it sent.
Bytes RunProgram(MemoryBoard& board) {
  auto engine = std::make_unique<calc_engine>();
  calc_engine_run(engine.get(), &board.Board());
  return board.TakeSent();
}

Bytes Repeat(const Bytes& packet, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), packet.begin(), packet.end());
  return out;
}

// Stages 0x10000 bytes of a pattern at the staging area as the PC does (1020 per packet).
Bytes StageBlock(MemoryBoard& board, std::uint8_t seed) {
  Bytes block(CALC_SECTOR_SIZE);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 8));
  for (std::uint32_t done = 0; done < block.size();) {
    const std::uint32_t chunk = std::min<std::uint32_t>(1020, static_cast<std::uint32_t>(block.size()) - done);
    board.ReceivePacket(WIRE_TYPE_COMMAND, 0x70,
                        Words({kStaging + done, chunk}, Bytes(block.begin() + done, block.begin() + done + chunk)));
    done += chunk;
  }
  return block;
}

TEST(CalcCommands, RecoversASectorAsThePcDrivesIt) {
  MemoryBoard board;
  std::fill_n(board.flash.begin() + 0x30000, 0x10000, 0x00);  // old contents
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x72, Words({kFlash + 0x30000}));
  const Bytes block = StageBlock(board, 3);
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x71, Words({kFlash + 0x30000, 0x10000, kStaging}));
  EXPECT_EQ(RunProgram(board), Repeat(AckPacket(), 1 + 65 + 1));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), board.flash.begin() + 0x30000));
  EXPECT_EQ(board.erased, (std::vector<std::uint32_t>{kFlash + 0x30000}));
}

TEST(CalcCommands, AWriteOverOldContentsFailsTheReadBackCompare) {
  MemoryBoard board;
  std::fill_n(board.flash.begin() + 0x20000, 0x10000, 0x0F);  // not erased
  StageBlock(board, 1);
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x71, Words({kFlash + 0x20000, 0x10000, kStaging}));
  const Bytes sent = RunProgram(board);
  const Bytes failed = ErrorPacket(CALC_ERROR_FAILED);
  ASSERT_GE(sent.size(), failed.size());
  EXPECT_EQ(Bytes(sent.end() - failed.size(), sent.end()), failed);
}

struct DeviceFailureCase {
  const char* name;
  void (*arrange)(MemoryBoard&);
  Bytes command;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const DeviceFailureCase& c, std::ostream* os) { *os << c.name; }

class CalcCommandsDeviceFailure : public ::testing::TestWithParam<DeviceFailureCase> {};

TEST_P(CalcCommandsDeviceFailure, AnswersTheFailureError) {
  MemoryBoard board;
  GetParam().arrange(board);
  board.ReceivePacket(WIRE_TYPE_COMMAND, GetParam().command[0], Bytes(GetParam().command.begin() + 1, GetParam().command.end()));
  EXPECT_EQ(RunProgram(board), ErrorPacket(CALC_ERROR_FAILED));
}

Bytes Command(std::uint8_t subtype, const Bytes& data) {
  Bytes out{subtype};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalcCommandsDeviceFailure,
    ::testing::Values(
        DeviceFailureCase{"EraseTimesOut", [](MemoryBoard& b) { b.erase_fails = true; },
                          Command(0x72, Words({kFlash + 0x10000}))},
        DeviceFailureCase{"EraseLeavesAByteProgrammed", [](MemoryBoard& b) { b.erase_leaves_bits = true; },
                          Command(0x72, Words({kFlash + 0x10000}))},
        DeviceFailureCase{"ProgrammingTimesOut", [](MemoryBoard& b) { b.program_fails = true; },
                          Command(0x71, Words({kFlash + 0x10000, 0x100, kStaging}))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CalcCommands, AChipItCannotDriveIsNeitherErasedNorWritten) {
  MemoryBoard board;
  board.ids.size = 0;
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x72, Words({kFlash + 0x10000}));
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x71, Words({kFlash + 0x10000, 0x100, kStaging}));
  EXPECT_EQ(RunProgram(board), Repeat(ErrorPacket(CALC_ERROR_REFUSED), 2));
  EXPECT_TRUE(board.erased.empty());
  EXPECT_TRUE(board.programmed.empty());
}

struct RefusedCase {
  const char* name;
  std::uint8_t subtype;
  Bytes data;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class CalcCommandsRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(CalcCommandsRefused, AnswersRefusedAndTouchesNothing) {
  MemoryBoard board(0x200000);
  std::fill(board.staging.begin(), board.staging.end(), 0x5A);
  const Bytes flash_before = board.flash;
  board.ReceivePacket(WIRE_TYPE_COMMAND, GetParam().subtype, GetParam().data);
  EXPECT_EQ(RunProgram(board), ErrorPacket(CALC_ERROR_REFUSED));
  EXPECT_TRUE(board.erased.empty());
  EXPECT_TRUE(board.programmed.empty());
  EXPECT_EQ(board.flash, flash_before);
  EXPECT_TRUE(std::all_of(board.staging.begin(), board.staging.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalcCommandsRefused,
    ::testing::Values(
        RefusedCase{"EraseSectorZero", 0x72, Words({kFlash})},
        RefusedCase{"EraseSectorZeroThroughTheCachedMirror", 0x72, Words({0x80000000})},
        RefusedCase{"EraseInsideASector", 0x72, Words({kFlash + 0x18000})},
        RefusedCase{"EraseBeyondTheChip", 0x72, Words({kFlash + 0x200000})},
        RefusedCase{"EraseWithoutAddress", 0x72, Bytes{0xA0, 0x01}},
        RefusedCase{"WriteIntoSectorZero", 0x71, Words({kFlash + 0xFF00, 0x100, kStaging})},
        RefusedCase{"WriteReachingBeyondTheChip", 0x71, Words({kFlash + 0x1F0000, 0x10002, kStaging})},
        RefusedCase{"WriteWithWrappingLength", 0x71, Words({kFlash + 0x10000, 0xFFFF0000, kStaging})},
        RefusedCase{"WriteFromOutsideTheStagingArea", 0x71, Words({kFlash + 0x10000, 0x100, 0x88020000})},
        RefusedCase{"WriteReadingPastTheStagingArea", 0x71, Words({kFlash + 0x10000, 0x10000, kStaging + 2})},
        RefusedCase{"WriteOddLength", 0x71, Words({kFlash + 0x10000, 0x101, kStaging})},
        RefusedCase{"WriteOddAddress", 0x71, Words({kFlash + 0x10001, 0x100, kStaging})},
        RefusedCase{"WriteNothing", 0x71, Words({kFlash + 0x10000, 0, kStaging})},
        RefusedCase{"RamBelowTheStagingArea", 0x70, Words({kStaging - 4, 4}, Bytes(4, 1))},
        RefusedCase{"RamPastTheStagingArea", 0x70, Words({CALC_STAGING_END - 2, 4}, Bytes(4, 1))},
        RefusedCase{"RamOverTheProgramItself", 0x70, Words({0x88024000, 4}, Bytes(4, 1))},
        RefusedCase{"RamLengthDisagreesWithTheData", 0x70, Words({kStaging, 5}, Bytes(4, 1))},
        RefusedCase{"RamWithWrappingAddress", 0x70, Words({0xFFFFFFFE, 4}, Bytes(4, 1))},
        RefusedCase{"QueryWithData", 0x76, Bytes{1}},
        RefusedCase{"ContrastWithoutValue", 0x7A, Bytes{0xA0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CalcCommands, RamWriteLandsAtItsAddress) {
  MemoryBoard board;
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x70, Words({kStaging + 0xFFFC, 4}, Bytes{0x00, 0x5C, 0x1F, 0xFF}));
  EXPECT_EQ(RunProgram(board), AckPacket());
  EXPECT_EQ(Bytes(board.staging.end() - 4, board.staging.end()), (Bytes{0x00, 0x5C, 0x1F, 0xFF}));
}

// The flash's sector 0 of a known fx-9860GII boot code: date, identity bytes, checksum.
void InstallBios(MemoryBoard& board, const std::string& date, std::uint32_t checksum) {
  std::copy(date.begin(), date.end(), board.flash.begin() + 0xFFB0);
  const Bytes id{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  std::copy(id.begin(), id.end(), board.flash.begin() + 0xFFD0);
  const Bytes sum = Words({checksum});
  std::copy(sum.begin(), sum.end(), board.flash.begin() + 0xFFFC);
}

TEST(CalcCommands, QueryAnswersAcknowledgeThenTheRecord) {
  MemoryBoard board;
  InstallBios(board, "2009.0203.1852", 0x006B2CE3);  // a GII boot code: type 2
  board.Board().start.run_parameter = 0;
  board.Board().start.return_address = 0x80012345;  // an OS
  board.Board().start.caller_stack = 0x8807FF00;
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x76);
  Bytes record = Words({0x00010002, 0, 0x80012345, 0x8807FF00}, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80});
  const Bytes tail = Words({0x400000, 0x7E0A00, 0x01, 0x10300B00, 0x2C00});
  record.insert(record.end(), tail.begin(), tail.end());
  ASSERT_EQ(record.size(), CALC_RECORD_SIZE);
  Bytes expected = AckPacket();
  const Bytes data = Framed(WIRE_TYPE_DATA, 0x76, record);
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(RunProgram(board), expected);
}

// The record carried by the data packet behind the acknowledge.
Bytes RecordIn(const Bytes& sent) {
  if (sent.size() < 6) return {};
  MemoryBoard reader;
  reader.Receive(Bytes(sent.begin() + 6, sent.end()));
  wire_packet packet{};
  if (wire_receive(&reader.Board(), &packet) != WIRE_OK) return {};
  return Bytes(packet.data, packet.data + packet.length);
}

TEST(CalcCommands, UnknownBootCodeGivesTypeFFFF) {
  MemoryBoard board;
  InstallBios(board, "2009.0203.1852", 0x006B2CE4);  // known date, other checksum
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x76);
  const Bytes record = RecordIn(RunProgram(board));
  ASSERT_EQ(record.size(), CALC_RECORD_SIZE);
  EXPECT_EQ(record[2], 0xFF);
  EXPECT_EQ(record[3], 0xFF);
}

struct LeaveCase {
  std::uint8_t subtype;
  calc_leave how;
  bool acknowledged;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const LeaveCase& c) { return "subtype " + std::to_string(c.subtype); }
void PrintTo(const LeaveCase& c, std::ostream* os) { *os << Describe(c); }

class CalcCommandsLeave : public ::testing::TestWithParam<LeaveCase> {};

TEST_P(CalcCommandsLeave, LeavesAsToldAndIgnoresWhatFollows) {
  MemoryBoard board;
  board.ReceivePacket(WIRE_TYPE_COMMAND, GetParam().subtype);
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x72, Words({kFlash + 0x10000}));
  EXPECT_EQ(RunProgram(board), GetParam().acknowledged ? AckPacket() : Bytes{});
  EXPECT_EQ(board.left, GetParam().how);
  EXPECT_TRUE(board.erased.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, CalcCommandsLeave,
                         ::testing::Values(LeaveCase{0x77, CALC_LEAVE_BIOS, false},
                                           LeaveCase{0x78, CALC_LEAVE_REBOOT, true},
                                           LeaveCase{0x79, CALC_LEAVE_REBOOT, false}),
                         ostrel::testing::DescribedName{});

TEST(CalcCommands, ContrastIsPassedOnOrRefused) {
  MemoryBoard board;
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x7A, Words({160}));
  EXPECT_EQ(RunProgram(board), AckPacket());
  EXPECT_EQ(board.contrast, 160u);
  board.contrast_refused = true;
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x7A, Words({160}));
  EXPECT_EQ(RunProgram(board), ErrorPacket(CALC_ERROR_REFUSED));
}

TEST(CalcCommands, AnswersWhatIsNotACommand) {
  MemoryBoard board;
  board.Receive({0x05, 0x30, 0x30, 0x30, 0x37, 0x30});        // check
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x56);                 // not one of the program's
  board.ReceivePacket(WIRE_TYPE_DATA, 0x76, {1, 2});            // data
  board.Receive({0x05, 0x30, 0x30, 0x30, 0x37, 0x31});          // damaged
  board.Receive({0x01, 0x37, 0x36, 0x31, 0x30, 0x30});  // cut off
  board.ReceivePause();
  board.ReceivePacket(WIRE_TYPE_TERMINATE, 0x00);
  Bytes expected = AckPacket();
  for (const Bytes& p : {ErrorPacket(CALC_ERROR_FAILED), ErrorPacket(CALC_ERROR_FAILED),
                         ErrorPacket(CALC_ERROR_RESEND), AckPacket()})
    expected.insert(expected.end(), p.begin(), p.end());
  EXPECT_EQ(RunProgram(board), expected);
}

struct CallerCase {
  const char* name;
  std::uint32_t run_parameter;
  std::uint32_t return_address;
  std::uint32_t first_stack_word;
  std::uint16_t bios_type;
  std::uint16_t caller;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const CallerCase& c, std::ostream* os) { *os << c.name; }

class CalcCallerCode : public ::testing::TestWithParam<CallerCase> {};

TEST_P(CalcCallerCode, TellsWhoStartedTheProgram) {
  calc_start_info start{};
  start.run_parameter = GetParam().run_parameter;
  start.return_address = GetParam().return_address;
  start.stack_words[3] = GetParam().first_stack_word;
  EXPECT_EQ(calc_caller_code(&start, GetParam().bios_type), GetParam().caller);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalcCallerCode,
    ::testing::Values(
        CallerCase{"BootCodeCached", 0, 0x80004000, 0, 2, CALC_CALLER_BIOS},
        CallerCase{"BootCodeUncached", 0, 0xA000FFFE, 0, 2, CALC_CALLER_BIOS},
        CallerCase{"Os", 0, 0x80010000, 0, 2, CALC_CALLER_FX9860_OS},
        CallerCase{"Fx7400GiiOs", 0, 0x80150000, 0, 5, CALC_CALLER_FX7400GII_OS},
        CallerCase{"ThroughRamFromTheOs", 0, 0x88001000, 0x80123456, 0, CALC_CALLER_FX9860_OS},
        CallerCase{"ThroughRamFromTheBootCode", 0, 0x88001000, 0xA0000100, 0, CALC_CALLER_BIOS},
        CallerCase{"NothingTells", 0, 0x88001000, 0x12345678, 0, CALC_CALLER_UNKNOWN},
        CallerCase{"ForcedByTheRunParameter", 0x00000200, 0x80004000, 0, 2, 1},
        CallerCase{"AllOnesForcesNothing", 0xFFFFFFFF, 0x80004000, 0, 2, CALC_CALLER_BIOS}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrel::testing
