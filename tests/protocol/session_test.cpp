// Starting and ending sessions against the calculator simulator.

#include <gtest/gtest.h>

#include <algorithm>

#include "env/app_env.h"
#include "fxsim/simulator.h"
#include "protocol/fx9860sio.h"
#include "protocol_fixture.h"
#include "support/scripted_peer.h"

namespace ostrel::testing {
namespace {

const ByteVector kCheck = {0x05, 0x30, 0x30, 0x30, 0x37, 0x30};
const ByteVector kCheckAfterBaudChange = {0x05, 0x30, 0x31, 0x30, 0x36, 0x46};
const ByteVector kLinkSettings115200 = BytesOf("\x01" "0210023" "000000000000060401000000" "115200NONE1" "93");
const ByteVector kLinkSettings9600 = BytesOf("\x01" "0210021" "000000000000040401000000" "9600NONE1" "F1");

std::vector<ByteVector> PacketBytes(const fxsim::Simulator& sim) {
  std::vector<ByteVector> result;
  for (const auto& p : sim.ReceivedPackets()) result.push_back(p.bytes);
  return result;
}

class SessionTest : public ProtocolTest {
 protected:
  std::unique_ptr<TFX9860sio> Serial(const std::string& port, TLinkTimings timings = TLinkTimings{}) {
    TLinkTarget target;
    target.serial_port = port;
    target.timings = timings;
    return std::make_unique<TFX9860sio>(LinkKind::Serial, ui_.Ui(), target);
  }
  std::unique_ptr<TFX9860sio> Usb(const std::string& device, TLinkTimings timings = TLinkTimings{}) {
    TLinkTarget target;
    target.usb_device = device;
    target.timings = timings;
    return std::make_unique<TFX9860sio>(LinkKind::Usb, ui_.Ui(), target);
  }
};

TEST_F(SessionTest, SerialSessionRaisesTheLineTo115200AndLowersItAgain) {
  fxsim::Simulator sim({});
  auto sio = Serial(sim.StartSerial());

  EXPECT_EQ(sio->FStart(), 0);
  EXPECT_EQ(sim.CurrentBaud(), 115200);
  EXPECT_TRUE(ui_.HasLogLine("switching to 115200 baud..."));
  EXPECT_FALSE(ui_.HasLogLine("9600 baud not successful"));
  EXPECT_EQ(PacketBytes(sim), (std::vector<ByteVector>{kCheck, kLinkSettings115200, kCheckAfterBaudChange}));

  // The session works at the new speed.
  TDeviceInfoRecord record{};
  EXPECT_EQ(sio->GetDeviceInfo(record), 0);
  EXPECT_EQ(FieldText(record.data(), 8), fxsim::DeviceInfo{}.hardware_id);

  EXPECT_EQ(sio->FStop(), 0);
  EXPECT_TRUE(sio->FXClosed());
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  EXPECT_EQ(PacketBytes(sim).back(), kLinkSettings9600);

  // The next session starts at 9600 again.
  ui_.notifications.clear();
  EXPECT_EQ(sio->FStart(), 0);
  EXPECT_FALSE(ui_.HasLogLine("9600 baud not successful"));
  sio->FStop();
}

TEST_F(SessionTest, CalculatorAlreadyAt115200IsReachedWithoutLinkSettings) {
  fxsim::SimConfig config;
  config.initial_baud = 115200;
  fxsim::Simulator sim(config);
  auto sio = Serial(sim.StartSerial());

  EXPECT_EQ(sio->FStart(), 0);
  EXPECT_TRUE(ui_.HasLogLine("9600 baud not successful"));
  EXPECT_FALSE(ui_.HasLogLine("switching to 115200 baud..."));
  // Only the check at 115200 reached the calculator.
  EXPECT_EQ(PacketBytes(sim), (std::vector<ByteVector>{kCheck}));
  sio->FStop();
  EXPECT_EQ(sim.CurrentBaud(), 9600);
}

TEST_F(SessionTest, RefusedSpeedChangeKeepsTheSessionAt9600) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("error:00@link-settings"));
  fxsim::Simulator sim(config);
  auto sio = Serial(sim.StartSerial(), QuickTimings());

  EXPECT_EQ(sio->FStart(), 0);
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  EXPECT_TRUE(ui_.HasLogLine("the calculator kept 9600 baud (the calculator answered the link settings command "
                             "with error 00 (default)); staying at 9600 baud"));
  // The session works at the speed both sides share.
  TDeviceInfoRecord record{};
  EXPECT_EQ(sio->GetDeviceInfo(record), 0);
  EXPECT_EQ(FieldText(record.data(), 8), fxsim::DeviceInfo{}.hardware_id);
  sio->FStop();
  EXPECT_EQ(sim.CurrentBaud(), 9600);
}

TEST_F(SessionTest, SpeedChangeWithoutAnswerNeverSwitchesAlone) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("stall@link-settings"));
  fxsim::Simulator sim(config);
  auto sio = Serial(sim.StartSerial(), QuickTimings());

  EXPECT_EQ(sio->FStart(), 2);
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  EXPECT_TRUE(ui_.HasLogLine("the calculator kept 9600 baud (no answer from the calculator within 1 s to the "
                             "link settings command); staying at 9600 baud"));
  EXPECT_EQ(CountLines(ui_, "Receive mode not activated!"), 1);
  // Every packet went at 9600: the calculator received all of them.
  EXPECT_EQ(sim.GetCounters().bytes_dropped, 0u);
  sio->FStop();
}

