// The serial line on the pty: the calculator follows the link-settings command and ignores
// a PC that talks at another speed.

#include <chrono>

#include <gtest/gtest.h>

#include "fxsim/simulator.h"
#include "sim_test_util.h"
#include "test_client.h"

namespace fxsim::testing {
namespace {

// Sends at the current speed a packet that the calculator at another speed must drop, and
// checks that nothing comes back.
void ExpectIgnored(const Simulator& sim, Client& pc, const Bytes& packet) {
  const std::uint64_t dropped = sim.GetCounters().bytes_dropped;
  pc.Send(packet);
  ASSERT_TRUE(WaitForDropped(sim, dropped + packet.size()));
  EXPECT_TRUE(pc.Drain(50).empty());
}

TEST(Serial, FollowsTheLinkSettingsUpAndDownAndIgnoresOtherSpeeds) {
  Simulator sim(SimConfig{});
  const std::string path = sim.StartSerial();
  Client pc(OpenSerial(path, 115200));
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  ExpectIgnored(sim, pc, CheckPacket());

  SetSerialBaud(pc.fd(), 9600);
  auto answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  answer = pc.Exchange(LinkSettings("115200"));  // acknowledged at the old speed
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  ASSERT_TRUE(WaitUntil([&] { return sim.CurrentBaud() == 115200; }));
  ExpectIgnored(sim, pc, CheckPacket("01"));

  SetSerialBaud(pc.fd(), 115200);
  answer = pc.Exchange(CheckPacket("01"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  answer = pc.Exchange(LinkSettings("9600"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  ASSERT_TRUE(WaitUntil([&] { return sim.CurrentBaud() == 9600; }));

  SetSerialBaud(pc.fd(), 9600);
  answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  // Only what arrived at the right speed reached the calculator.
  EXPECT_EQ(sim.ReceivedPackets().size(), 5u);
}

TEST(Serial, CalculatorLeftAt115200AnswersOnlyAt115200AcrossReopens) {
  SimConfig config;
  config.initial_baud = 115200;
  Simulator sim(config);
  const std::string path = sim.StartSerial();
  {
    Client pc(OpenSerial(path, 9600));
    ExpectIgnored(sim, pc, CheckPacket());
  }
  Client pc(OpenSerial(path, 115200));
  const auto answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
}

TEST(Serial, UnsupportedSpeedIsRefusedAndKeepsTheSpeed) {
  Simulator sim(SimConfig{});
  Client pc(OpenSerial(sim.StartSerial(), 9600));
  const auto answer = pc.Exchange(LinkSettings("19200"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, Frame(0x15, "00"));
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  EXPECT_TRUE(pc.Exchange(CheckPacket()));
}

TEST(Serial, RamReadOutAt115200) {
  SimConfig config;
  config.ram = GeneratePattern(16 * 256, 7);
  Simulator sim(config);
  Client pc(OpenSerial(sim.StartSerial(), 9600));
  ASSERT_TRUE(pc.Exchange(LinkSettings("115200")));
  ASSERT_TRUE(WaitUntil([&] { return sim.CurrentBaud() == 115200; }));
  SetSerialBaud(pc.fd(), 115200);
  ASSERT_TRUE(pc.Exchange(ReadoutRequest("2F")));
  const auto announcement = pc.Exchange(RoleSwapPacket());
  ASSERT_TRUE(announcement);
  EXPECT_EQ(announcement->Header(), "01301");
  Bytes image;
  for (int i = 0; i < 16; ++i) {
    const auto block = pc.Exchange(AckPacket());
    ASSERT_TRUE(block);
    ASSERT_EQ(block->Header(), "02301");
    const Bytes payload = Client::Payload(*block);
    image.insert(image.end(), payload.begin(), payload.end());
  }
  EXPECT_EQ(image, sim.Ram());
  const auto end = pc.Exchange(AckPacket());
  ASSERT_TRUE(end);
  EXPECT_EQ(end->Header(), "03000");
}

TEST(Serial, ThrottledLineTakesAtLeastTheLineTime) {
  SimConfig config;
  config.line_rate_throttle = true;
  Simulator sim(config);
  Client pc(OpenSerial(sim.StartSerial(), 9600));
  const auto start = std::chrono::steady_clock::now();
  const auto answer = pc.Exchange(DeviceInfoCommand());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(answer);
  // 174 bytes at 10 bits per byte and 9600 baud take about 181 ms; a busy machine can
  // only make it slower.
  EXPECT_EQ(answer->bytes.size(), 174u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(170));
}

TEST(Serial, NotInReceiveModeIgnoresTheLine) {
  SimConfig config;
  config.receive_mode_delay_ms = -1;
  Simulator sim(config);
  Client pc(OpenSerial(sim.StartSerial(), 9600));
  ExpectIgnored(sim, pc, CheckPacket());
  sim.EnterReceiveMode();
  const auto answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
}

}  // namespace
}  // namespace fxsim::testing
