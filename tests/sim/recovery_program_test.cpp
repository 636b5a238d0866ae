// The uploaded recovery program: the upload itself, the extended commands against the
// NOR flash and the RAM, the OS/BIOS record, restarts, and the faults at its commands.

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "fxsim/simulator.h"
#include "sim_test_util.h"
#include "test_client.h"

namespace fxsim::testing {
namespace {

constexpr std::uint32_t kLoad = 0x88024000;
constexpr std::uint32_t kStaging = 0x88030000;
constexpr std::uint32_t kFlashBase = 0xA0000000;
constexpr std::uint32_t kSector = 0x10000;
constexpr std::size_t kTestFlashSize = 4 * kSector;

std::string HexText(std::uint32_t value, int digits) {
  std::ostringstream out;
  out << std::uppercase << std::hex;
  out.width(digits);
  out.fill('0');
  out << value;
  return out.str();
}

Bytes Big(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Command(std::string_view subtype, const Bytes& raw = {}) { return Frame(0x01, subtype, EscapeData(raw)); }

Bytes UploadCommand(std::uint32_t size, std::uint32_t load, std::uint32_t start) {
  Bytes packet = Frame(0x01, "56", ToBytes(HexText(size, 8) + HexText(load, 8) + HexText(start, 8)));
  packet.push_back(0x00);
  return packet;
}

Bytes UploadBlock(int total, int number, const Bytes& bytes) {
  Bytes data = ToBytes(HexText(static_cast<std::uint32_t>(total), 4) + HexText(static_cast<std::uint32_t>(number), 4));
  const Bytes escaped = EscapeData(bytes);
  data.insert(data.end(), escaped.begin(), escaped.end());
  return Frame(0x02, "56", data);
}

Bytes Erase(int sector) { return Command("72", Big(kFlashBase + static_cast<std::uint32_t>(sector) * kSector)); }
Bytes WriteSector(int sector) {
  return Command("71", Join({Big(kFlashBase + static_cast<std::uint32_t>(sector) * kSector), Big(kSector), Big(kStaging)}));
}
Bytes Contrast(std::uint32_t value) { return Command("7A", Big(value)); }

// What the PC sends and the answers it must get: headers (type in hex, subtype, flag)
// separated by blanks, "nothing" (no answer, link kept) or "closed".
struct Step {
  Bytes send;
  std::string expect;
};

std::vector<Step> Upload(const Bytes& image, std::uint32_t load, std::uint32_t start) {
  std::vector<Step> steps = {{UploadCommand(static_cast<std::uint32_t>(image.size()), load, start), "06000"}};
  const int total = static_cast<int>((image.size() + 255) / 256);
  for (int n = 1; n <= total; ++n) {
    const auto from = image.begin() + (n - 1) * 256;
    const auto to = image.begin() + std::min<std::ptrdiff_t>(n * 256, std::ssize(image));
    steps.push_back({UploadBlock(total, n, Bytes(from, to)), "06000"});
  }
  return steps;
}

const Bytes& Program() {
  static const Bytes image = GeneratePattern(600, 7);
  return image;
}

// The RAM writes that put `data` into the staging area, 1020 bytes per packet.
std::vector<Step> Stage(const Bytes& data, std::size_t packets = SIZE_MAX) {
  std::vector<Step> steps;
  for (std::size_t at = 0; at < data.size() && steps.size() < packets; at += 1020) {
    const std::size_t n = std::min<std::size_t>(1020, data.size() - at);
    steps.push_back({Command("70", Join({Big(kStaging + static_cast<std::uint32_t>(at)), Big(static_cast<std::uint32_t>(n)),
                                         Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                               data.begin() + static_cast<std::ptrdiff_t>(at + n))})),
                     "06000"});
  }
  return steps;
}

std::vector<Step> Steps(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Bytes& SectorData() {
  static const Bytes data = GeneratePattern(kSector, 11);
  return data;
}

SimConfig TestConfig(std::vector<std::string> faults = {}) {
  SimConfig config;
  config.flash = GeneratePattern(kTestFlashSize, 3);
  config.program.erase_ms = 0;
  config.program.write_ms = 0;
  config.program.restart_ms = 300;
  for (const std::string& f : faults) config.faults.push_back(FaultSpec::Parse(f));
  return config;
}

// Runs the steps; every answer to a packet is out once the packet is logged (no work time
// is configured).
void RunSteps(Simulator& sim, Client& pc, const std::vector<Step>& steps) {
  std::size_t sent = sim.ReceivedPackets().size();
  for (const Step& step : steps) {
    SCOPED_TRACE("step " + std::to_string(sent + 1) + ", expecting " + step.expect);
    pc.Send(step.send);
    ASSERT_TRUE(WaitForPackets(sim, ++sent));
    std::istringstream expected(step.expect);
    for (std::string item; expected >> item;) {
      if (item == "nothing") {
        EXPECT_TRUE(pc.Drain(50).empty());
      } else if (item == "closed") {
        EXPECT_TRUE(pc.PeerClosed(10000));
      } else {
        const auto reply = pc.Read();
        ASSERT_TRUE(reply) << item;
        EXPECT_EQ(reply->Header(), item);
      }
    }
  }
}

Bytes SectorOf(const Bytes& flash, int sector) {
  return Bytes(flash.begin() + sector * kSector, flash.begin() + (sector + 1) * kSector);
}

struct CommandCase {
  const char* name;
  std::vector<std::string> faults;
  std::vector<Step> steps;  // after the program is uploaded and running
  std::function<void(const Bytes& before, const Bytes& after, const UnitStatus&)> check;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

std::vector<CommandCase> CommandCases() {
  const Bytes& data = SectorData();
  return {
      {"EraseStageWrite", {}, Steps({{{Erase(1), "06000"}}, Stage(data), {{WriteSector(1), "06000"}}}),
       [&](const Bytes& before, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(SectorOf(after, 1), data);
         EXPECT_EQ(SectorOf(after, 2), SectorOf(before, 2));
         EXPECT_EQ(s.sectors[1].erases, 1);
         EXPECT_EQ(s.sectors[1].writes, 1);
         EXPECT_EQ(s.nor_violations, 0u);
         EXPECT_FALSE(s.Sector0Touched());
       }},
      {"WriteIntoWrittenSectorIsAViolation", {}, Steps({Stage(data), {{WriteSector(2), "15000"}}}),
       [&](const Bytes& before, const Bytes& after, const UnitStatus& s) {
         // NOR programming only clears bits: the sector holds the old AND the new bytes.
         for (std::size_t i = 0; i < kSector; ++i) {
           ASSERT_EQ(after[2 * kSector + i], before[2 * kSector + i] & data[i]) << i;
         }
         EXPECT_EQ(s.nor_violations, 1u);
         EXPECT_EQ(s.sectors[2].nor_violations, 1);
         ASSERT_EQ(s.reports.size(), 2u);  // the violation, then the failed read-back
         EXPECT_NE(s.reports[1].find("does not read back"), std::string::npos) << s.reports[1];
         EXPECT_NE(s.reports[0].find("NOR violation"), std::string::npos) << s.reports[0];
         EXPECT_NE(s.reports[0].find("A0020000"), std::string::npos) << s.reports[0];
       }},
      {"SecondWriteAfterOneEraseIsAViolation", {},
       Steps({{{Erase(3), "06000"}}, Stage(data), {{WriteSector(3), "06000"}, {WriteSector(3), "06000"}}}),
       [&](const Bytes&, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(SectorOf(after, 3), data);  // the same bytes read back, yet the rule was broken
         EXPECT_EQ(s.nor_violations, 1u);
         EXPECT_EQ(s.sectors[3].writes, 2);
       }},
      {"SectorZeroIsRefusedButTheRequestRecorded",
       {},
       Steps({Stage(data), {{Erase(0), "15040"}, {Command("72", Big(0x80000000)), "15040"}, {WriteSector(0), "15040"}}}),
       [](const Bytes& before, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(after, before);
         EXPECT_TRUE(s.Sector0Touched());
         EXPECT_EQ(s.sectors[0].refused, 3);
         EXPECT_EQ(s.sectors[0].erases + s.sectors[0].writes, 0);
       }},
      {"RequestsOutsideWhatTheProgramAllowsAreRefused",
       {},
       {{Erase(4), "15040"},                                                       // past the flash end
        {Command("72", Big(kFlashBase + 2 * kSector + 0x1234)), "15040"},          // not a sector start
        {Command("72", Big(0x00010000)), "15040"},                                 // not a P1/P2 address
        {Command("70", Join({Big(kStaging), Big(8), Bytes(4, 1)})), "15040"},      // length mismatch
        {Command("70", Join({Big(0x8803FFFC), Big(8), Bytes(8, 1)})), "15040"},    // past the staging area
        {Command("70", Join({Big(0x88020000), Big(4), Bytes(4, 1)})), "15040"},    // RAM, but not staging
        {Command("71", Join({Big(kFlashBase + kSector), Big(kSector), Big(0x88038000)})), "15040"},
        {Command("71", Join({Big(kFlashBase + kSector), Big(3), Big(kStaging)})), "15040"},  // odd length
        {Command("71", Join({Big(kFlashBase + kSector + 1), Big(2), Big(kStaging)})), "15040"},  // odd address
        {Command("71", Join({Big(kFlashBase + 3 * kSector), Big(2 * kSector), Big(kStaging)})), "15040"},
        {Command("71", Join({Big(kFlashBase + kSector), Big(0)})), "15040"},       // short data
        {Command("7A", Bytes(3, 0x40)), "15040"},
        {Contrast(256), "15040"},
        {Command("76", Bytes(1, 0)), "15040"},
        {Command("73"), "15000"},
        {Frame(0x02, "76"), "15000"},
        {TerminatePacket(), "06000"},
        {RoleSwapPacket(), "06000"},
        {Contrast(160), "06000"}},
       [](const Bytes& before, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(after, before);
         EXPECT_EQ(s.reports.size(), 14u);
         EXPECT_EQ(s.sectors[1].refused, 3);
         EXPECT_EQ(s.sectors[2].refused, 1);
         EXPECT_EQ(s.sectors[3].refused, 1);
         EXPECT_EQ(s.contrasts, std::vector<std::uint32_t>{160});
         EXPECT_EQ(s.mode, UnitStatus::Mode::kProgram);
       }},
      {"ContrastIsStoredAsSent", {}, {{Contrast(160), "06000"}, {Contrast(0), "06000"}, {Contrast(255), "06000"}},
       [](const Bytes&, const Bytes&, const UnitStatus& s) {
         EXPECT_EQ(s.contrasts, (std::vector<std::uint32_t>{160, 0, 255}));
       }},
      {"ChecksAreAcknowledged", {}, {{CheckPacket(), "06000"}, {Command("76"), "06000 02761"}}, nullptr},
      {"DamagedPacketAsksForResend", {}, {{Bytes{0x01, '7', '6', '0', '0', '0'}, "15010"}}, nullptr},
      {"NoAnswerAtEraseLeavesTheSector", {"no-answer@erase:1"}, {{Erase(1), "nothing"}, {Erase(2), "06000"}},
       [](const Bytes& before, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(SectorOf(after, 1), SectorOf(before, 1));
         EXPECT_EQ(s.sectors[1].erases, 0);
         EXPECT_EQ(s.sectors[2].erases, 1);
       }},
      {"FaultAtASectorHitsOnce", {"error:00@erase:1"}, {{Erase(1), "15000"}, {Erase(1), "06000"}},
       [](const Bytes&, const Bytes&, const UnitStatus& s) { EXPECT_EQ(s.sectors[1].erases, 1); }},
      {"ErrorAtWriteLeavesTheSector", {"error:05@write:1"},
       Steps({{{Erase(1), "06000"}}, Stage(data), {{WriteSector(1), "15050"}}}),
       [](const Bytes&, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(SectorOf(after, 1), Bytes(kSector, 0xFF));
         EXPECT_EQ(s.sectors[1].writes, 0);
       }},
      {"DisconnectAtErase", {"disconnect@erase:2"}, {{Erase(1), "06000"}, {Erase(2), "closed"}},
       [](const Bytes& before, const Bytes& after, const UnitStatus& s) {
         EXPECT_EQ(SectorOf(after, 2), SectorOf(before, 2));
         EXPECT_EQ(s.sectors[2].erases, 0);
       }},
      {"DisconnectAtWrite", {"disconnect@write:1"},
       Steps({{{Erase(1), "06000"}}, Stage(data), {{WriteSector(1), "closed"}}}),
       [](const Bytes&, const Bytes& after, const UnitStatus&) {
         EXPECT_EQ(SectorOf(after, 1), Bytes(kSector, 0xFF));
       }},
      {"StallAtRamWrite", {"stall@ram-write:3"}, Steps({Stage(data, 2), {{Stage(data, 3)[2].send, "nothing"}}}),
       nullptr},
      {"NoOsBiosRecord", {"no-answer@os-bios-record"}, {{Command("76"), "06000 nothing"}}, nullptr},
      {"ErrorAtOsBios", {"error:00@os-bios"}, {{Command("76"), "15000 nothing"}}, nullptr},
      {"ErrorAtContrast", {"error:00@contrast"}, {{Contrast(160), "15000"}},
       [](const Bytes&, const Bytes&, const UnitStatus& s) { EXPECT_TRUE(s.contrasts.empty()); }},
      {"NoAnswerAtRebootKeepsTheProgram", {"no-answer@reboot"}, {{Command("78"), "nothing"}},
       [](const Bytes&, const Bytes&, const UnitStatus& s) {
         EXPECT_EQ(s.mode, UnitStatus::Mode::kProgram);
         EXPECT_EQ(s.restarts, 0);
       }},
  };
}

class ProgramCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ProgramCommandTest, ActsOnTheUnit) {
  Simulator sim(TestConfig(GetParam().faults));
  Client pc(ConnectUsb(sim.StartUsb()));
  const Bytes before = sim.Flash();
  RunSteps(sim, pc, Upload(Program(), kLoad, kLoad));
  ASSERT_EQ(sim.Status().mode, UnitStatus::Mode::kProgram);
  RunSteps(sim, pc, GetParam().steps);
  if (GetParam().check) GetParam().check(before, sim.Flash(), sim.Status());
}

INSTANTIATE_TEST_SUITE_P(Commands, ProgramCommandTest, ::testing::ValuesIn(CommandCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct UploadCase {
  const char* name;
  std::vector<std::string> faults;
  std::vector<Step> steps;
  UnitStatus::Mode mode;  // afterwards
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const UploadCase& c, std::ostream* os) { *os << c.name; }

std::vector<UploadCase> UploadCases() {
  const Bytes& image = Program();
  std::vector<Step> out_of_order = Upload(image, kLoad, kLoad);
  out_of_order[2] = {UploadBlock(3, 3, Bytes(image.begin() + 512, image.end())), "15000"};
  out_of_order.resize(3);
  std::vector<Step> short_block = Upload(image, kLoad, kLoad);
  short_block[1] = {UploadBlock(3, 1, Bytes(image.begin(), image.begin() + 255)), "15000"};
  short_block.resize(2);
  std::vector<Step> lost_block = Upload(image, kLoad, kLoad);
  lost_block[2].expect = "nothing";
  lost_block.insert(lost_block.begin() + 3, lost_block[2]);  // sent again, it is taken
  lost_block[3].expect = "06000";
  std::vector<Step> disconnected = Upload(image, kLoad, kLoad);
  disconnected[3].expect = "closed";
  return {
      {"ProgramStarts", {}, Upload(image, kLoad, kLoad), UnitStatus::Mode::kProgram},
      {"OtherStartAddressTakesTheCalculatorOver", {},
       Steps({Upload(image, kLoad, kLoad + 0x100), {{CheckPacket(), "nothing"}}}),
       UnitStatus::Mode::kForeignProgram},
      {"TooLargeForRam", {}, {{UploadCommand(0x80000, kLoad, kLoad), "15050"}}, UnitStatus::Mode::kReceive},
      {"NotInRam", {}, {{UploadCommand(16, 0xA0010000, 0xA0010000), "15050"}}, UnitStatus::Mode::kReceive},
      {"MalformedCommand", {}, {{Frame(0x01, "56", ToBytes("0000001088024000")), "15000"}},
       UnitStatus::Mode::kReceive},
      {"BlockOutOfOrder", {}, out_of_order, UnitStatus::Mode::kReceive},
      {"ShortBlock", {}, short_block, UnitStatus::Mode::kReceive},
      {"BlockWithoutUpload", {}, {{UploadBlock(1, 1, Bytes(16, 1)), "15000"}}, UnitStatus::Mode::kReceive},
      {"ErrorAtUpload", {"error:05@upload"}, {{UploadCommand(600, kLoad, kLoad), "15050"}},
       UnitStatus::Mode::kReceive},
      {"LostBlockAnswer", {"no-answer@upload-block:2"}, lost_block, UnitStatus::Mode::kProgram},
      {"DisconnectAtUploadBlock", {"disconnect@upload-block:3"}, disconnected, UnitStatus::Mode::kReceive},
  };
}

class UploadTest : public ::testing::TestWithParam<UploadCase> {};

TEST_P(UploadTest, StartsOnlyACompleteProgram) {
  Simulator sim(TestConfig(GetParam().faults));
  Client pc(ConnectUsb(sim.StartUsb()));
  RunSteps(sim, pc, GetParam().steps);
  const UnitStatus status = sim.Status();
  EXPECT_EQ(status.mode, GetParam().mode);
  if (status.mode != UnitStatus::Mode::kReceive) {
    EXPECT_EQ(status.uploads, 1);
    const Bytes ram = sim.Ram();
    EXPECT_EQ(Bytes(ram.begin() + 0x24000, ram.begin() + 0x24000 + std::ssize(Program())), Program());
  } else {
    EXPECT_EQ(status.uploads, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Uploads, UploadTest, ::testing::ValuesIn(UploadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The record read back through the PC's own unescaping, compared with the layout written
// out here by hand.
Bytes QueryRecord(Simulator& sim, Client& pc) {
  RunSteps(sim, pc, Upload(Program(), kLoad, kLoad));
  pc.Send(Command("76"));
  const auto ack = pc.Read();
  const auto record = pc.Read();
  if (!ack || !record || ack->Header() != "06000" || record->Header() != "02761") return {};
  return UnescapeData(record->data);
}

TEST(OsBiosRecord, CarriesTheConfiguredFieldsBigEndian) {
  SimConfig config = TestConfig();
  config.program.caller_code = 3;
  config.program.bios_type = 5;
  config.program.bios_id = std::array<std::uint8_t, 8>{0x00, 0x5C, 0x1F, 0x20, 0xFF, 0x41, 0x0A, 0x7F};
  config.program.flash_device = 0x49;
  config.program.flash_manufacturer = 0x01;
  config.program.processor_version = 0x01020304;
  config.program.product = 0x0000ABCD;
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  const Bytes& program = Program();
  const Bytes expected = {0x00, 0x03, 0x00, 0x05, program[32], program[33], program[34], program[35],
                          0x80, 0x02, 0x0B, 0x64, 0x88, 0x07, 0xFE, 0xC0,  // where the OS called from
                          0x00, 0x5C, 0x1F, 0x20, 0xFF, 0x41, 0x0A, 0x7F, 0x00, 0x04, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x49, 0x00, 0x00, 0x00, 0x01,
                          0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0xAB, 0xCD};
  EXPECT_EQ(HexDump(QueryRecord(sim, pc)), HexDump(expected));
}

TEST(OsBiosRecord, DefaultsToTheBootCodeIdentityInFlash) {
  SimConfig config = TestConfig();
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  const Bytes record = QueryRecord(sim, pc);
  ASSERT_EQ(record.size(), 44u);
  const Bytes flash = sim.Flash();
  EXPECT_EQ(Bytes(record.begin() + 16, record.begin() + 24), Bytes(flash.begin() + 0xFFD0, flash.begin() + 0xFFD8));
  EXPECT_EQ(HexDump(Bytes(record.begin(), record.begin() + 4)), "00 01 00 02");  // fx-9860 OS, GII BIOS
  EXPECT_EQ(HexDump(Bytes(record.begin() + 28, record.end())),
            "00 7E 0A 00 00 00 00 01 00 00 00 00 00 00 00 00");
}

TEST(OsBiosRecord, UnknownSh4Preset) {
  SimConfig config = TestConfig();
  config.program = UnknownSh4Program();
  config.program.erase_ms = 0;
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  const Bytes record = QueryRecord(sim, pc);
  ASSERT_EQ(record.size(), 44u);
  EXPECT_EQ(HexDump(Bytes(record.begin() + 28, record.end())),
            "00 00 DF 1E 00 00 00 1F 10 30 0B 00 00 00 2C 00");
}

struct RestartCase {
  const char* name;
  std::vector<Step> before;  // after the upload
  Bytes command;
  std::string answer;        // before the link drops
  std::uint16_t caller;      // reported by the next program
  std::string screen;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

std::vector<RestartCase> RestartCases() {
  return {
      {"BiosStartupShowsOsErrorThenBootCode", {}, Command("77"), "", 0, "OS ERROR"},
      {"ForcedRebootFindsTheOs", {}, Command("78"), "06000", 1, ""},
      {"RebootFindsTheOs", {}, Command("79"), "", 1, ""},
      {"RebootWithoutOsHeaderStaysInBootCode", {{Erase(1), "06000"}}, Command("79"), "", 0, ""},
  };
}

class RestartTest : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartTest, DropsTheLinkAndComesBackInReceiveMode) {
  Simulator sim(TestConfig());
  const std::string path = sim.StartUsb();
  {
    Client pc(ConnectUsb(path));
    RunSteps(sim, pc, Steps({Upload(Program(), kLoad, kLoad), GetParam().before}));
    pc.Send(GetParam().command);
    if (!GetParam().answer.empty()) {
      const auto reply = pc.Read();
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->Header(), GetParam().answer);
    }
    EXPECT_TRUE(pc.PeerClosed(10000));
  }
  const UnitStatus restarting = sim.Status();
  if (restarting.mode == UnitStatus::Mode::kRestarting) {
    EXPECT_EQ(ConnectUsb(path), -ECONNREFUSED);
  }
  ASSERT_TRUE(WaitUntil([&] { return sim.Status().mode == UnitStatus::Mode::kReceive; }));
  EXPECT_EQ(sim.Status().restarts, 1);
  EXPECT_EQ(sim.Status().caller_code, GetParam().caller);
  EXPECT_EQ(sim.Status().screen, GetParam().screen);
  int fd = -ECONNREFUSED;
  ASSERT_TRUE(WaitUntil([&] { return (fd = ConnectUsb(path)) != -ECONNREFUSED; }));
  Client pc(fd);
  const auto check = pc.Exchange(CheckPacket());
  ASSERT_TRUE(check);
  EXPECT_EQ(check->bytes, kAckWire);
  const Bytes record = QueryRecord(sim, pc);
  ASSERT_EQ(record.size(), 44u);
  EXPECT_EQ(record[1], GetParam().caller);
}

INSTANTIATE_TEST_SUITE_P(Restarts, RestartTest, ::testing::ValuesIn(RestartCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The OS version the unit reports in its device information (record bytes 96 to 105).
std::string ReportedOsVersion(Client& pc) {
  const auto info = pc.Exchange(Frame(0x01, "01"));
  if (!info) return "(no answer)";
  const Bytes record = UnescapeData(info->data);
  return record.size() < 106 ? "(short record)" : std::string(record.begin() + 96, record.begin() + 106);
}

// After the recovery program rewrote the OS header sector with another OS and the unit
// restarted, the device information names the new OS, as a real unit's would.
TEST(RecoveryProgram, DeviceInformationFollowsTheRewrittenOs) {
  SimConfig config = TestConfig();
  const std::string old_version = "02.00.0000", new_version = "03.00.0000";
  std::copy(old_version.begin(), old_version.end(), config.flash.begin() + kSector + 0x20);
  Simulator sim(config);
  const std::string path = sim.StartUsb();
  Bytes header = SectorData();
  std::copy(new_version.begin(), new_version.end(), header.begin() + 0x20);
  {
    Client pc(ConnectUsb(path));
    EXPECT_EQ(ReportedOsVersion(pc), old_version);
    RunSteps(sim, pc, Steps({Upload(Program(), kLoad, kLoad), {{Erase(1), "06000"}}, Stage(header),
                             {{WriteSector(1), "06000"}, {Command("78"), "06000 closed"}}}));
  }
  int fd = -ECONNREFUSED;
  ASSERT_TRUE(WaitUntil([&] { return (fd = ConnectUsb(path)) != -ECONNREFUSED; }));
  Client pc(fd);
  EXPECT_EQ(ReportedOsVersion(pc), new_version);
}

// A restart re-enumerates the USB device: a connection the PC made while the program still
// ran (waiting to be taken) goes away with it and is never served, so the PC cannot start
// its next session on the program that left.
TEST(RecoveryProgram, ConnectionWaitingDuringTheBootCodeStartGoesAwayWithIt) {
  Simulator sim(TestConfig());
  const std::string path = sim.StartUsb();
  Client pc(ConnectUsb(path));
  RunSteps(sim, pc, Upload(Program(), kLoad, kLoad));
  const int waiting_fd = ConnectUsb(path);  // queued: the program's session is still open
  ASSERT_GE(waiting_fd, 0);
  Client waiting(waiting_fd);
  waiting.Send(CheckPacket());
  pc.Send(Command("77"));
  EXPECT_TRUE(pc.PeerClosed(10000));
  EXPECT_TRUE(waiting.PeerClosed(10000));
  ASSERT_TRUE(WaitUntil([&] { return sim.Status().mode == UnitStatus::Mode::kReceive; }));
  const std::vector<Packet> received = sim.ReceivedPackets();
  const auto checks = std::count_if(received.begin(), received.end(), [](const Packet& p) { return p.type == 0x05; });
  EXPECT_EQ(checks, 0) << "the waiting connection's check reached the calculator";
}

TEST(RecoveryProgram, ReinitialisesUsbWhenConfiguredAndKeepsRunning) {
  SimConfig config = TestConfig();
  config.program.usb_reconnect_on_start = true;
  Simulator sim(config);
  const std::string path = sim.StartUsb();
  {
    Client pc(ConnectUsb(path));
    RunSteps(sim, pc, Upload(Program(), kLoad, kLoad));
    EXPECT_TRUE(pc.PeerClosed(10000));
  }
  EXPECT_EQ(sim.Status().screen, "Waiting...");
  Client pc(ConnectUsb(path));
  RunSteps(sim, pc, {{Command("76"), "06000 02761"}});
  EXPECT_EQ(sim.Status().mode, UnitStatus::Mode::kProgram);
}

TEST(RecoveryProgram, WithoutAContrastDriverTheContrastIsRefused) {
  SimConfig config = TestConfig();
  config.program.contrast_driver = false;
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  RunSteps(sim, pc, Steps({Upload(Program(), kLoad, kLoad), {{Contrast(160), "15040"}, {Erase(1), "06000"}}}));
  EXPECT_TRUE(sim.Status().contrasts.empty());
}

TEST(RecoveryProgram, EraseTakesItsTime) {
  SimConfig config = TestConfig();
  config.program.erase_ms = 250;
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  RunSteps(sim, pc, Upload(Program(), kLoad, kLoad));
  const auto start = std::chrono::steady_clock::now();
  const auto reply = pc.Exchange(Erase(1));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Header(), "06000");
  // A lower bound only: the calculator may be slower, never faster.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST(RecoveryProgram, RunsOverTheSerialLineAndRestartsAt9600) {
  Simulator sim(TestConfig());
  Client pc(OpenSerial(sim.StartSerial(), 9600));
  RunSteps(sim, pc, {{CheckPacket(), "06000"}, {LinkSettings("115200"), "06000"}});
  ASSERT_TRUE(WaitUntil([&] { return sim.CurrentBaud() == 115200; }));
  SetSerialBaud(pc.fd(), 115200);
  RunSteps(sim, pc, Steps({Upload(Program(), kLoad, kLoad), {{Erase(2), "06000"}}, Stage(SectorData()),
                      {{WriteSector(2), "06000"}, {Command("78"), "06000"}}}));
  EXPECT_EQ(SectorOf(sim.Flash(), 2), SectorData());
  ASSERT_TRUE(WaitUntil([&] { return sim.Status().mode == UnitStatus::Mode::kReceive; }));
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  SetSerialBaud(pc.fd(), 9600);
  const auto check = pc.Exchange(CheckPacket());
  ASSERT_TRUE(check);
  EXPECT_EQ(check->bytes, kAckWire);
}

}  // namespace
}  // namespace fxsim::testing
