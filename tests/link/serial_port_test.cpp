#include "link/serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <fstream>

#include "link/connection_string.h"
#include "link/hardware.h"
#include "link/line_settings.h"
#include "link_test_support.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

using testing::Bytes;
using testing::Contains;
using testing::ReadBytes;
using testing::TPtyPair;

TEST(SerialPort, BytesPassBothWaysUnchangedEvenFromATerminalsDefaults) {
  TPtyPair pty;
  // Leave the line as a terminal would have it: line editing, echo, CR/LF mapping, XON/XOFF.
  termios terminal = pty.LineSettings();
  terminal.c_iflag |= ICRNL | IXON | IXOFF;
  terminal.c_oflag |= OPOST | ONLCR;
  terminal.c_lflag |= ICANON | ECHO | ISIG;
  ASSERT_EQ(::tcsetattr(pty.Master(), TCSANOW, &terminal), 0);

  THardware link(LinkKind::Serial, SystemSerialConnection(pty.SlavePath(), 9600));
  ASSERT_GE(link.Handle(), 0);
  EXPECT_EQ(link.Kind(), LinkKind::Serial);
  EXPECT_EQ(link.DevicePath(), pty.SlavePath());

  const auto out = Bytes({0x05, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1A, 0x7F, 0x00, 0xFF});
  EXPECT_EQ(link.Write(out.data(), static_cast<std::uint32_t>(out.size())), out.size());
  EXPECT_EQ(pty.Receive(out.size()), out);

  const auto in = Bytes({0x06, 0x30, 0x0D, 0x13, 0x11, 0x03, 0x04, 0x1C, 0x0A, 0xFF});
  pty.Send(in);
  EXPECT_EQ(ReadBytes(link, in.size()), in);
}

struct LineCase {
  const char* settings;
  speed_t speed;
  tcflag_t size;
  tcflag_t parity;  // PARENB / PARODD / CMSPAR bits expected
  bool two_stop_bits;
  bool rts_cts;
  bool xon_xoff_out;
  bool xon_xoff_in;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const LineCase& c) { return std::string(c.settings); }
void PrintTo(const LineCase& c, std::ostream* os) { *os << Describe(c); }

const LineCase kLineCases[] = {
    {"BAUDRATE=115200;BYTESIZE=8;PARITY=NONE;STOPBITS=ONE", B115200, CS8, 0, false, false, false, false},
    {"baudrate=57600;bytesize=7;parity=even;stopbits=2", B57600, CS7, PARENB, true, false, false, false},
    {"BAUDRATE=1200;BYTESIZE=5;PARITY=ODD", B1200, CS5, PARENB | PARODD, false, false, false, false},
    {"BAUDRATE=19200;PARITY=MARK;STOPBITS=1.5", B19200, CS8, PARENB | PARODD | CMSPAR, true, false, false, false},
    {"BAUDRATE=38400;BYTESIZE=6;PARITY=SPACE", B38400, CS6, PARENB | CMSPAR, false, false, false, false},
    {"DCBFLAGSON=RTSHANDSHAKE,OUTX,INX", B9600, CS8, 0, false, true, true, true},
    {"DCBFLAGSON=RTSHANDSHAKE,OUTX;DCBFLAGSOFF=OUTX", B9600, CS8, 0, false, true, false, false},
    {"BAUDRATE=fast;PARITY=XYZ", B9600, CS8, 0, false, false, false, false},
};

class SerialLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(SerialLineTest, TheLineHasTheSettingsTheStringAsksFor) {
  const LineCase& c = GetParam();
  TPtyPair pty;
  tSio port("NAME=" + pty.SlavePath() + ";" + c.settings);
  ASSERT_GE(port.Handle(), 0);
  termios line = pty.LineSettings();
  EXPECT_EQ(cfgetospeed(&line), c.speed);
  EXPECT_EQ(cfgetispeed(&line), c.speed);
  // A pseudo-terminal always reports 8 bits without parity enable (it has no wire); the
  // other parity bits it keeps. The byte size and PARENB are checked without a pty below.
  EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), c.parity & ~static_cast<tcflag_t>(PARENB));
  EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.two_stop_bits);
  EXPECT_EQ((line.c_cflag & CRTSCTS) != 0, c.rts_cts);
  EXPECT_EQ((line.c_iflag & IXON) != 0, c.xon_xoff_out);
  EXPECT_EQ((line.c_iflag & IXOFF) != 0, c.xon_xoff_in);
  // Always a raw byte line that ignores the modem's carrier.
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialLineTest, ::testing::ValuesIn(kLineCases),
                         ostrel::testing::DescribedName{});

