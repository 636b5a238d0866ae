#include "link/connection_string.h"

#include <gtest/gtest.h>

#include "link/name_tables.h"
#include "support/case_names.h"

namespace ostrel {
namespace {

struct SerialCase {
  const char* connection;
  const char* name;
  std::int32_t baud_rate;
  std::int32_t byte_size;
  int parity;
  int stop_bits;
  std::uint32_t flags_from_empty;  // ApplyDcbFlags(0)
  std::uint32_t read_interval;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const SerialCase& c) { return std::string(c.connection); }
void PrintTo(const SerialCase& c, std::ostream* os) { *os << Describe(c); }

constexpr std::uint32_t kMax = 0xFFFFFFFFu;

const SerialCase kSerialCases[] = {
    // Keys and values are upper-cased; the port name (a path) keeps its case.
    {"NAME=com3;baudrate=115200", "com3", 115200, 8, kParityNone, kStopOne, 0, kMax},
    {"name=/dev/serial/by-id/usb-Prolific_X;BAUDRATE=9600", "/dev/serial/by-id/usb-Prolific_X", 9600, 8, kParityNone,
     kStopOne, 0, kMax},
    {"PARITY=XYZ", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"parity=even;bytesize=7", "", 9600, 7, kParityEven, kStopOne, 0, kMax},
    {"PARITY=mark", "", 9600, 8, kParityMark, kStopOne, 0, kMax},
    {"STOPBITS=1.5", "", 9600, 8, kParityNone, kStopOne5, 0, kMax},
    {"STOPBITS=", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"STOPBITS=two", "", 9600, 8, kParityNone, kStopTwo, 0, kMax},
    {"STOPBITS=3", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    // Clearing comes after setting, whatever the order in the string.
    {"DCBFLAGSON=DTRON,RTSON;DCBFLAGSOFF=DTRON", "", 9600, 8, kParityNone, kStopOne, kDcbRtsOn, kMax},
    {"DCBFLAGSOFF=DTRON;DCBFLAGSON=DTRON,RTSON", "", 9600, 8, kParityNone, kStopOne, kDcbRtsOn, kMax},
    // List items are trimmed and compared without regard to case; unknown items ignored.
    {"DCBFLAGSON= dtron , Rtson ,bogus", "", 9600, 8, kParityNone, kStopOne, kDcbDtrOn | kDcbRtsOn, kMax},
    {"BAUDRATE=fast", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"BAUDRATE=", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"BAUDRATE=115200x", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"BAUDRATE=99999999999", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    // Nothing is trimmed: a blank before the value or the key spoils it.
    {"BAUDRATE= 115200", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"NAME=/dev/ttyS0; BAUDRATE=115200", "/dev/ttyS0", 9600, 8, kParityNone, kStopOne, 0, kMax},
    // The first occurrence of a key counts.
    {"BAUDRATE=4800;BAUDRATE=115200", "", 4800, 8, kParityNone, kStopOne, 0, kMax},
    {"READINTERVALTIMEOUT=20", "", 9600, 8, kParityNone, kStopOne, 0, 20},
    {"READINTERVALTIMEOUT=-1", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {"", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    {";;=;NAME", "", 9600, 8, kParityNone, kStopOne, 0, kMax},
    // The value runs from the first "=".
    {"NAME=/tmp/a=b", "/tmp/a=b", 9600, 8, kParityNone, kStopOne, 0, kMax},
};

class SerialSettingsTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialSettingsTest, ParsesAsTheRulesSay) {
  const SerialCase& c = GetParam();
  TLinkNameTables names;
  TSerialSettings s = ParseSerialSettings(c.connection, names);
  EXPECT_EQ(s.name, c.name);
  EXPECT_EQ(s.baud_rate, c.baud_rate);
  EXPECT_EQ(s.byte_size, c.byte_size);
  EXPECT_EQ(s.parity, c.parity);
  EXPECT_EQ(s.stop_bits, c.stop_bits);
  EXPECT_EQ(s.ApplyDcbFlags(0), c.flags_from_empty);
  EXPECT_EQ(s.read_interval_timeout, c.read_interval);
  EXPECT_EQ(s.read_total_timeout_multiplier, 0u);
  EXPECT_EQ(s.read_total_timeout_constant, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialSettingsTest, ::testing::ValuesIn(kSerialCases),
                         ostrel::testing::DescribedName{});

TEST(SerialSettings, SystemStringsEnableDtrAndRtsAndDropHandshakes) {
  TLinkNameTables names;
  for (int baud : {9600, 115200}) {
    std::string connection = SystemSerialConnection("/dev/ttyUSB0", baud);
    TSerialSettings s = ParseSerialSettings(connection, names);
    EXPECT_EQ(s.name, "/dev/ttyUSB0");
    EXPECT_EQ(s.baud_rate, baud);
    // A driver state with both handshakes set ends with both lines simply on.
    EXPECT_EQ(s.ApplyDcbFlags(kDcbBinary | kDcbDtrHandshake | kDcbRtsHandshake),
              kDcbBinary | kDcbDtrOn | kDcbRtsOn);
  }
  EXPECT_EQ(SystemSerialConnection("/dev/ttyS1", 9600),
            "NAME=/dev/ttyS1;BAUDRATE=9600;BYTESIZE=8;PARITY=NONE;STOPBITS=ONE;"
            "DCBFLAGSOFF=DTRHANDSHAKE,RTSHANDSHAKE;DCBFLAGSON=DTRON,RTSON");
}

TEST(SerialSettings, FileFlagsAndBufferSize) {
  TLinkNameTables names;
  TSerialSettings s = ParseSerialSettings("FILEFLAGSON=file_flag_overlapped, bogus;BUFFERSIZE=256", names);
  EXPECT_EQ(s.file_flags, kFileFlagOverlapped);
  EXPECT_EQ(s.buffer_size, 256);
  EXPECT_EQ(ParseSerialSettings("FILEFLAGSON=", names).file_flags, 0u);
}

struct UsbCase {
  const char* connection;
  const char* device_name;
  const char* vendor_id;
  std::int32_t buffer_size;
  bool no_overlapped;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const UsbCase& c) { return std::string(c.connection); }
void PrintTo(const UsbCase& c, std::ostream* os) { *os << Describe(c); }

const UsbCase kUsbCases[] = {
    {kSystemUsbConnection, "", "VID_07CF&PID_6101", 4096, false},
    // Keys match without regard to case; values are used as written.
    {"devicename=/tmp/Sim/Calc.sock;VendorId=vid_07cf&pid_6101", "/tmp/Sim/Calc.sock", "vid_07cf&pid_6101", 4096,
     false},
    {"DEVICENAME= \t", " \t", "", 4096, false},
    {"BUFFERSIZE=abc;NO_FILE_FLAG_OVERLAPPED=1", "", "", 4096, true},
    {"BUFFERSIZE=64;NO_FILE_FLAG_OVERLAPPED=01", "", "", 64, false},
    {"NO_FILE_FLAG_OVERLAPPED=true", "", "", 4096, false},
    {"DEVICENAME=/dev/a;DEVICENAME=/dev/b", "/dev/a", "", 4096, false},
};

class UsbSettingsTest : public ::testing::TestWithParam<UsbCase> {};

TEST_P(UsbSettingsTest, ParsesWithoutUpperCasing) {
  const UsbCase& c = GetParam();
  TUsbSettings s = ParseUsbSettings(c.connection);
  EXPECT_EQ(s.device_name, c.device_name);
  EXPECT_EQ(s.vendor_id, c.vendor_id);
  EXPECT_EQ(s.buffer_size, c.buffer_size);
  EXPECT_EQ(s.no_overlapped, c.no_overlapped);
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbSettingsTest, ::testing::ValuesIn(kUsbCases),
                         ostrel::testing::DescribedName{});

TEST(ParseDecimal, AcceptsOnlyPlainDecimalIn32Bits) {
  struct {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {{"0", 0},         {"-1", -1},        {"+12", 12},          {"2147483647", 2147483647},
               {"2147483648", {}}, {"-2147483649", {}}, {"", {}},           {"-", {}},
               {"1 ", {}},       {" 1", {}},        {"0x10", {}},         {"+-1", {}}};
  for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace ostrel