TEST_F(SessionTest, SerialCalculatorNotInReceiveModeGivesStatus2) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("no-answer"));
  fxsim::Simulator sim(config);
  auto sio = Serial(sim.StartSerial());

  EXPECT_EQ(sio->FStart(), 2);
  const auto lines = ui_.LogLines();
  EXPECT_EQ(lines.front(), "FStart in");
  EXPECT_EQ(lines.back(), "FStart out");
  EXPECT_EQ(CountLines(ui_, "9600 baud not successful"), 1);
  EXPECT_EQ(CountLines(ui_, "Receive mode not activated!"), 1);
  EXPECT_NE(sio->FailureCause().find("did not answer on "), std::string::npos) << sio->FailureCause();
  EXPECT_NE(sio->FailureCause().find("put the calculator into receive mode"), std::string::npos);
  EXPECT_FALSE(sio->FXClosed());  // the caller ends with FStop
  sio->FStop();
  EXPECT_TRUE(sio->FXClosed());
}

TEST_F(SessionTest, UsbWithoutDeviceGivesUpAfterTheRetries) {
  // The permissions advice does not depend on the system's version number.
  AppEnv().PSetValue("OS_MJV", "5");
  const std::string device = PathIn("no-such-device");
  auto sio = Usb(device);
  EXPECT_EQ(sio->FStart(false, 2), stopByLink);
  EXPECT_EQ(sio->FailureCause(), "USB device " + device +
                                     " is not there. Connect the calculator, put it into receive mode, and check "
                                     "the USB permissions (the udev rule, see docs/usb.md).");
  EXPECT_EQ(StopRequest(), stopByLink);
  EXPECT_EQ(CountLines(ui_, "USB communication failed: check USB-driver or cabling."), 1);
  EXPECT_EQ(CountLines(ui_, "Check the USB permissions (udev rule) and that no other program holds the calculator."),
            1);
  EXPECT_FALSE(ui_.HasLogLine("Receive mode not activated!"));
  // Every attempt leaves the channel's note about the missing device.
  const auto lines = ui_.LogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& line) { return line.find(device) != std::string::npos; }),
            3);
}

TEST_F(SessionTest, UsbDeviceNotInReceiveModeIsRetriedUntilCancelled) {
  fxsim::SimConfig config;
  config.receive_mode_delay_ms = -1;
  fxsim::Simulator sim(config);
  auto sio = Usb(sim.StartUsb(), QuickTimings());
  ui_.on_process_messages = [&] {
    if (CountLines(ui_, "Receive mode not activated!") >= 3) StopRequest() = stopByUser;
  };

  EXPECT_EQ(sio->FStart(false, 0), stopByUser);
  EXPECT_EQ(CountLines(ui_, "Receive mode not activated!"), 3);
  // Once on the status line, so that a user without a terminal sees what is awaited.
  const auto statuses = ui_.Texts(nfStatus);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_TRUE(statuses[0].starts_with("Waiting for the calculator: put it into receive mode")) << statuses[0];
  EXPECT_FALSE(ui_.HasLogLine("USB communication failed: check USB-driver or cabling."));
  EXPECT_TRUE(sim.ReceivedPackets().empty());
}

TEST_F(SessionTest, AWaitForReceiveModeWithALimitEndsWithItsCause) {
  fxsim::SimConfig config;
  config.receive_mode_delay_ms = -1;
  fxsim::Simulator sim(config);
  TLinkTimings timings = QuickTimings();
  timings.receive_mode_wait = std::chrono::milliseconds(300);
  auto sio = Usb(sim.StartUsb(), timings);

  EXPECT_EQ(sio->FStart(false, 0), 2);
  EXPECT_EQ(StopRequest(), stopNone) << "not a stop: the start failed";
  EXPECT_NE(sio->FailureCause().find("did not take the link within 300 ms: put it into receive mode and repeat"),
            std::string::npos)
      << sio->FailureCause();
  EXPECT_TRUE(sim.ReceivedPackets().empty());
}

TEST_F(SessionTest, UsbDeviceEnteringReceiveModeIsConnected) {
  fxsim::SimConfig config;
  config.receive_mode_delay_ms = -1;
  fxsim::Simulator sim(config);
  auto sio = Usb(sim.StartUsb(), QuickTimings());
  ui_.on_process_messages = [&] {
    if (CountLines(ui_, "Receive mode not activated!") >= 2) sim.EnterReceiveMode();
  };

  EXPECT_EQ(sio->FStart(false, 0), 0);
  EXPECT_EQ(StopRequest(), stopNone);
  EXPECT_TRUE(ui_.HasLogLine("start..."));
  EXPECT_EQ(PacketBytes(sim), (std::vector<ByteVector>{kCheck}));
  sio->FStop();
  EXPECT_TRUE(sio->FXClosed());
  EXPECT_EQ(PacketBytes(sim).size(), 1u);  // no baud change over USB
}

TEST_F(SessionTest, UsbStartCanSkipTheCheck) {
  fxsim::Simulator sim({});
  auto sio = Usb(sim.StartUsb(), QuickTimings());
  EXPECT_EQ(sio->FStart(true, 0), 0);
  EXPECT_FALSE(ui_.HasLogLine("start..."));
  TDeviceInfoRecord record{};
  EXPECT_EQ(sio->GetDeviceInfo(record), 0);
  EXPECT_EQ(PacketBytes(sim), (std::vector<ByteVector>{{0x01, 0x30, 0x31, 0x30, 0x36, 0x46}}));
}

}  // namespace
}  // namespace ostrel::testing
