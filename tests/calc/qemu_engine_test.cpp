// The command engine compiled for the calculator (big-endian SuperH, the image's flags)
// and run under qemu-sh4eb as a Linux user program: link on its standard input and output,
// flash in a file with NOR rules. A PC-side script drives it with packets built by the
// tests' own packet code, through recoveries with faults, and checks the flash file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "calc/qemu_engine.h"
#include "support/scripted_peer.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel::testing {
namespace {

constexpr std::uint32_t kFlashSize = 0x200000;  // an fx-7400GII's chip: quick to rewrite
constexpr std::uint32_t kFlash = 0xA0000000;
constexpr std::uint32_t kSector = 0x10000;
constexpr std::uint32_t kStaging = 0x88030000;
constexpr int kExitBios = QemuEngine::kExitBios, kExitReboot = QemuEngine::kExitReboot,
              kExitLinkClosed = QemuEngine::kExitLinkClosed;

ByteVector Words(std::initializer_list<std::uint32_t> words) {
  ByteVector bytes;
  for (std::uint32_t w : words)
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(w >> shift));
  return bytes;
}

ByteVector Command(const char* subtype, const ByteVector& raw = {}) {
  return MakePacket(0x01, subtype, EscapeBytes(raw));
}

const ByteVector kAck = MakePacket(0x06, "00");
ByteVector ErrorAnswer(const char* code) { return MakePacket(0x15, code); }

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

class CalcQemuEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QemuEngineAvailable()) GTEST_SKIP() << "no SuperH cross tools or qemu-sh4eb in this build";
    old_flash_ = Pattern(kFlashSize, 1);
    // Sector 0: a known fx-7400GII boot code (date, calculator ID, checksum).
    old_flash_.replace(0xFFB0, 14, "2009.0327.1515");
    old_flash_.replace(0xFFD0, 8, "\x12\x34\x56\x78\x9A\xBC\xDE\xF0", 8);
    old_flash_.replace(0xFFFC, 4, "\x00\x69\x02\xBC", 4);
    image_ = Pattern(kFlashSize, 2);
    flash_path_ = WriteFileText(folder_ / "flash.bin", old_flash_);
  }

  std::string Flash() const { return ReadFileText(flash_path_); }

  // Erases sectors first..last and answers each; false at the first other answer.
  static void Erase(QemuEngine& engine, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t s = first; s <= last; ++s)
      ASSERT_EQ(engine.Exchange(Command("72", Words({kFlash + s * kSector}))), kAck) << "sector " << s;
  }

  // Stages one block of the image (1020 bytes per packet) and writes it.
  void WriteBlock(QemuEngine& engine, std::uint32_t sector) {
    for (std::uint32_t done = 0; done < kSector;) {
      const std::uint32_t chunk = std::min<std::uint32_t>(1020, kSector - done);
      ByteVector data = Words({kStaging + done, chunk});
      data.insert(data.end(), image_.begin() + sector * kSector + done, image_.begin() + sector * kSector + done + chunk);
      ASSERT_EQ(engine.Exchange(Command("70", data)), kAck);
      done += chunk;
    }
    ASSERT_EQ(engine.Exchange(Command("71", Words({kFlash + sector * kSector, kSector, kStaging}))), kAck);
  }

  TemporaryFolder folder_;
  std::string old_flash_, image_, flash_path_;
};

TEST_F(CalcQemuEngine, ARecoveryRewritesEverySectorButSectorZero) {
  QemuEngine engine(flash_path_);
  ASSERT_EQ(engine.Exchange(Command("7A", Words({160}))), kAck);
  // The query: acknowledge, then the record as a data packet.
  ASSERT_EQ(engine.Exchange(Command("76")), kAck);
  const ByteVector packet = engine.ReceivePacket();
  ASSERT_GE(packet.size(), 10u);
  EXPECT_EQ(ByteVector(packet.begin(), packet.begin() + 4), BytesOf("\x02" "761"));
  ByteVector record;  // unescaped
  for (auto p = packet.begin() + 8; p < packet.end() - 2; ++p)
    record.push_back(*p == 0x5C ? (*++p == 0x5C ? 0x5C : static_cast<std::uint8_t>(*p - 0x20)) : *p);
  ASSERT_EQ(record.size(), 44u);
  EXPECT_EQ(ByteVector(record.begin(), record.begin() + 4), Words({0x00000005}));  // caller BIOS, type 5
  EXPECT_EQ(ByteVector(record.begin() + 16, record.begin() + 24), BytesOf("\x12\x34\x56\x78\x9A\xBC\xDE\xF0"));
  EXPECT_EQ(ByteVector(record.begin() + 24, record.end()), Words({kFlashSize, 0x7E0A00, 0x01, 0, 0}));
  Erase(engine, 1, kFlashSize / kSector - 1);
  for (std::uint32_t s = 2; s < kFlashSize / kSector; ++s) WriteBlock(engine, s);
  WriteBlock(engine, 1);
  engine.Send(Command("79"));
  EXPECT_EQ(engine.ExitStatus(), kExitReboot);
  const std::string flash = Flash();
  EXPECT_EQ(flash.substr(0, kSector), old_flash_.substr(0, kSector));
  EXPECT_TRUE(flash.substr(kSector) == image_.substr(kSector)) << "flash differs from the image";
}

