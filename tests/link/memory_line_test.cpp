// The in-memory line: two ports back to back, for tests without a pty or a socket.

#include "link/memory_line.h"

#include <gtest/gtest.h>

#include <thread>

#include "link/hardware.h"
#include "link_test_support.h"

namespace ostrel {
namespace {

using testing::Bytes;
using testing::Contains;

std::vector<std::uint8_t> ReadAll(TPort& port, std::size_t capacity) {
  std::vector<std::uint8_t> bytes(capacity);
  bytes.resize(port.ReadBytes(bytes.data(), bytes.size()));
  return bytes;
}

TEST(MemoryLine, BytesGoBothWaysInOrderAndAreServedInPieces) {
  TMemoryLinePair line = MakeMemoryLinePair();
  const auto out = Bytes({0x05, 0x30, 0x30, 0x30, 0x37, 0x30});
  EXPECT_EQ(line.first->Write(out.data(), 6), 6u);
  EXPECT_EQ(line.first->Write(out.data(), 2), 2u);
  EXPECT_EQ(ReadAll(*line.second, 4), Bytes({0x05, 0x30, 0x30, 0x30}));
  EXPECT_EQ(ReadAll(*line.second, 100), Bytes({0x37, 0x30, 0x05, 0x30}));
  EXPECT_EQ(ReadAll(*line.second, 100), Bytes({})) << "nothing more came";
  EXPECT_EQ(ReadAll(*line.first, 100), Bytes({})) << "nothing came back";

  EXPECT_EQ(line.second->Write(out.data(), 1), 1u);
  std::uint8_t byte = 0;
  EXPECT_EQ(line.first->ReadByte(byte), 1);
  EXPECT_EQ(byte, 0x05);
  EXPECT_GE(line.first->Handle(), 0);
  EXPECT_TRUE(line.first->TakeDiagnostics().empty());
}

TEST(MemoryLine, AReaderWaitsForBytesFromAnotherThread) {
  TMemoryLinePair line = MakeMemoryLinePair();
  std::thread writer([&] {
    for (int value = 1; value <= 50; ++value) {
      const std::uint8_t byte = static_cast<std::uint8_t>(value);
      line.second->Write(&byte, 1);
    }
  });
  std::vector<std::uint8_t> got;
  for (int attempt = 0; got.size() < 50 && attempt < 1000; ++attempt) {
    const auto piece = ReadAll(*line.first, 7);
    got.insert(got.end(), piece.begin(), piece.end());
  }
  writer.join();
  ASSERT_EQ(got.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(got[i], i + 1);
}

TEST(MemoryLine, WhenOneEndGoesTheOtherReadsWhatWasLeftThenNothing) {
  TMemoryLinePair line = MakeMemoryLinePair();
  const auto out = Bytes({1, 2, 3});
  line.second->Write(out.data(), 3);
  line.second.reset();
  EXPECT_EQ(ReadAll(*line.first, 10), Bytes({1, 2, 3}));
  EXPECT_EQ(ReadAll(*line.first, 10), Bytes({}));
  EXPECT_EQ(line.first->Write(out.data(), 3), 0u);
  const auto lines = line.first->TakeDiagnostics();
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Contains(lines, "the other end is gone"));
}

TEST(MemoryLine, AChannelTakesAPortThatIsAlreadyMade) {
  TMemoryLinePair line = MakeMemoryLinePair();
  THardware channel(LinkKind::Usb, std::move(line.first));
  const auto out = Bytes({0x18, 0x30});
  EXPECT_EQ(channel.Write(out.data(), 2), 2u);
  EXPECT_EQ(ReadAll(*line.second, 10), out);
  EXPECT_EQ(channel.Kind(), LinkKind::Usb);
  EXPECT_EQ(channel.DevicePath(), "memory line");
}

}  // namespace
}  // namespace ostrel