TEST(LineSetup, ByteSizeAndParityOfEveryCase) {
  TLinkNameTables names;
  for (const LineCase& c : kLineCases) {
    TSerialSettings settings = ParseSerialSettings(c.settings, names);
    termios current{};
    current.c_cflag = CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;  // all to be replaced
    TLineSetup setup = MakeLineSetup(current, settings.ApplyDcbFlags(0), settings);
    ASSERT_FALSE(setup.error) << c.settings;
    EXPECT_EQ(setup.line.c_cflag & CSIZE, c.size) << c.settings;
    EXPECT_EQ(setup.line.c_cflag & (PARENB | PARODD | CMSPAR), c.parity) << c.settings;
    EXPECT_EQ((setup.line.c_cflag & CSTOPB) != 0, c.two_stop_bits) << c.settings;
    EXPECT_EQ((setup.line.c_cflag & CRTSCTS) != 0, c.rts_cts) << c.settings;
  }
}

TEST(LineSetup, ModemLinesFollowTheFlagsWord) {
  TLinkNameTables names;
  TSerialSettings settings = ParseSerialSettings(SystemSerialConnection("/dev/x", 9600), names);
  // Lines found down are raised; a string that clears DTR lowers it.
  TLineSetup raised = MakeLineSetup(termios{}, settings.ApplyDcbFlags(DcbFlagsOfModemLines(0)), settings);
  EXPECT_TRUE(raised.raise_dtr);
  EXPECT_TRUE(raised.raise_rts);
  TSerialSettings no_dtr = ParseSerialSettings("DCBFLAGSOFF=DTRON", names);
  TLineSetup lowered =
      MakeLineSetup(termios{}, no_dtr.ApplyDcbFlags(DcbFlagsOfModemLines(TIOCM_DTR | TIOCM_RTS)), no_dtr);
  EXPECT_FALSE(lowered.raise_dtr);
  EXPECT_TRUE(lowered.raise_rts);  // untouched by the string: kept as the line had it
}

TEST(SerialPort, OneAndAHalfStopBitsBecomeTwoAndSaySo) {
  TPtyPair pty;
  tSio port("NAME=" + pty.SlavePath() + ";STOPBITS=ONE5");
  ASSERT_GE(port.Handle(), 0);
  EXPECT_TRUE(Contains(port.TakeDiagnostics(), "2 stop bits"));
}

TEST(SerialPort, SettingsTheLineCannotTakeLeaveThePortUnusedWithAReason) {
  struct {
    const char* settings;
    const char* reason;
  } cases[] = {{"BAUDRATE=12345", "12345"}, {"BAUDRATE=-5", "-5"}, {"BYTESIZE=9", "byte size 9"}};
  for (const auto& c : cases) {
    TPtyPair pty;
    termios before = pty.LineSettings();
    tSio port("NAME=" + pty.SlavePath() + ";" + c.settings);
    EXPECT_EQ(port.Handle(), -1) << c.settings;
    EXPECT_TRUE(Contains(port.TakeDiagnostics(), c.reason)) << c.settings;
    termios after = pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before)) << c.settings;
    const auto byte = Bytes({0x55});
    EXPECT_EQ(port.Write(byte.data(), 1), 0u);
  }
}

TEST(SerialPort, ReadingASilentLineReturnsAtOnceWithoutSpinning) {
  TPtyPair pty;
  tSio port(SystemSerialConnection(pty.SlavePath(), 115200));
  ASSERT_GE(port.Handle(), 0);
  const testing::TReadCost cost = testing::MeasureReads(port, 30);
  EXPECT_EQ(cost.bytes, 0);
  // A busy poll burns the whole time on the CPU; a wait for input burns almost none.
  EXPECT_LT(cost.cpu_us * 4, cost.wall_us) << "cpu " << cost.cpu_us << " us, wall " << cost.wall_us << " us";
}