TEST_F(CalcQemuEngine, RefusesSectorZeroAndAddressesOutsideTheChipOrStagingArea) {
  QemuEngine engine(flash_path_);
  for (const ByteVector& packet :
       {Command("72", Words({kFlash})), Command("72", Words({kFlash + kFlashSize})),
        Command("71", Words({kFlash, kSector, kStaging})),
        Command("71", Words({kFlash + kFlashSize - kSector / 2, kSector, kStaging})),
        Command("71", Words({kFlash + kSector, kSector, kStaging + 2})),
        Command("70", Words({0x88024000, 1, 0}))})
    EXPECT_EQ(engine.Exchange(packet), ErrorAnswer("04"));
  engine.Send(Command("78"));
  EXPECT_EQ(engine.ReceivePacket(), kAck);
  EXPECT_EQ(engine.ExitStatus(), kExitReboot);
  EXPECT_TRUE(Flash() == old_flash_);
}

TEST_F(CalcQemuEngine, ADamagedPacketIsAskedForAgainAndAWriteWithoutEraseFails) {
  QemuEngine engine(flash_path_);
  EXPECT_EQ(engine.Exchange(MakePacket(0x01, "72", EscapeBytes(Words({kFlash + kSector})), 1)), ErrorAnswer("01"));
  EXPECT_EQ(engine.Exchange(Command("72", Words({kFlash + kSector}))), kAck);
  // Sector 2 still holds its old contents: the read-back compare catches the write.
  ByteVector stage = Words({kStaging, 4});
  for (std::uint8_t b : {0xFF, 0x00, 0x5C, 0x1F}) stage.push_back(b);
  ASSERT_EQ(engine.Exchange(Command("70", stage)), kAck);
  EXPECT_EQ(engine.Exchange(Command("71", Words({kFlash + 2 * kSector, kSector, kStaging}))), ErrorAnswer("00"));
  engine.Send(Command("77"));
  EXPECT_TRUE(engine.Silent());
  EXPECT_EQ(engine.ExitStatus(), kExitBios);
  const std::string flash = Flash();
  EXPECT_EQ(flash.substr(0, kSector), old_flash_.substr(0, kSector));
  EXPECT_EQ(flash.substr(kSector, kSector), std::string(kSector, '\xFF'));
}

TEST_F(CalcQemuEngine, APcThatGoesAwayMidBlockLeavesSectorZeroAndTheHeaderBlockAlone) {
  QemuEngine engine(flash_path_);
  Erase(engine, 1, 3);
  WriteBlock(engine, 2);
  // Half of block 3 staged, then the cable is pulled in the middle of a packet.
  ByteVector data = Words({kStaging, 1020});
  data.insert(data.end(), image_.begin() + 3 * kSector, image_.begin() + 3 * kSector + 1020);
  const ByteVector packet = Command("70", data);
  engine.Send(ByteVector(packet.begin(), packet.begin() + packet.size() / 2));
  engine.Disconnect();
  EXPECT_EQ(engine.ExitStatus(), kExitLinkClosed);
  const std::string flash = Flash();
  EXPECT_EQ(flash.substr(0, kSector), old_flash_.substr(0, kSector));
  EXPECT_EQ(flash.substr(kSector, kSector), std::string(kSector, '\xFF'));  // block 1 never written
  EXPECT_TRUE(flash.substr(2 * kSector, kSector) == image_.substr(2 * kSector, kSector));
  EXPECT_EQ(flash.substr(4 * kSector), old_flash_.substr(4 * kSector));
}

}  // namespace
}  // namespace ostrel::testing
