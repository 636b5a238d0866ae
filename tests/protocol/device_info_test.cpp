// The device-information record as text, and the BIOS type names.

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/fx9860sio.h"

namespace ostrel {
namespace {

TEST(FieldText, EndsAtPaddingOrNulAndAtTheFieldSize) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::size_t size;
    std::string text;
  };
  const Case cases[] = {
      {{'A', 'B', 0xFF, 'C'}, 4, "AB"},
      {{'A', 0x00, 'C'}, 3, "A"},
      {{0xFF, 0xFF}, 2, ""},
      {{'A', 'B', 'C', 'D'}, 3, "ABC"},
  };
  for (const Case& c : cases) EXPECT_EQ(FieldText(c.bytes.data(), c.size), c.text);
}

TEST(DeviceInfoText, PrintsSixteenLabelledLines) {
  TDeviceInfoRecord record;
  record.fill(0xFF);
  std::memcpy(record.data(), "Gy363000", 8);              // hardware id fills its field
  std::memcpy(record.data() + 8, "SH7337", 6);
  std::memcpy(record.data() + 48, "0123456789ABCDEF", 16);  // full 16 bytes, no padding
  std::memcpy(record.data() + 148, "OWNER", 5);

  const std::string text = DeviceInfoText(record);
  EXPECT_EQ(text.rfind("HardwareIdentifier: Gy363000\r\nProcessorIdentifier: SH7337\r\n"
                       "PreprogrammedROMcapacity: \r\n",
                       0),
            0u);
  EXPECT_NE(text.find("\r\nPreprogrammedROMversion: 0123456789ABCDEF\r\nBootcodeversion: \r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nProtocolversion: \r\nProductID1: \r\n"), std::string::npos);
  const std::string tail = "NamesetbyuserinSYSTEM: OWNER\r\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  int lines = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 16);
}

TEST(BiosTypeName, NamesTheKnownTypesByTheLow16Bits) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {0, "standard BIOS"},   {1, "slim BIOS"},       {2, "GII BIOS"},      {3, "AU BIOS"},
      {4, "standard BIOS (legacy)"}, {5, "fx-7400GII BIOS"}, {6, "fx-CG20 BIOS"}, {7, "GII-2 BIOS"},
      {8, ""},                {0x10005, "fx-7400GII BIOS"}, {0xFFFF, ""},
  };
  for (const auto& [number, name] : cases) EXPECT_EQ(BiosTypeName(number), name) << number;
}

}  // namespace
}  // namespace ostrel