TEST(SerialPort, APortThatCannotBeOpenedReadsAndWritesNothing) {
  testing::TemporaryFolder folder;
  std::string plain_file = folder.File("not-a-port");
  std::ofstream(plain_file) << "data";
  const std::string connections[] = {"", "NAME=" + folder.File("ttyUSB9"), "NAME=" + plain_file,
                                     "NAME=/dev/null", "NAME=" + folder.Path(),
                                     "BAUDRATE=115200"};
  for (const std::string& connection : connections) {
    auto port = std::make_unique<tSio>(connection);
    EXPECT_EQ(port->Handle(), -1) << connection;
    std::uint8_t byte = 0;
    EXPECT_EQ(port->ReadByte(byte), 0);
    const auto out = Bytes({1, 2, 3});
    EXPECT_EQ(port->Write(out.data(), 3), 0u);
    EXPECT_FALSE(port->TakeDiagnostics().empty()) << connection;
    port.reset();
  }
  std::ifstream check(plain_file);
  std::string content;
  check >> content;
  EXPECT_EQ(content, "data");  // a plain file is never written to as if it were a port

  // A port that is not there says where the ports are listed.
  tSio missing("NAME=" + folder.File("ttyUSB9"));
  std::string said;
  for (const std::string& line : missing.TakeDiagnostics()) said += line + "\n";
  EXPECT_NE(said.find("cannot be opened: No such file or directory (`ostrel devices` lists the serial ports)"),
            std::string::npos)
      << said;
}

TEST(SerialPort, APortIsNotSharedAndCanBeReopenedAfterClosing) {
  TPtyPair pty;
  const std::string connection = SystemSerialConnection(pty.SlavePath(), 9600);
  {
    tSio first(connection);
    ASSERT_GE(first.Handle(), 0);
    tSio second(connection);
    EXPECT_EQ(second.Handle(), -1);
    EXPECT_TRUE(Contains(second.TakeDiagnostics(), "in use"));
  }
  tSio again(SystemSerialConnection(pty.SlavePath(), 115200));
  ASSERT_GE(again.Handle(), 0);
  termios line = pty.LineSettings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
}

TEST(SerialPort, BytesLeftFromAnEarlierSessionAreNotDelivered) {
  TPtyPair pty;
  pty.Send(Bytes({0x30, 0x37, 0x30}));  // the tail of an answer nobody read
  tSio port(SystemSerialConnection(pty.SlavePath(), 9600));
  ASSERT_GE(port.Handle(), 0);
  std::uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte), 0);
  pty.Send(Bytes({0x06}));
  EXPECT_EQ(ReadBytes(port, 1), Bytes({0x06}));
}

TEST(SerialPort, OneReadTakesEverythingThatArrivedAndServesItInPieces) {
  TPtyPair pty;
  tSio port(SystemSerialConnection(pty.SlavePath(), 9600));
  ASSERT_GE(port.Handle(), 0);
  pty.Send(Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  std::uint8_t piece[4] = {};
  std::size_t got = 0;
  for (int attempt = 0; got == 0 && attempt < 200; ++attempt) got = port.ReadBytes(piece, sizeof piece);
  ASSERT_EQ(got, 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(piece, piece + 4), Bytes({1, 2, 3, 4}));
  // The line's own queue is empty now: the rest comes from the port's buffer.
  ::tcflush(port.Handle(), TCIFLUSH);
  EXPECT_EQ(port.ReadBytes(piece, sizeof piece), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(piece, piece + 4), Bytes({5, 6, 7, 8}));
  std::uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte), 1);
  EXPECT_EQ(byte, 9);
  EXPECT_EQ(port.ReadBytes(piece, sizeof piece), 1u);
  EXPECT_EQ(piece[0], 10);
  EXPECT_EQ(port.ReadBytes(piece, sizeof piece), 0u);
}

TEST(SerialPort, AVanishedLineIsSilentAndSaidOnce) {
  TPtyPair pty;
  tSio port(SystemSerialConnection(pty.SlavePath(), 9600));
  ASSERT_GE(port.Handle(), 0);
  port.TakeDiagnostics();
  pty.CloseMaster();
  std::uint8_t byte = 0;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(port.ReadByte(byte), 0);
  const auto out = Bytes({1});
  EXPECT_EQ(port.Write(out.data(), 1), 0u);
  auto lines = port.TakeDiagnostics();
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Contains(lines, "gone"));
  EXPECT_EQ(port.ReadByte(byte), 0);
  EXPECT_TRUE(port.TakeDiagnostics().empty());
}

}  // namespace
}  // namespace ostrel
