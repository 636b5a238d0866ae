// Each injectable fault does what it says, over the USB stand-in and the serial pty.

#include <gtest/gtest.h>

#include "fxsim/simulator.h"
#include "sim_test_util.h"
#include "test_client.h"

namespace fxsim::testing {
namespace {

// What the PC sends and what it must get back.
struct Step {
  Bytes send;
  // "HEADER" (type in hex, subtype, flag), optionally followed by a space and the first
  // eight data characters; or "nothing" (no answer, connection kept) or "closed".
  std::string expect;
  Bytes exact = {};  // when set: the answer's bytes exactly as they arrive
};

struct FaultCase {
  const char* name;
  std::vector<std::string> faults;
  std::vector<Step> steps;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

// A two-block flash read-out up to the announcement.
std::vector<Step> Start(std::vector<Step> rest) {
  std::vector<Step> steps = {{ReadoutRequest("4F"), "06000"}, {RoleSwapPacket(), "01501"}};
  steps.insert(steps.end(), rest.begin(), rest.end());
  return steps;
}

std::vector<FaultCase> Cases() {
  return {
      {"NoAnswer", {"no-answer"}, {{CheckPacket(), "nothing"}, {ReadoutRequest("4F"), "nothing"}}},
      {"DropMiddleByte", {"drop@packet:1"}, {{CheckPacket(), "", {0x06, 0x30, 0x30, 0x37, 0x30}}}},
      {"DropFirstByte", {"drop@packet:2:0"},
       {{CheckPacket(), "06000"}, {CheckPacket(), "", {0x30, 0x30, 0x30, 0x37, 0x30}}}},
      {"CorruptByte", {"corrupt@packet:2"},
       {{CheckPacket(), "06000"}, {CheckPacket(), "", {0x06, 0x30, 0x30, 0x31, 0x37, 0x30}}}},
      {"BadChecksum", {"bad-checksum@packet:1"},
       {{CheckPacket(), "", {0x06, 0x30, 0x30, 0x30, 0x37, 0x31}}, {CheckPacket(), "", kAckWire}}},
      {"ErrorAtRequest", {"error:04@request"},
       {{ReadoutRequest("4F"), "", {0x15, 0x30, 0x34, 0x30, 0x36, 0x43}}, {RoleSwapPacket(), "06000"}}},
      {"ErrorWithDataAtRequest", {"error+data:05@request"},
       {{ReadoutRequest("2F"), "", Frame(0x15, "05", ToBytes("05"))}}},
      {"ErrorAtBlock", {"error:01@block:2"},
       Start({{AckPacket(), "02501 00020001"},
              {AckPacket(), "15010"},
              {AckPacket(), "02501 00020002"},
              {AckPacket(), "03000"}})},
      {"ErrorAtDeviceInfo", {"error:03@device-info"}, {{DeviceInfoCommand(), "", Frame(0x15, "03")}}},
      {"ErrorAtCheck", {"error:00@check"}, {{CheckPacket(), "15000"}, {DeviceInfoCommand(), "06021"}}},
      {"ErrorAtLinkSettings", {"error:02@link-settings"}, {{LinkSettings("115200"), "15020"}}},
      {"ExtraBlocks", {"extra-blocks:3"},
       Start({{AckPacket(), "02501 00050001"},
              {AckPacket(), "02501 00050002"},
              {AckPacket(), "02501 00050003"},
              {AckPacket(), "02501 00050004"},
              {AckPacket(), "02501 00050005"},
              {AckPacket(), "03000"}})},
      {"NoRoleSwap", {"no-roleswap"},
       Start({{AckPacket(), "02501 00020001"},
              {AckPacket(), "02501 00020002"},
              {AckPacket(), "02501 00020003"},
              {AckPacket(), "03000"}})},
      {"RoleSwapForAnnouncement", {"roleswap-announce"},
       {{ReadoutRequest("4F"), "06000"},
        {RoleSwapPacket(), "", kRoleSwapWire},
        {AckPacket(), "02501 00020001"}}},
      {"StallAtBlock", {"stall@block:2"},
       Start({{AckPacket(), "02501 00020001"}, {AckPacket(), "nothing"}, {CheckPacket(), "nothing"}})},
      {"StallAtPacket", {"stall@packet:2"}, {{CheckPacket(), "06000"}, {CheckPacket(), "nothing"}}},
      {"DisconnectAtBlock", {"disconnect@block:2"},
       Start({{AckPacket(), "02501 00020001"}, {AckPacket(), "closed"}})},
      {"RepeatBlock", {"repeat-block@block:2"},
       Start({{AckPacket(), "02501 00020001"},
              {AckPacket(), "02501 00020002"},
              {AckPacket(), "02501 00020002"},
              {AckPacket(), "03000"}})},
      {"SwapBlocks", {"swap-blocks@block:1"},
       Start({{AckPacket(), "02501 00020002"}, {AckPacket(), "02501 00020001"}, {AckPacket(), "03000"}})},
      {"ForeignPacket", {"foreign-packet@block:2"},
       Start({{AckPacket(), "02501 00020001"},
              {AckPacket(), "06021"},
              {AckPacket(), "02501 00020002"},
              {AckPacket(), "03000"}})},
  };
}

std::string Describe(const Reply& reply) {
  std::string text = reply.Header();
  if (reply.data.size() >= 8 && reply.type == 0x02) {
    text += " " + std::string(reply.data.begin(), reply.data.begin() + 8);
  }
  return text;
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, DoesWhatItSays) {
  SimConfig config;
  config.flash = GeneratePattern(512, 3);
  for (const std::string& text : GetParam().faults) config.faults.push_back(FaultSpec::Parse(text));
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  std::size_t sent = 0;
  for (const Step& step : GetParam().steps) {
    SCOPED_TRACE("step " + std::to_string(sent + 1) + ", sending " + HexDump(step.send));
    pc.Send(step.send);
    ASSERT_TRUE(WaitForPackets(sim, ++sent));
    // Everything the calculator answers to a packet is out once the packet is logged.
    if (!step.exact.empty()) {
      EXPECT_EQ(HexDump(pc.Drain(50)), HexDump(step.exact));
    } else if (step.expect == "nothing") {
      EXPECT_TRUE(pc.Drain(50).empty());
    } else if (step.expect == "closed") {
      EXPECT_TRUE(pc.PeerClosed(10000));
    } else {
      const auto reply = pc.Read();
      ASSERT_TRUE(reply);
      EXPECT_EQ(Describe(*reply), step.expect);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Faults, BlocksPastTheImageEndAreErasedFlash) {
  SimConfig config;
  config.flash = GeneratePattern(256, 5);
  config.faults = {FaultSpec::Parse("extra-blocks:1"), FaultSpec::Parse("no-roleswap")};
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  ASSERT_TRUE(pc.Exchange(ReadoutRequest("4F")));
  ASSERT_TRUE(pc.Exchange(RoleSwapPacket()));
  const auto first = pc.Exchange(AckPacket());
  ASSERT_TRUE(first);
  EXPECT_EQ(Client::Payload(*first), sim.Flash());
  for (const char* fields : {"00020002", "00020003"}) {
    const auto block = pc.Exchange(AckPacket());
    ASSERT_TRUE(block);
    EXPECT_EQ(std::string(block->data.begin(), block->data.begin() + 8), fields);
    EXPECT_EQ(Client::Payload(*block), Bytes(256, 0xFF));
  }
  const auto end = pc.Exchange(AckPacket());
  ASSERT_TRUE(end);
  EXPECT_EQ(end->Header(), "03000");
}

TEST(Faults, StallAndDisconnectLastOnlyForTheirSession) {
  for (const char* fault : {"stall@packet:1", "disconnect@packet:1"}) {
    SCOPED_TRACE(fault);
    SimConfig config;
    config.faults = {FaultSpec::Parse(fault)};
    Simulator sim(config);
    const std::string path = sim.StartUsb();
    {
      Client pc(ConnectUsb(path));
      pc.Send(CheckPacket());
      ASSERT_TRUE(WaitForPackets(sim, 1));
      EXPECT_TRUE(pc.Drain(50).empty());
    }
    Client pc(ConnectUsb(path));
    const auto answer = pc.Exchange(CheckPacket());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->bytes, kAckWire);
  }
}

TEST(Faults, SerialDisconnectRemovesTheLine) {
  SimConfig config;
  config.faults = {FaultSpec::Parse("disconnect@check")};
  Simulator sim(config);
  Client pc(OpenSerial(sim.StartSerial(), 9600));
  pc.Send(CheckPacket());
  EXPECT_TRUE(pc.PeerClosed(10000));
}

TEST(Faults, PacketFaultHitsOnceAcrossSessions) {
  SimConfig config;
  config.faults = {FaultSpec::Parse("bad-checksum@packet:1")};
  Simulator sim(config);
  const std::string path = sim.StartUsb();
  {
    Client pc(ConnectUsb(path));
    const auto answer = pc.Exchange(CheckPacket());
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->bytes, kAckWire);
  }
  Client pc(ConnectUsb(path));
  const auto answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
}

struct ParseCase {
  const char* text;
  Fault fault;
  FaultSite::Kind site;
  int number;
};

TEST(FaultSpecParse, AcceptsEveryForm) {
  using K = FaultSite::Kind;
  const ParseCase cases[] = {
      {"no-answer", Fault::kNoAnswer, K::kAnyTime, 0},
      {"drop@packet:5", Fault::kDropByte, K::kPacket, 5},
      {"corrupt@packet:7", Fault::kCorruptByte, K::kPacket, 7},
      {"bad-checksum@block:3", Fault::kBadChecksum, K::kBlock, 3},
      {"error:04@request", Fault::kErrorAnswer, K::kRequest, 0},
      {"error:01@device-info", Fault::kErrorAnswer, K::kDeviceInfo, 0},
      {"error:00@check", Fault::kErrorAnswer, K::kCheck, 0},
      {"error:05@link-settings", Fault::kErrorAnswer, K::kLinkSettings, 0},
      {"extra-blocks:3", Fault::kExtraBlocks, K::kAnyTime, 0},
      {"no-roleswap", Fault::kNoRoleSwap, K::kAnyTime, 0},
      {"roleswap-announce", Fault::kAnnounceRoleSwap, K::kAnyTime, 0},
      {"stall@block:100", Fault::kStall, K::kBlock, 100},
      {"disconnect@block:50", Fault::kDisconnect, K::kBlock, 50},
      {"stall@any", Fault::kStall, K::kAnyTime, 0},
      {"repeat-block@block:4", Fault::kRepeatBlock, K::kBlock, 4},
      {"swap-blocks@block:9", Fault::kSwapBlocks, K::kBlock, 9},
      {"foreign-packet@block:1", Fault::kForeignPacket, K::kBlock, 1},
      {"short-blocks:200", Fault::kShortBlocks, K::kAnyTime, 0},
      {"no-answer@erase:5", Fault::kNoAnswer, K::kErase, 5},
      {"error:00@write:0x26", Fault::kErrorAnswer, K::kFlashWrite, 0x26},
      {"disconnect@erase:0", Fault::kDisconnect, K::kErase, 0},
      {"stall@ram-write:100", Fault::kStall, K::kRamWrite, 100},
      {"no-answer@upload-block:2", Fault::kNoAnswer, K::kUploadBlock, 2},
      {"error:05@upload", Fault::kErrorAnswer, K::kUpload, 0},
      {"stall@os-bios", Fault::kStall, K::kOsBios, 0},
      {"no-answer@os-bios-record", Fault::kNoAnswer, K::kOsBiosRecord, 0},
      {"error:00@contrast", Fault::kErrorAnswer, K::kContrast, 0},
      {"disconnect@reboot", Fault::kDisconnect, K::kReboot, 0},
      {"error:00@write", Fault::kErrorAnswer, K::kFlashWrite, 0},
  };
  for (const ParseCase& c : cases) {
    const FaultSpec spec = FaultSpec::Parse(c.text);
    EXPECT_EQ(spec.fault, c.fault) << c.text;
    EXPECT_EQ(spec.site.kind, c.site) << c.text;
    EXPECT_EQ(spec.site.number, c.number) << c.text;
  }
  EXPECT_EQ(FaultSpec::Parse("extra-blocks:3").count, 3);
  EXPECT_EQ(FaultSpec::Parse("extra-blocks").count, 1);
  EXPECT_EQ(FaultSpec::Parse("short-blocks:200").count, 200);
  EXPECT_EQ(FaultSpec::Parse("short-blocks").count, 128);
  EXPECT_EQ(FaultSpec::Parse("drop@packet:5:3").byte_index, 3);
  const FaultSpec error = FaultSpec::Parse("error+data:0a@block:2");
  EXPECT_TRUE(error.error_with_data);
  EXPECT_EQ(error.error_code, "0A");
  EXPECT_FALSE(FaultSpec::Parse("error:04@request").error_with_data);
}

TEST(FaultSpecParse, RejectsMalformedSpecs) {
  const char* bad[] = {
      "",                   "explode",          "drop",           "stall",
      "error@request",      "error:4@request",  "error:XY@check", "drop@packet:0",
      "drop@packet:x",      "stall@block",      "stall@nowhere",  "extra-blocks:0",
      "no-roleswap@block:1", "stall@block:2:1", "no-answer:1",    "drop@packet:5:-1",
      "repeat-block",       "swap-blocks@packet:3", "foreign-packet@request",
      "stall@upload-block:0", "stall@erase:x",  "stall@erase:0x",  "stall@os-bios:1",
      "short-blocks:0",     "short-blocks:256", "short-blocks@block:2",
  };
  for (const char* text : bad) {
    EXPECT_THROW(FaultSpec::Parse(text), std::invalid_argument) << text;
  }
}

}  // namespace
}  // namespace fxsim::testing
