// The USB stand-in: receive mode, sessions and reconnects, device information, the log of
// what the PC sent.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "fxsim/simulator.h"
#include "sim_test_util.h"
#include "support/temporary_folder.h"
#include "test_client.h"

namespace fxsim::testing {
namespace {

TEST(UsbSession, RefusesConnectionsUntilReceiveMode) {
  SimConfig config;
  config.receive_mode_delay_ms = -1;
  Simulator sim(config);
  const std::string path = sim.StartUsb();
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_FALSE(sim.InReceiveMode());
  EXPECT_EQ(ConnectUsb(path), -ECONNREFUSED);

  sim.EnterReceiveMode();
  Client pc(ConnectUsb(path));
  const auto answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
}

TEST(UsbSession, EntersReceiveModeAfterTheDelay) {
  SimConfig config;
  config.receive_mode_delay_ms = 1500;
  Simulator sim(config);
  const std::string path = sim.StartUsb();
  EXPECT_EQ(ConnectUsb(path), -ECONNREFUSED);
  ASSERT_TRUE(WaitUntil([&] { return sim.InReceiveMode(); }));
  Client pc(ConnectUsb(path));
  EXPECT_TRUE(pc.Exchange(CheckPacket()));
}

TEST(UsbSession, GivenPathAndRemovalOnStop) {
  const ostrel::testing::TemporaryFolder folder;
  const std::string path = folder.File("calc");
  {
    Simulator sim(SimConfig{});
    EXPECT_EQ(sim.StartUsb(path), path);
    Client pc(ConnectUsb(path));
    EXPECT_TRUE(pc.Exchange(CheckPacket()));
    sim.Stop();
    struct stat info {};
    EXPECT_NE(stat(path.c_str(), &info), 0);
  }
  // A socket file left behind by a crashed run does not stop a new simulator, and a
  // simulator that lost its path to another one leaves the newcomer's file alone.
  {
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    close(stale);
    auto first = std::make_unique<Simulator>(SimConfig{});
    EXPECT_EQ(first->StartUsb(path), path);
    Simulator second(SimConfig{});
    EXPECT_EQ(second.StartUsb(path), path);
    first.reset();
    Client pc(ConnectUsb(path));
    EXPECT_TRUE(pc.Exchange(CheckPacket()));
  }
}

TEST(UsbSession, NextConnectionStartsAFreshSession) {
  Simulator sim(SimConfig{});
  const std::string path = sim.StartUsb();
  {
    Client pc(ConnectUsb(path));
    ASSERT_TRUE(pc.Exchange(ReadoutRequest("4F")));
    ASSERT_TRUE(pc.Exchange(RoleSwapPacket()));
    ASSERT_TRUE(pc.Exchange(AckPacket()));
  }  // left in the middle of the read-out
  Client pc(ConnectUsb(path));
  const auto answer = pc.Exchange(AckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Header(), "15000");  // idle: no block to send
  EXPECT_EQ(sim.GetCounters().connections, 2u);
}

TEST(UsbSession, DeviceInformationRecord) {
  SimConfig config;
  config.device_info.user_name = "TECHNICIAN";
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  const auto answer = pc.Exchange(DeviceInfoCommand());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Header(), "06021");
  const auto record = config.device_info.Record();
  EXPECT_EQ(answer->data, Bytes(record.begin(), record.end()));
  EXPECT_EQ(std::string(answer->bytes.begin() + 4, answer->bytes.begin() + 8), "00A4");
  EXPECT_EQ(answer->bytes, Frame(0x06, "02", answer->data));
}

TEST(UsbSession, DamagedPacketGetsAResendRequest) {
  Simulator sim(SimConfig{});
  Client pc(ConnectUsb(sim.StartUsb()));
  Bytes damaged = ReadoutRequest("4F");
  damaged[damaged.size() - 3] = 'x';  // a data byte changed, checksum left as it was
  const auto answer = pc.Exchange(damaged);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, Frame(0x15, "01"));
  // The damaged request was not acted on.
  const auto next = pc.Exchange(RoleSwapPacket());
  ASSERT_TRUE(next);
  EXPECT_EQ(next->bytes, kAckWire);
  const auto log = sim.ReceivedPackets();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_FALSE(log[0].checksum_ok);
  EXPECT_TRUE(log[1].checksum_ok);
}

TEST(UsbSession, LogHoldsThePcBytesExactly) {
  Simulator sim(SimConfig{});
  Client pc(ConnectUsb(sim.StartUsb()));
  Bytes sent;
  const auto send = [&](const Bytes& bytes) {
    pc.Send(bytes);
    sent.insert(sent.end(), bytes.begin(), bytes.end());
  };
  // Garbage, a check followed by a NUL, and a command split over two writes.
  send({0x7E, 0x00});
  Bytes check = CheckPacket();
  check.push_back(0x00);
  send(check);
  ASSERT_TRUE(pc.Read());
  const Bytes settings = LinkSettings("115200");
  send(Bytes(settings.begin(), settings.begin() + 10));
  send(Bytes(settings.begin() + 10, settings.end()));
  ASSERT_TRUE(pc.Read());
  send({0x00});  // a NUL that arrives after its packet was answered
  ASSERT_TRUE(WaitUntil([&] { return sim.ReceivedBytes().size() == sent.size(); }));

  EXPECT_EQ(sim.ReceivedBytes(), sent);
  const auto log = sim.ReceivedPackets();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].bytes, CheckPacket());
  EXPECT_TRUE(log[0].trailing_nul);
  EXPECT_EQ(log[0].endpoint, Endpoint::kUsb);
  EXPECT_EQ(log[1].bytes, settings);
  EXPECT_EQ(log[1].data, Bytes(settings.begin() + 8, settings.end() - 2));
  EXPECT_TRUE(log[1].trailing_nul);
  // Link settings over USB change no speed.
  EXPECT_EQ(sim.CurrentBaud(), 9600);
}

TEST(UsbSession, AnswerLatencyDelaysDataAnswers) {
  SimConfig config;
  config.answer_latency_ms = 200;
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(pc.Exchange(DeviceInfoCommand()));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST(UsbSession, ConfigurationErrors) {
  SimConfig big;
  big.flash = Bytes(0x10000 * 256, 0);
  EXPECT_THROW(Simulator{big}, std::invalid_argument);
  SimConfig baud;
  baud.initial_baud = 4800;
  EXPECT_THROW(Simulator{baud}, std::invalid_argument);
  Simulator sim(SimConfig{});
  sim.StartUsb();
  EXPECT_THROW(sim.StartUsb(), std::logic_error);
  sim.Stop();
  EXPECT_THROW(sim.StartSerial(), std::logic_error);
}

}  // namespace
}  // namespace fxsim::testing
