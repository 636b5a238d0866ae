// Checksum, escaping and hexadecimal fields of the link packets.

#include "protocol/packet_codec.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(PacketChecksum, MatchesTheWorkedExamples) {
  EXPECT_EQ(PacketChecksum(Of("000")), 0x70);
  EXPECT_EQ(PacketChecksum(Of("010")), 0x6F);
  EXPECT_EQ(PacketChecksum(Bytes{}), 0x00);
  EXPECT_EQ(PacketChecksum(Bytes{0x01}), 0xFF);
  EXPECT_EQ(PacketChecksum(Bytes{0x80, 0x80}), 0x00);  // wraps modulo 256
}

TEST(EscapeData, EscapesControlBytesAndTheEscapeByte) {
  struct Case {
    Bytes raw;
    Bytes wire;
  };
  const Case cases[] = {
      {{0x41, 0x0A, 0x5C, 0x1F, 0x20}, {0x41, 0x5C, 0x2A, 0x5C, 0x5C, 0x5C, 0x3F, 0x20}},
      {{0x5C}, {0x5C, 0x5C}},
      {{0x00}, {0x5C, 0x20}},
      {{0x1F}, {0x5C, 0x3F}},
      {{0x20, 0x7F, 0xFF}, {0x20, 0x7F, 0xFF}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeData(c.raw), c.wire);
    EXPECT_EQ(UnescapeData(c.wire), c.raw);
  }
}

TEST(EscapeData, EveryByteValueSurvivesTheRoundTrip) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(UnescapeData(EscapeData(all)), all);
  EXPECT_EQ(EscapeData(all).size(), 256u + 33u);  // 32 control bytes and the escape byte double
}

TEST(UnescapeData, KeepsALoneEscapeByteAtTheEnd) {
  EXPECT_EQ(UnescapeData(Bytes{0x41, 0x5C}), (Bytes{0x41, 0x5C}));
}

TEST(ParseHexField, AcceptsBothCasesAndRejectsOtherCharacters) {
  EXPECT_EQ(ParseHexField("0023"), 0x23u);
  EXPECT_EQ(ParseHexField("4f"), 0x4Fu);
  EXPECT_EQ(ParseHexField("FFFF"), 0xFFFFu);
  EXPECT_EQ(ParseHexField("00G4"), std::nullopt);
  EXPECT_EQ(ParseHexField(" 1"), std::nullopt);
  EXPECT_EQ(ParseHexField(""), std::nullopt);
  // Only digits: no sign and no "0x" prefix.
  for (const char* field : {"+1", "-1", "0x1", "1 "}) EXPECT_EQ(ParseHexField(field), std::nullopt) << field;
}

TEST(HexDigits, WritesUpperCaseWithFixedWidth) {
  EXPECT_EQ(HexDigits(0x23, 4), "0023");
  EXPECT_EQ(HexDigits(0x6F, 2), "6F");
  EXPECT_EQ(HexDigits(0x123, 2), "23");
}

}  // namespace
}  // namespace ostrel
