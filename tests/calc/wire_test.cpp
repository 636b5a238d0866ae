// Packet framing and reception on the calculator's side of the link.

#include <gtest/gtest.h>

#include "calc/memory_board.h"
#include "wire.h"

namespace ostrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The packet body followed by its checksum digits.
Bytes WithChecksum(const std::string& body) {
  Bytes bytes = Text(body);
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < bytes.size(); ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  const char* hex = "0123456789ABCDEF";
  const std::uint8_t check = static_cast<std::uint8_t>(0x100 - sum);
  bytes.push_back(hex[check >> 4]);
  bytes.push_back(hex[check & 15]);
  return bytes;
}

TEST(CalcWire, FramesControlPacketsAsThePcExpectsThem) {
  EXPECT_EQ(Framed(WIRE_TYPE_ACK, 0x00), (Bytes{0x06, 0x30, 0x30, 0x30, 0x37, 0x30}));
  EXPECT_EQ(Framed(WIRE_TYPE_CHECK, 0x01), (Bytes{0x05, 0x30, 0x31, 0x30, 0x36, 0x46}));
  EXPECT_EQ(Framed(WIRE_TYPE_ERROR, 0x04), (Bytes{0x15, 0x30, 0x34, 0x30, 0x36, 0x43}));
}

TEST(CalcWire, EscapesDataAndCountsTheEscapedSize) {
  // 41 0A 5C 1F 20 goes as 41 5C 2A 5C 5C 5C 3F 20, size "0008".
  EXPECT_EQ(Framed(WIRE_TYPE_DATA, 0x76, {0x41, 0x0A, 0x5C, 0x1F, 0x20}),
            WithChecksum("\x02" "761" "0008" "\x41\x5C\x2A\x5C\x5C\x5C\x3F\x20"));
}

struct ReceiveCase {
  const char* name;
  Bytes bytes;
  wire_status status;
  bool pause_after = false;  // the line goes quiet after the bytes
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.name; }

class CalcWireReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(CalcWireReceive, ClassifiesThePacket) {
  MemoryBoard board;
  board.Receive(GetParam().bytes);
  if (GetParam().pause_after) board.ReceivePause();
  wire_packet packet{};
  EXPECT_EQ(wire_receive(&board.Board(), &packet), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalcWireReceive,
    ::testing::Values(
        ReceiveCase{"Check", {0x05, 0x30, 0x30, 0x30, 0x37, 0x30}, WIRE_OK},
        ReceiveCase{"NoiseBeforeThePacket", {0x00, 0xFF, 0x41, 0x05, 0x30, 0x30, 0x30, 0x37, 0x30}, WIRE_OK},
        ReceiveCase{"CommandWithData", WithChecksum("\x01" "7A1" "0007" "\x5C\x20\x5C\x20\x5C\x20\xA0"), WIRE_OK},
        ReceiveCase{"LowerCaseChecksum", {0x05, 0x30, 0x31, 0x30, 0x36, 0x66}, WIRE_OK},
        ReceiveCase{"WrongChecksum", {0x05, 0x30, 0x30, 0x30, 0x37, 0x31}, WIRE_BAD_CHECKSUM},
        ReceiveCase{"SubtypeNotHex", {0x01, 0x37, 0x47, 0x30, 0x36, 0x39}, WIRE_MALFORMED},
        ReceiveCase{"DataFlagNotZeroOrOne", {0x01, 0x37, 0x36, 0x32, 0x36, 0x31}, WIRE_MALFORMED},
        ReceiveCase{"SizeAboveTheLargestField", WithChecksum("\x01" "701" "0809"), WIRE_MALFORMED},
        ReceiveCase{"EscapeAtTheEnd", WithChecksum("\x01" "7A1" "0002" "A\x5C"), WIRE_MALFORMED},
        ReceiveCase{"StopsInTheMiddle", {0x01, 0x37, 0x36, 0x31, 0x30, 0x30, 0x34}, WIRE_TIMEOUT, true},
        ReceiveCase{"LinkClosed", {}, WIRE_CLOSED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CalcWire, UnescapesTheData) {
  MemoryBoard board;
  board.Receive(Framed(WIRE_TYPE_COMMAND, 0x70, {0x00, 0x1F, 0x5C, 0x20, 0xFF}));
  wire_packet packet{};
  ASSERT_EQ(wire_receive(&board.Board(), &packet), WIRE_OK);
  EXPECT_EQ(packet.type, WIRE_TYPE_COMMAND);
  EXPECT_EQ(packet.subtype, 0x70);
  EXPECT_EQ(Bytes(packet.data, packet.data + packet.length), (Bytes{0x00, 0x1F, 0x5C, 0x20, 0xFF}));
}

TEST(CalcWire, TheLargestRamWriteFitsEvenWhenEveryByteIsEscaped) {
  MemoryBoard board;
  Bytes data = Words({CALC_STAGING_START, 1020}, Bytes(1020, 0x01));
  board.ReceivePacket(WIRE_TYPE_COMMAND, 0x70, data);
  wire_packet packet{};
  ASSERT_EQ(wire_receive(&board.Board(), &packet), WIRE_OK);
  EXPECT_EQ(packet.length, 1028u);
}

}  // namespace
}  // namespace ostrel::testing
