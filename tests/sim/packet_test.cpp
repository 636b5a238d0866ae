// The simulator's packet code against the byte-exact examples of the link protocol.

#include "fxsim/packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "test_client.h"

namespace fxsim::testing {
namespace {

struct FrameCase {
  std::uint8_t type;
  const char* subtype;
  Bytes expected;
};

TEST(Packet, FixedPacketsAreByteExact) {
  const FrameCase cases[] = {
      {0x05, "00", {0x05, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {0x06, "00", {0x06, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {0x03, "00", {0x03, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {0x18, "00", {0x18, 0x30, 0x30, 0x30, 0x37, 0x30}},
      {0x05, "01", {0x05, 0x30, 0x31, 0x30, 0x36, 0x46}},
      {0x01, "01", {0x01, 0x30, 0x31, 0x30, 0x36, 0x46}},
      {0x15, "04", {0x15, 0x30, 0x34, 0x30, 0x36, 0x43}},
  };
  for (const FrameCase& c : cases) {
    EXPECT_EQ(BuildPacket(c.type, c.subtype), c.expected) << c.subtype;
  }
}

TEST(Packet, EscapingBothWays) {
  const Bytes raw = {0x41, 0x0A, 0x5C, 0x1F, 0x20};
  const Bytes wire = {0x41, 0x5C, 0x2A, 0x5C, 0x5C, 0x5C, 0x3F, 0x20};
  EXPECT_EQ(Escape(raw), wire);
  EXPECT_EQ(Unescape(wire), raw);
  EXPECT_EQ(Escape(Bytes{0x00}), (Bytes{0x5C, 0x20}));
  EXPECT_EQ(Escape(Bytes{0x20, 0x7F, 0xFF}), (Bytes{0x20, 0x7F, 0xFF}));
  const Bytes packet = BuildPacket(0x02, "50", wire);
  EXPECT_EQ(std::string(packet.begin() + 4, packet.begin() + 8), "0008");
  // Every byte value survives the round trip.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Unescape(Escape(all)), all);
}

TEST(Packet, LinkSettingsParameterBlock) {
  struct Case {
    const char* baud;
    const char* checksum;
    const char* size;
  };
  for (const Case& c : {Case{"115200", "93", "0023"}, Case{"9600", "F1", "0021"}}) {
    ParameterBlock block;
    block.texts = {c.baud, "NONE", "1", "", "", ""};
    const Bytes packet = BuildPacket(0x01, "02", block.Encode());
    EXPECT_EQ(packet, LinkSettings(c.baud)) << c.baud;
    EXPECT_EQ(std::string(packet.begin() + 4, packet.begin() + 8), c.size) << c.baud;
    EXPECT_EQ(std::string(packet.end() - 2, packet.end()), c.checksum) << c.baud;
  }
  ParameterBlock block;
  block.texts = {"115200", "NONE", "1", "", "", ""};
  EXPECT_EQ(ToBytes("0000000000000604010000001152" "00NONE1"), block.Encode());
}

TEST(Packet, ParameterBlockDecoding) {
  const auto block = ParameterBlock::Decode(ToBytes("0000000000000000000004" "00fls0"));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->texts[4], "fls0");
  EXPECT_EQ(block->texts[0], "");
  const char* bad[] = {
      "00000000000000000000040",      // shorter than the header
      "0000000000000000000005" "00fls0",  // text longer than the field
      "0G00000000000000000004" "00fls0",  // not hex
  };
  for (const char* text : bad) EXPECT_FALSE(ParameterBlock::Decode(ToBytes(text))) << text;
}

TEST(PacketReader, SplitsAStreamFedByteByByte) {
  Bytes stream = CheckPacket();
  const Bytes settings = LinkSettings("115200");
  stream.insert(stream.end(), settings.begin(), settings.end());
  PacketReader reader;
  std::vector<Packet> packets;
  for (std::uint8_t b : stream) {
    reader.Feed(std::span(&b, 1));
    while (auto p = reader.Next()) packets.push_back(*p);
  }
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].bytes, CheckPacket());
  EXPECT_EQ(packets[1].bytes, settings);
  EXPECT_EQ(packets[1].subtype, "02");
  EXPECT_TRUE(packets[1].has_data);
  EXPECT_EQ(packets[1].data.size(), 0x23u);
  EXPECT_TRUE(packets[1].checksum_ok);
}

TEST(PacketReader, SkipsGarbageAndResynchronises) {
  // Junk, a plausible type byte with a broken header, then a real packet.
  Bytes stream = {0xFF, 0x41, 0x06, 0x30, 0x58, 0x00, 0x05};
  const Bytes check = CheckPacket();
  stream.insert(stream.end(), check.begin(), check.end());
  PacketReader reader;
  reader.Feed(stream);
  const auto packet = reader.Next();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->bytes, check);
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(reader.SkippedBytes(), 7u);
}

TEST(PacketReader, OversizedDataFieldIsGarbage) {
  PacketReader reader;
  reader.Feed(ToBytes("\x01" "021FFFF"));
  const Bytes check = CheckPacket();
  reader.Feed(check);
  const auto packet = reader.Next();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->bytes, check);
}

TEST(PacketReader, NotesTheNulAfterAPacketWhetherItComesWithItOrLater) {
  PacketReader reader;
  Bytes with_nul = AckPacket();
  with_nul.push_back(0x00);
  reader.Feed(with_nul);
  auto packet = reader.Next();
  ASSERT_TRUE(packet);
  EXPECT_TRUE(packet->trailing_nul);
  EXPECT_EQ(packet->bytes, AckPacket());

  reader.Feed(AckPacket());
  packet = reader.Next();
  ASSERT_TRUE(packet);
  EXPECT_FALSE(packet->trailing_nul);
  reader.Feed(Bytes{0x00});
  EXPECT_FALSE(reader.Next());
  EXPECT_TRUE(reader.TakeTrailingNul());
  EXPECT_FALSE(reader.TakeTrailingNul());
  EXPECT_EQ(reader.SkippedBytes(), 0u);
}

TEST(PacketReader, FlagsABadChecksumButKeepsThePacket) {
  Bytes packet = CheckPacket();
  packet.back() = '1';
  PacketReader reader;
  reader.Feed(packet);
  const auto parsed = reader.Next();
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->checksum_ok);
  EXPECT_EQ(parsed->type, 0x05);
}

TEST(DeviceInfo, RecordLayout) {
  DeviceInfo info;
  info.processor_id = "SH7337";
  info.user_name = "A NAME LONGER THAN SIXTEEN";
  const auto record = info.Record();
  EXPECT_EQ(std::string(record.begin(), record.begin() + 8), info.hardware_id);
  EXPECT_EQ(std::string(record.begin() + 8, record.begin() + 14), "SH7337");
  for (std::size_t i = 14; i < 24; ++i) EXPECT_EQ(record[i], 0xFF) << i;
  EXPECT_EQ(std::string(record.begin() + 128, record.begin() + 132), info.protocol_version);
  EXPECT_EQ(std::string(record.begin() + 148, record.end()), "A NAME LONGER TH");
}

// The OS fields of a record as a unit serving `flash` sends it: version, offset, size.
std::string OsFields(const DeviceInfo& info, const Bytes& flash) {
  const auto record = info.ServedWith(flash).Record();
  return std::string(record.begin() + 96, record.begin() + 106) + " " +
         std::string(record.begin() + 112, record.begin() + 128) + " " +
         std::string(record.begin() + 128, record.begin() + 132);
}

Bytes FlashWithOs(std::size_t size, const std::string& version) {
  Bytes flash(size, 0xFF);
  std::copy(version.begin(), version.end(), flash.begin() + 0x10020);
  return flash;
}

TEST(DeviceInfo, OsFieldsComeFromTheServedFlash) {
  struct Case {
    const char* name;
    Bytes flash;
    std::optional<std::string> configured_version;
    const char* fields;
  };
  const Case cases[] = {
      {"first OS generation", FlashWithOs(0x400000, "01.02.0000"), {}, "01.02.0000 0001000000002432 7.00"},
      {"later OS", FlashWithOs(0x400000, "02.02.0000"), {}, "02.02.0000 0001000000002432 7.00"},
      {"fx-7400GII", FlashWithOs(0x200000, "02.01.0000"), {}, "02.01.0000 0001000000001856 7.00"},
      {"set version wins", FlashWithOs(0x400000, "02.02.0000"), "00.10.0300", "00.10.0300 0001000000002432 7.00"},
      {"no OS in the flash", Bytes(0x400000, 0x5A), {}, "02.00.0200 0001000000002432 7.00"},
  };
  for (const Case& c : cases) {
    DeviceInfo info;
    info.os_code_version = c.configured_version;
    EXPECT_EQ(OsFields(info, c.flash), c.fields) << c.name;
  }
}

// The product ID is the calculator's own ID, which its boot code area keeps at 0xFFD0.
TEST(DeviceInfo, ProductIdIsTheCalculatorIdOfTheFlash) {
  struct Case {
    const char* name;
    std::string id_bytes;
    const char* product_id;
  };
  const Case cases[] = {
      {"letters and digits", "OSTREL01", "OSTREL01"},
      {"erased", std::string(8, '\xFF'), "CONFIGUR"},
      {"with a blank", "OSTREL 1", "CONFIGUR"},
  };
  for (const Case& c : cases) {
    Bytes flash(0x400000, 0xFF);
    std::copy(c.id_bytes.begin(), c.id_bytes.end(), flash.begin() + 0xFFD0);
    DeviceInfo info;
    info.product_id1 = "CONFIGUR";
    const auto record = info.ServedWith(flash).Record();
    EXPECT_EQ(std::string(record.begin() + 132, record.begin() + 140), c.product_id) << c.name;
  }
}

}  // namespace
}  // namespace fxsim::testing
