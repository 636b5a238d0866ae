// Flash and RAM read-outs over the USB stand-in, as the PC drives them.

#include <gtest/gtest.h>

#include "fxsim/simulator.h"
#include "test_client.h"

namespace fxsim::testing {
namespace {

struct ReadoutCase {
  const char* name;
  const char* request;       // "4F" or "2F"
  const char* block_header;  // expected header of every block
  const char* announcement;  // expected header of the announcement
  std::size_t size;          // image size
  bool flash;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const ReadoutCase& c, std::ostream* os) { *os << c.name; }

class ReadoutTest : public ::testing::TestWithParam<ReadoutCase> {};

TEST_P(ReadoutTest, SendsTheWholeImageBlockByBlockThenSwapsRoles) {
  const ReadoutCase& c = GetParam();
  Simulator sim(SimConfig{});
  const Bytes& image = c.flash ? sim.Flash() : sim.Ram();
  ASSERT_EQ(image.size(), c.size);
  Client pc(ConnectUsb(sim.StartUsb()));

  auto answer = pc.Exchange(CheckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  answer = pc.Exchange(ReadoutRequest(c.request));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  answer = pc.Exchange(RoleSwapPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Header(), c.announcement);

  const int total = static_cast<int>(c.size / 256);
  Bytes received;
  for (int number = 1; number <= total; ++number) {
    const auto block = pc.Exchange(AckPacket());
    ASSERT_TRUE(block) << "block " << number;
    ASSERT_EQ(block->Header(), c.block_header);
    char fields[17];
    std::snprintf(fields, sizeof(fields), "%04X%04X", total, number);
    ASSERT_EQ(std::string(block->data.begin(), block->data.begin() + 8), fields);
    const Bytes payload = Client::Payload(*block);
    ASSERT_EQ(payload.size(), 256u) << "block " << number;
    received.insert(received.end(), payload.begin(), payload.end());
  }
  EXPECT_TRUE(received == image) << "payload differs from the image";

  answer = pc.Exchange(AckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kRoleSwapWire);
  EXPECT_EQ(sim.GetCounters().blocks_sent, static_cast<std::uint64_t>(total));
}

INSTANTIATE_TEST_SUITE_P(
    Images, ReadoutTest,
    ::testing::Values(ReadoutCase{"Flash", "4F", "02501", "01501", 0x400000, true},
                      ReadoutCase{"Ram", "2F", "02301", "01301", 0x80000, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadoutWire, BlockCarriesCountsAndEscapedPayloadExactly) {
  SimConfig config;
  // 300 bytes: two blocks, the second one short; the first starts with bytes to escape.
  config.flash = Bytes(300, 0x41);
  config.flash[0] = 0x0A;
  config.flash[1] = 0x5C;
  config.flash[2] = 0x1F;
  config.flash[3] = 0x20;
  Simulator sim(config);
  Client pc(ConnectUsb(sim.StartUsb()));
  ASSERT_TRUE(pc.Exchange(ReadoutRequest("4F")));
  const auto announcement = pc.Exchange(RoleSwapPacket());
  ASSERT_TRUE(announcement);
  // The announcement describes the image: a parameter block with its size.
  EXPECT_EQ(std::string(announcement->data.begin() + 4, announcement->data.begin() + 12), "0000012C");

  const auto first = pc.Exchange(AckPacket());
  ASSERT_TRUE(first);
  Bytes expected = ToBytes("00020001");
  const Bytes head = {0x5C, 0x2A, 0x5C, 0x5C, 0x5C, 0x3F, 0x20};
  expected.insert(expected.end(), head.begin(), head.end());
  expected.insert(expected.end(), 252, 0x41);
  EXPECT_EQ(first->data, expected);
  // Size field: 8 + 7 + 252 = 267 = 0x010B.
  EXPECT_EQ(std::string(first->bytes.begin() + 4, first->bytes.begin() + 8), "010B");
  EXPECT_EQ(Frame(0x02, "50", expected), first->bytes);

  const auto second = pc.Exchange(AckPacket());
  ASSERT_TRUE(second);
  EXPECT_EQ(std::string(second->data.begin(), second->data.begin() + 8), "00020002");
  EXPECT_EQ(Client::Payload(*second), Bytes(44, 0x41));
  const auto end = pc.Exchange(AckPacket());
  ASSERT_TRUE(end);
  EXPECT_EQ(end->Header(), "03000");
}

TEST(ReadoutWire, TerminateEndsTheTransferAndReturnsToIdle) {
  Simulator sim(SimConfig{});
  Client pc(ConnectUsb(sim.StartUsb()));
  ASSERT_TRUE(pc.Exchange(ReadoutRequest("2F")));
  ASSERT_TRUE(pc.Exchange(RoleSwapPacket()));
  ASSERT_TRUE(pc.Exchange(AckPacket()));
  ASSERT_TRUE(pc.Exchange(AckPacket()));
  auto answer = pc.Exchange(TerminatePacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  // Idle again: an acknowledge no longer fetches a block, a role swap is acknowledged.
  answer = pc.Exchange(AckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Header(), "15000");
  answer = pc.Exchange(RoleSwapPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  EXPECT_EQ(sim.GetCounters().blocks_sent, 2u);
}

TEST(ReadoutWire, RequestForAnotherStorageIsRefusedWithError04) {
  Simulator sim(SimConfig{});
  Client pc(ConnectUsb(sim.StartUsb()));
  const auto answer = pc.Exchange(ReadoutRequest("4F", "crd0"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, Frame(0x15, "04"));
}

TEST(ReadoutWire, FlashRequestWithoutADataFieldIsTakenLikeTheLongForm) {
  Simulator sim(SimConfig{});
  Client pc(ConnectUsb(sim.StartUsb()));
  auto answer = pc.Exchange(Frame(0x01, "4F"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, kAckWire);
  answer = pc.Exchange(RoleSwapPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Header(), "01501");
  answer = pc.Exchange(AckPacket());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Header(), "02501");
  // The RAM request keeps needing its storage name.
  answer = pc.Exchange(Frame(0x01, "2F"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes, Frame(0x15, "04"));
}

}  // namespace
}  // namespace fxsim::testing
