// Packets on the wire and the classification of answers, against a scripted peer.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>

#include "base/error.h"
#include "env/app_env.h"
#include "protocol/fx9860sio.h"
#include "protocol_fixture.h"
#include "support/scripted_peer.h"

namespace ostrel::testing {
namespace {

const ByteVector kAck = {0x06, '0', '0', '0', '7', '0'};

class PacketsTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    sio_ = OpenUsb(peer_.Path());
  }
  ScriptedPeer peer_;
  std::unique_ptr<TFX9860sio> sio_;
};

TEST_F(PacketsTest, ControlPacketsAreByteExact) {
  struct Case {
    const char* name;
    std::function<int(TFX9860sio&)> send;
    ByteVector wire;
  };
  const Case cases[] = {
      {"check", [](TFX9860sio& s) { return s.SendCheck("00"); }, {0x05, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {"check after baud change", [](TFX9860sio& s) { return s.SendCheck("01"); }, {0x05, 0x30, 0x31, 0x30, 0x36, 0x46}},
      {"acknowledge", [](TFX9860sio& s) { return s.SendAck(); }, {0x06, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {"role swap", [](TFX9860sio& s) { return s.SendRoleswap(); }, {0x03, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {"terminate", [](TFX9860sio& s) { return s.SendTerminate(); }, {0x18, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {"command 01 without data, escape set",
       [](TFX9860sio& s) { return s.SendCommand("01", nullptr, 0, kTypeCommand, false, true); },
       {0x01, 0x30, 0x31, 0x30, 0x36, 0x46}},
  };
  std::size_t index = 0;
  for (const Case& c : cases) {
    peer_.AddReply(kAck);
    EXPECT_EQ(c.send(*sio_), kAcknowledged) << c.name;
    ASSERT_TRUE(peer_.WaitForPackets(index + 1, std::chrono::seconds(5))) << c.name;
    EXPECT_EQ(peer_.Packets()[index], c.wire) << c.name;
    ++index;
  }
  EXPECT_EQ(peer_.Bytes().size(), 6 * std::size(cases));  // nothing but the packets
}

TEST_F(PacketsTest, LinkSettingsPacketsCarryTheParameterBlock) {
  peer_.AddReply(kAck);
  peer_.AddReply(kAck);
  sio_->SendLinkSettings("115200", "NONE", "1");
  sio_->SendLinkSettings("9600", "NONE", "1");
  ASSERT_TRUE(peer_.WaitForPackets(2, std::chrono::seconds(5)));
  const auto packets = peer_.Packets();
  EXPECT_EQ(packets[0], BytesOf("\x01" "0210023" "000000000000060401000000" "115200NONE1" "93"));
  EXPECT_EQ(packets[1], BytesOf("\x01" "0210021" "000000000000040401000000" "9600NONE1" "F1"));
}

TEST_F(PacketsTest, BinaryDataIsEscapedAndCountedAfterEscaping) {
  const std::uint8_t raw[] = {0x41, 0x0A, 0x5C, 0x1F, 0x20};
  const ByteVector wire = {0x41, 0x5C, 0x2A, 0x5C, 0x5C, 0x5C, 0x3F, 0x20};
  peer_.AddReply(kAck);
  EXPECT_EQ(sio_->SendCommand("70", raw, 5, kTypeCommand, false, true), kAcknowledged);
  ASSERT_TRUE(peer_.WaitForPackets(1, std::chrono::seconds(5)));
  const ByteVector packet = peer_.Packets()[0];
  EXPECT_EQ(ByteVector(packet.begin() + 4, packet.begin() + 8), BytesOf("0008"));
  EXPECT_EQ(packet, MakePacket(kTypeCommand, "70", wire));
}

TEST_F(PacketsTest, TrailingNulFollowsTheChecksumAndIsNotCovered) {
  const std::string data = "000028008802400088024000";
  peer_.AddReply(kAck);
  sio_->SendCommand("56", reinterpret_cast<const std::uint8_t*>(data.data()), static_cast<int>(data.size()),
                    kTypeCommand, true, false);
  ASSERT_TRUE(peer_.WaitForPackets(1, std::chrono::seconds(5)));
  ByteVector expected = MakePacket(kTypeCommand, "56", data);
  EXPECT_EQ(peer_.Packets()[0], expected);
  expected.push_back(0x00);
  EXPECT_EQ(peer_.Bytes(), expected);
  EXPECT_EQ(sio_->SendBuffer().size(), expected.size());
}

TEST_F(PacketsTest, StartupAndRebootCommandsDoNotWaitForAnAnswer) {
  for (const char* subtype : {"77", "79"}) {
    peer_.AddReply(kAck);
    const auto lines_before = ui_.LogLines().size();
    EXPECT_EQ(sio_->SendCommand(subtype, nullptr, 0, kTypeCommand, false, false), kNoAnswer) << subtype;
    EXPECT_EQ(ui_.LogLines().size(), lines_before) << subtype;  // no "...waiting for answer!"
    // The answer is still there for the next receive.
    EXPECT_EQ(sio_->ReceiveAnswer(), kAcknowledged) << subtype;
  }
}

TEST_F(PacketsTest, OversizedDataIsRefusedBeforeAnythingIsSent) {
  std::vector<std::uint8_t> controls(TFX9860sio::kMaxDataField / 2, 0x01);  // doubles when escaped
  peer_.AddReply(kAck);
  EXPECT_EQ(sio_->SendCommand("70", controls.data(), static_cast<int>(controls.size()), kTypeCommand, false, true),
            kAcknowledged);
  controls.push_back(0x01);
  EXPECT_THROW(sio_->SendCommand("70", controls.data(), static_cast<int>(controls.size()), kTypeCommand, false, true),
               Error);
  ASSERT_TRUE(peer_.WaitForPackets(1, std::chrono::seconds(5)));
  EXPECT_EQ(peer_.Packets().size(), 1u);
  EXPECT_EQ(peer_.Packets()[0].size(), 8 + TFX9860sio::kMaxDataField + 2);
}

struct AnswerCase {
  const char* name;
  ByteVector reply;
  int result;
  std::vector<std::string> lines;         // log lines that must appear
  std::vector<std::string> absent_lines;  // log lines that must not appear
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class ReceiveAnswerTest : public PacketsTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ReceiveAnswerTest, ClassifiesTheAnswer) {
  const AnswerCase& c = GetParam();
  peer_.AddReply(c.reply);
  EXPECT_EQ(sio_->SendAck(), c.result);
  for (const auto& line : c.lines) EXPECT_TRUE(ui_.HasLogLine(line)) << line;
  for (const auto& line : c.absent_lines) EXPECT_FALSE(ui_.HasLogLine(line)) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReceiveAnswerTest,
    ::testing::Values(
        AnswerCase{"acknowledge", MakePacket(kTypeAck, "00"), 1, {"...successful!"}, {"...failed!"}},
        AnswerCase{"role swap", MakePacket(kTypeRoleswap, "00"), 1, {"...successful!"}, {}},
        AnswerCase{"data block gives its length", MakePacket(kTypeData, "50", "00010001ABC"), 11, {"...successful!"}, {}},
        AnswerCase{"three-byte answer", ByteVector{0x06, '0', '0'}, 0, {"...timeout!", "headerlength: 3", "...failed!"},
                   {"...successful!"}},
        AnswerCase{"silence", ByteVector{}, 0, {"...timeout!", "headerlength: 0", "...failed!"}, {}},
        AnswerCase{"overwrite question", MakePacket(kTypeError, "02"), 2, {}, {"...successful!", "...failed!"}},
        AnswerCase{"error without data", MakePacket(kTypeError, "03"), 0, {"...failed!"}, {}},
        AnswerCase{"bad checksum", MakePacket(kTypeData, "50", "00010001ABC", 1), 0, {"checksum error", "...failed!"},
                   {"...successful!"}},
        AnswerCase{"bad checksum on an acknowledge", MakePacket(kTypeAck, "00", "", -1), 0, {"checksum error"}, {}},
        AnswerCase{"non-hex size field", BytesOf("\x02" "501" "00G3" "ABC" "00"), 0, {"checksum error", "...failed!"}, {}},
        AnswerCase{"non-hex subtype", MakePacket(kTypeAck, "0Z"), 0, {"checksum error"}, {}},
        AnswerCase{"non-hex checksum", BytesOf("\x06" "000" "7Q"), 0, {"checksum error"}, {}},
        AnswerCase{"data flag with size 0000", BytesOf("\x02" "501" "0000" "AA"), 0, {"...failed!"},
                   {"...waiting for silence!", "...timeout!", "checksum error"}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST_F(PacketsTest, ExchangeGivesTheClassifiedAnswer) {
  struct Case {
    const char* name;
    ByteVector reply;
    TAnswerKind kind;
    std::string header;
    ByteVector data;
  };
  const Case cases[] = {
      {"acknowledge with data", MakePacket(kTypeAck, "02", "\\AB"), TAnswerKind::Acknowledge,
       std::string("\x06" "021"), BytesOf("\\AB")},
      {"role swap", MakePacket(kTypeRoleswap, "00"), TAnswerKind::RoleSwap, std::string("\x03" "000"), {}},
      {"overwrite question", MakePacket(kTypeError, "02"), TAnswerKind::OverwriteRequest,
       std::string("\x15" "020"), {}},
      {"error answer", MakePacket(kTypeError, "04"), TAnswerKind::Error, std::string("\x15" "040"), {}},
      {"data packet", MakePacket(kTypeData, "76", "XY"), TAnswerKind::Packet, std::string("\x02" "761"),
       BytesOf("XY")},
      {"damaged packet", MakePacket(kTypeData, "76", "XY", 1), TAnswerKind::None, std::string(4, '\0'), {}},
  };
  for (const Case& c : cases) {
    peer_.AddReply(c.reply);
    const TAnswer answer = sio_->Exchange("76", {}, kTypeCommand, false, false);
    EXPECT_EQ(answer.kind, c.kind) << c.name;
    EXPECT_TRUE(answer.Is(c.header)) << c.name;
    EXPECT_EQ(answer.data, c.data) << c.name;
    // The object's received header follows the answer, so CheckAnswer sees the same.
    EXPECT_EQ(sio_->CheckAnswer(c.header, false), true) << c.name;
  }
}

TEST_F(PacketsTest, ErrorAnswerWithDataRaisesItsCode) {
  peer_.AddReply(MakePacket(kTypeError, "05", "XYZ"));
  try {
    sio_->SendAck();
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "Error: 05");
    // The cause an operation reports: what it answered and what the code means.
    EXPECT_EQ(sio_->FailureCause(), "the calculator answered an acknowledge with error 05 (Memory is full)");
  }
}

TEST_F(PacketsTest, AcknowledgeWithDataKeepsItsData) {
  peer_.AddReply(MakePacket(kTypeAck, "02", "\\ABC"));
  EXPECT_EQ(sio_->SendAck(), kAcknowledged);
  EXPECT_EQ(sio_->ReceivedData(), BytesOf("\\ABC"));  // as it came, still escaped
  const std::array<std::uint8_t, 4> header = {0x06, '0', '2', '1'};
  EXPECT_EQ(sio_->ReceivedHeader(), header);
}

TEST_F(PacketsTest, DamagedAnswerLeavesNothingToUse) {
  peer_.AddReply(MakePacket(kTypeAck, "02", "NEW", 1));
  EXPECT_EQ(sio_->SendAck(), kNoAnswer);
  EXPECT_TRUE(sio_->ReceivedData().empty());
  EXPECT_FALSE(sio_->CheckAnswer(std::string{0x06, '0', '2', '1'}, false));
}

TEST_F(PacketsTest, InactivityTimeOutMovesWithEveryByte) {
  TLinkTimings timings = QuickTimings();
  timings.answer = std::chrono::milliseconds(1000);
  sio_->SetTimings(timings);
  // 16 bytes 150 ms apart: 2.4 s in all, never 1 s of silence.
  peer_.AddReply(MakePacket(kTypeData, "50", "ABCDEFGH"), std::chrono::milliseconds(150));
  EXPECT_EQ(sio_->SendAck(), 8);
  EXPECT_FALSE(ui_.HasLogLine("...timeout!"));
}

TEST_F(PacketsTest, WaitForSilenceEndsWithATimeOut) {
  EXPECT_EQ(sio_->WaitForSilence(), 0);
  const auto lines = ui_.LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "...waiting for silence!");
  EXPECT_EQ(lines[1], "...timeout!");
}

struct CheckCase {
  const char* name;
  ByteVector reply;
  std::string expected;
  bool backup_hint;
  std::string message;
};

TEST_F(PacketsTest, CheckAnswerExplainsWhatCameInstead) {
  const CheckCase cases[] = {
      {"error 03", MakePacket(kTypeError, "03"), std::string("\x06" "000"), false,
       "Error 03: \u201CNo\u201D-response to an overwrite request"},
      {"error 04 with backup hint", MakePacket(kTypeError, "04"), std::string("\x06" "000"), true,
       "Error 04: Overwrite impossible/requested file does not exist\r\nBackup is supported by Link/receive-mode only!"},
      {"error 04 without hint", MakePacket(kTypeError, "04"), std::string("\x06" "000"), false,
       "Error 04: Overwrite impossible/requested file does not exist"},
      {"error 02", MakePacket(kTypeError, "02"), std::string("\x06" "000"), false,
       "Error 02: Overwrite request if file exists"},
      {"error 00", MakePacket(kTypeError, "00"), std::string("\x06" "000"), false, "Error 00: default"},
      {"error 01", MakePacket(kTypeError, "01"), std::string("\x06" "000"), false, "Error 01: Resend request"},
      {"error 05", MakePacket(kTypeError, "05"), std::string("\x06" "000"), false, "Error 05: Memory is full"},
      {"unknown error", MakePacket(kTypeError, "07"), std::string("\x06" "000"), false, "Error 07: Unknown errorcode"},
      {"nothing received", ByteVector{}, std::string("\x06" "021"), false,
       "wrong answer on:<06>021 (no answer from the calculator within 1500 ms to the check)"},
      {"other packet", MakePacket(kTypeAck, "00"), std::string("\x02" "501"), false,
       "wrong answer on:<02>501 (the calculator sent <06>000)"},
  };
  for (const CheckCase& c : cases) {
    ui_.dialogs.clear();
    peer_.AddReply(c.reply);
    sio_->SendCheck();
    EXPECT_FALSE(sio_->CheckAnswer(c.expected, true, c.backup_hint)) << c.name;
    ASSERT_EQ(ui_.dialogs.size(), 1u) << c.name;
    EXPECT_EQ(ui_.dialogs[0].text, c.message) << c.name;
    EXPECT_EQ(ui_.dialogs[0].kind, DialogKind::Error) << c.name;
    EXPECT_EQ(ui_.dialogs[0].buttons, DialogButtons::OK) << c.name;
    EXPECT_FALSE(sio_->CheckAnswer(c.expected, false, c.backup_hint)) << c.name;
    EXPECT_EQ(ui_.dialogs.size(), 1u) << c.name;  // no box without show_error
  }
  peer_.AddReply(MakePacket(kTypeAck, "00"));
  sio_->SendCheck();
  EXPECT_TRUE(sio_->CheckAnswer(std::string("\x06" "000"), true));
}

TEST_F(PacketsTest, DeviceInformationIsUnescapedIntoTheRecord) {
  TDeviceInfoRecord sent;
  sent.fill(0xFF);
  const std::string hardware = "Gy363000", user = "A\\B\x1F";
  std::copy(hardware.begin(), hardware.end(), sent.begin());
  std::copy(user.begin(), user.end(), sent.begin() + 148);
  peer_.AddReply(MakePacket(kTypeAck, "02", EscapeBytes(sent)));

  TDeviceInfoRecord record{};
  EXPECT_EQ(sio_->GetDeviceInfo(record), 0);
  EXPECT_EQ(record, sent);
  ASSERT_TRUE(peer_.WaitForPackets(1, std::chrono::seconds(5)));
  EXPECT_EQ(peer_.Packets()[0], (ByteVector{0x01, 0x30, 0x31, 0x30, 0x36, 0x46}));
  EXPECT_TRUE(ui_.dialogs.empty());
}

TEST_F(PacketsTest, PlainAcknowledgeIsNoDeviceInformation) {
  peer_.AddReply(MakePacket(kTypeAck, "00"));
  TDeviceInfoRecord record{};
  EXPECT_EQ(sio_->GetDeviceInfo(record), 8);
  EXPECT_EQ(record, TDeviceInfoRecord{});
  ASSERT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(ui_.dialogs[0].text, "wrong answer on:<06>021 (the calculator sent <06>000)");
}

TEST(ProtocolChannel, EverySendAndReceiveNeedsAChannel) {
  TFX9860sio sio(LinkKind::Usb, TUserInterface{});
  EXPECT_TRUE(sio.FXClosed());
  const std::function<void()> calls[] = {
      [&] { sio.SendAck(); },
      [&] { sio.ReceiveAnswer(); },
      [&] { sio.ReceiveBytes(4); },
      [&] { sio.SendPacket(false); },
      [&] { sio.SendLinkSettings("9600", "NONE", "1"); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
      EXPECT_EQ(e.Text(), "comx not assigned");
    }
  }
  EXPECT_EQ(sio.FStop(), 0);  // nothing to stop
}

TEST(ProtocolTarget, UsbDeviceIsAppendedToTheConnectionString) {
  TLinkTarget target;
  target.usb_device = "/tmp/calc.sock";
  EXPECT_EQ(TFX9860sio(LinkKind::Usb, {}, target).UsbConnection(),
            "NAME=USB;VENDORID=VID_07CF&PID_6101;BUFFERSIZE=4096;DEVICENAME=/tmp/calc.sock");
  EXPECT_EQ(TFX9860sio(LinkKind::Usb, {}).UsbConnection(), "NAME=USB;VENDORID=VID_07CF&PID_6101;BUFFERSIZE=4096;");
  TLinkTarget serial;
  serial.serial_port = "/dev/pts/7";
  TFX9860sio sio(LinkKind::Serial, {}, serial);
  EXPECT_EQ(sio.PortName(), "/dev/pts/7");
  EXPECT_EQ(sio.SerialConnection(9600),
            "NAME=/dev/pts/7;BAUDRATE=9600;BYTESIZE=8;PARITY=NONE;STOPBITS=ONE;"
            "DCBFLAGSOFF=DTRHANDSHAKE,RTSHANDSHAKE;DCBFLAGSON=DTRON,RTSON");
}

TEST_F(ProtocolTest, TheSerialPortIsTheTargetsOwn) {
  TLinkTarget target;
  target.serial_port = "/dev/ttyGIVEN";
  EXPECT_EQ(TFX9860sio(LinkKind::Serial, {}, target).PortName(), "/dev/ttyGIVEN");
  EXPECT_EQ(TFX9860sio(LinkKind::Usb, {}).PortName(), "");  // a USB link has no port
}

}  // namespace
}  // namespace ostrel::testing
