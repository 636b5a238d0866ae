// Flash and RAM read-outs against the calculator simulator and a scripted peer.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "base/error.h"
#include "base/text.h"
#include "fxsim/simulator.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"
#include "protocol_fixture.h"
#include "support/scripted_peer.h"

namespace ostrel::testing {
namespace {

const ByteVector kTerminate = {0x18, 0x30, 0x30, 0x30, 0x37, 0x30};

// The data field of a read-out block: its total and number fields, then `bytes` image
// bytes of `fill` (a whole block unless told).
std::string Block(const std::string& fields, char fill, std::size_t bytes = 256) {
  return fields + std::string(bytes, fill);
}

int BlocksReceived(const RecordingUi& ui) {
  int count = 0;
  for (const auto& line : ui.LogLines()) {
    if (line.starts_with("Received ") && line.ends_with(" bytes.")) ++count;
  }
  return count;
}

bool SentTerminate(const fxsim::Simulator& sim) {
  for (const auto& p : sim.ReceivedPackets()) {
    if (p.bytes == kTerminate) return true;
  }
  return false;
}

ByteVector Prefix(const std::vector<std::uint8_t>& bytes, std::size_t size) {
  return ByteVector(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
}

class TransferTest : public ProtocolTest {
 protected:
  // A USB link to the simulator, opened (no session start: the calculator answers at once).
  std::unique_ptr<TFX9860sio> Connect(fxsim::Simulator& sim) { return OpenUsb(sim.StartUsb()); }
};

TEST_F(TransferTest, SmallFlashImageIsCopiedAndTerminated) {
  fxsim::Simulator sim({});
  auto sio = Connect(sim);
  const std::string file = PathIn("flash.bin");

  EXPECT_NE(ReadFlashInto(*sio, file, 0), 0);
  EXPECT_EQ(ReadFileBytes(file), Prefix(sim.Flash(), kFlashImageSmall));
  EXPECT_EQ(sio->BytesWritten(), kFlashImageSmall);
  EXPECT_EQ(sio->ImageSize(), kFlashImageSmall);
  EXPECT_TRUE(SentTerminate(sim));  // the calculator had more to send

  // The request names the storage device in text 5.
  const auto packets = sim.ReceivedPackets();
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets[0].bytes, BytesOf("\x01" "4F1001C" "0000000000000000000004" "00" "fls0" "88"));
  EXPECT_EQ(packets[1].bytes, (ByteVector{0x03, 0x30, 0x30, 0x30, 0x37, 0x30}));

  // Notifications: the maximum once and first, then positions and addresses per block,
  // and "Ready!" at the end.
  const std::regex speed_format("[0-9]+/[0-9]+/[0-9]+/[0-9]+");
  std::vector<std::int64_t> positions, addresses;
  int maxima = 0;
  bool max_first = true;
  std::size_t ready_at = 0, last_progress_at = 0;
  for (std::size_t i = 0; i < ui_.notifications.size(); ++i) {
    const auto& n = ui_.notifications[i];
    switch (n.code) {
      case nfProgressMax:
        ++maxima;
        EXPECT_EQ(n.value, 9984);
        break;
      case nfProgressPos:
        if (maxima == 0) max_first = false;
        positions.push_back(n.value);
        last_progress_at = i;
        break;
      case nfFlashAddress: addresses.push_back(n.value); break;
      case nfStatus:
        EXPECT_EQ(n.text, "Ready!");
        ready_at = i;
        break;
      case nfSpeed: EXPECT_TRUE(std::regex_match(n.text, speed_format)) << n.text; break;
      default: break;
    }
  }
  EXPECT_EQ(maxima, 1);
  EXPECT_TRUE(max_first);
  ASSERT_EQ(positions.size(), 9983u);
  ASSERT_EQ(addresses.size(), positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    ASSERT_EQ(positions[i], static_cast<std::int64_t>(i + 1));
    ASSERT_EQ(addresses[i], static_cast<std::int64_t>((i + 1) * 256));
  }
  EXPECT_GT(ready_at, last_progress_at);
  EXPECT_FALSE(ui_.Texts(nfSpeed).empty());
}

TEST_F(TransferTest, LargeFlashImageIncludesTheStorageMemory) {
  fxsim::Simulator sim({});
  auto sio = Connect(sim);
  const std::string file = PathIn("flash-smem.bin");

  EXPECT_NE(ReadFlashInto(*sio, file, OPT_INCLUDE_SMEM), 0);
  EXPECT_EQ(ReadFileBytes(file), sim.Flash());
  EXPECT_EQ(sio->BytesWritten(), kFlashImageLarge);
  EXPECT_EQ(ui_.Values(nfProgressMax), (std::vector<std::int64_t>{0x4000}));
  EXPECT_EQ(ui_.Texts(nfStatus), (std::vector<std::string>{"Ready!"}));
}

TEST_F(TransferTest, RamImageOverTheSerialLine) {
  fxsim::SimConfig config;
  config.ram = fxsim::GeneratePattern(fxsim::kRamSize, 7);
  config.ram[255] = 0x1F;  // the first block's payload ends in an escaped byte (5C 3F)
  config.ram[511] = 0x5C;  // the second block's in an escaped escape byte (5C 5C)
  fxsim::Simulator sim(config);
  TLinkTarget target;
  target.serial_port = sim.StartSerial();
  target.timings = QuickTimings();
  TFX9860sio sio(LinkKind::Serial, ui_.Ui(), target);
  ASSERT_EQ(sio.FStart(), 0);
  const std::string file = PathIn("ram.RAM");

  EXPECT_NE(ReadRamInto(sio, file), 0);
  sio.FStop();
  const ByteVector image = ReadFileBytes(file);
  EXPECT_EQ(image, sim.Ram());
  ASSERT_EQ(image.size(), kRamImageSize);
  EXPECT_EQ(image[255], 0x1F);
  EXPECT_EQ(image[511], 0x5C);
  EXPECT_EQ(ui_.Values(nfProgressMax), (std::vector<std::int64_t>{0x800}));
  EXPECT_TRUE(ui_.Texts(nfSpeed).empty());  // the RAM read-out shows no speed
  EXPECT_EQ(ui_.Texts(nfStatus), (std::vector<std::string>{"Ready!"}));
  EXPECT_EQ(sim.CurrentBaud(), 9600);
}

TEST_F(TransferTest, BlocksOfAnotherSizeThanTheProtocolsAreRefused) {
  // A calculator whose blocks all carry 255 bytes, numbered as if that were the block
  // size: every image byte after the first block would land at the wrong address.
  ScriptedPeer peer;
  auto sio = OpenUsb(peer.Path());
  const std::size_t payload = 255;
  const std::size_t blocks = kRamImageSize / payload + 1;
  peer.AddReply(MakePacket(kTypeAck, "00"));                     // request
  peer.AddReply(MakePacket(kTypeCommand, "30", "announcement"));  // role swap
  for (std::size_t block = 1; block <= 3; ++block) {
    ByteVector data = BytesOf(IntToHex(blocks, 4) + IntToHex(block, 4));
    const ByteVector escaped = EscapeBytes(ByteVector(payload, static_cast<std::uint8_t>(block)));
    data.insert(data.end(), escaped.begin(), escaped.end());
    peer.AddReply(MakePacket(kTypeData, "30", data));
  }
  const std::string file = PathIn("cut.RAM");

  EXPECT_EQ(ReadRamInto(*sio, file), 0);
  EXPECT_EQ(sio->FailureCause(), "the calculator sent block 1 of " + std::to_string(blocks) +
                                     " with 255 image bytes, where 256 belong; the image would be shifted");
  EXPECT_TRUE(ReadFileBytes(file).empty());
  EXPECT_NE(peer.Packets().back(), kTerminate);
}

// A calculator that loses the end of every block (the simulator's short-blocks fault):
// the read-out ends at the first block, never with an image that looks whole.
TEST_F(TransferTest, EquallyShortBlocksEndTheReadOutAtTheFirstBlock) {
  for (const bool flash : {false, true}) {
    SCOPED_TRACE(flash ? "flash" : "RAM");
    fxsim::SimConfig config;
    config.faults.push_back(fxsim::FaultSpec::Parse("short-blocks:128"));
    fxsim::Simulator sim(config);
    auto sio = Connect(sim);
    const std::string file = PathIn(flash ? "short.bin" : "short.RAM");

    const int result = flash ? ReadFlashInto(*sio, file, 0) : ReadRamInto(*sio, file);

    EXPECT_EQ(result, 0);
    const std::size_t blocks = (flash ? sim.Flash().size() : sim.Ram().size()) / 256;
    EXPECT_EQ(sio->FailureCause(), "the calculator sent block 1 of " + std::to_string(blocks) +
                                       " with 128 image bytes, where 256 belong; the image would be shifted");
    EXPECT_EQ(sio->BytesWritten(), 0u);
    EXPECT_TRUE(ReadFileBytes(file).empty());
    EXPECT_FALSE(SentTerminate(sim));
  }
}

TEST_F(TransferTest, BlocksPastTheImageEndAreTerminated) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("extra-blocks:3"));
  fxsim::Simulator sim(config);
  auto sio = Connect(sim);
  const std::string file = PathIn("extra.RAM");

  EXPECT_NE(ReadRamInto(*sio, file), 0);
  EXPECT_EQ(ReadFileBytes(file), sim.Ram());
  EXPECT_TRUE(SentTerminate(sim));
  EXPECT_EQ(sim.GetCounters().blocks_sent, 0x800u);  // terminated before any extra block
  EXPECT_EQ(ui_.Values(nfProgressMax), (std::vector<std::int64_t>{0x800 + 3}));
}

TEST_F(TransferTest, BlockAfterTheLastAnnouncedOneIsASyncError) {
  fxsim::SimConfig config;
  config.flash = fxsim::GeneratePattern(0x1000, 3);  // 16 blocks, far less than the image
  config.faults.push_back(fxsim::FaultSpec::Parse("no-roleswap"));
  fxsim::Simulator sim(config);
  auto sio = Connect(sim);
  const std::string file = PathIn("sync.bin");

  try {
    ReadFlashInto(*sio, file, 0);
    FAIL() << "no error raised";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Text(), "sync error");
    EXPECT_EQ(e.Cause(), "the calculator sent more than the 16 blocks it announced, and no role swap");
  }
  EXPECT_EQ(ReadFileBytes(file), sim.Flash());  // closed with the 16 blocks
  EXPECT_EQ(sio->BytesWritten(), 0x1000u);
}

TEST_F(TransferTest, RoleSwapFromTheCalculatorEndsAShortImage) {
  fxsim::SimConfig config;
  config.flash = fxsim::GeneratePattern(0x1000, 3);
  fxsim::Simulator sim(config);
  auto sio = Connect(sim);
  const std::string file = PathIn("short.bin");

  EXPECT_NE(ReadFlashInto(*sio, file, 0), 0);
  EXPECT_TRUE(ui_.HasLogLine("Received roleswap!"));
  EXPECT_EQ(ReadFileBytes(file), sim.Flash());
  EXPECT_EQ(sio->BytesWritten(), 0x1000u);
  EXPECT_EQ(sio->ImageSize(), kFlashImageSmall);  // the caller can tell it is incomplete
  EXPECT_EQ(sio->FailureCause(), "the calculator ended the read-out after 4096 of the " +
                                     std::to_string(kFlashImageSmall) + " bytes of a complete image (16 blocks)");
  EXPECT_TRUE(ui_.Texts(nfStatus).empty());
  EXPECT_FALSE(SentTerminate(sim));
}

TEST_F(TransferTest, CancelEndsAfterTheCurrentBlockWithoutTerminate) {
  fxsim::Simulator sim({});
  auto sio = Connect(sim);
  ui_.on_process_messages = [&] {
    if (BlocksReceived(ui_) >= 5) StopRequest() = stopByUser;
  };
  const std::string file = PathIn("cancel.bin");

  EXPECT_NE(ReadFlashInto(*sio, file, 0), 0);
  EXPECT_EQ(ReadFileBytes(file), Prefix(sim.Flash(), 5 * 256));
  EXPECT_EQ(sio->BytesWritten(), 5u * 256);
  EXPECT_FALSE(SentTerminate(sim));
  EXPECT_TRUE(ui_.Texts(nfStatus).empty());
}

TEST_F(TransferTest, RefusedRequestShowsTheBackupHint) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("error:04@request"));
  fxsim::Simulator sim(config);
  auto sio = Connect(sim);
  const std::string file = PathIn("refused.bin");

  EXPECT_EQ(ReadFlashInto(*sio, file, 0), 0);
  ASSERT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(ui_.dialogs[0].text,
            "Error 04: Overwrite impossible/requested file does not exist\r\n"
            "Backup is supported by Link/receive-mode only!");
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  EXPECT_EQ(sim.ReceivedPackets().size(), 1u);  // no role swap after a refusal
}

TEST_F(TransferTest, RoleSwapInsteadOfTheAnnouncementIsShownAndTheTransferGoesOn) {
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse("roleswap-announce"));
  fxsim::Simulator sim(config);
  auto sio = Connect(sim);
  const std::string file = PathIn("announce.RAM");

  EXPECT_NE(ReadRamInto(*sio, file), 0);
  ASSERT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(ui_.dialogs[0].text, "wrong answer on:<01>301 (the calculator sent <03>000)");
  EXPECT_EQ(ReadFileBytes(file), sim.Ram());
}

struct BreakCase {
  const char* fault;
  int block;
};

TEST_F(TransferTest, StallOrDisconnectEndsWithAPartialFile) {
  const BreakCase cases[] = {{"stall@block:100", 100}, {"disconnect@block:50", 50}};
  for (const BreakCase& c : cases) {
    fxsim::SimConfig config;
    config.faults.push_back(fxsim::FaultSpec::Parse(c.fault));
    fxsim::Simulator sim(config);
    auto sio = Connect(sim);
    const std::string file = PathIn(std::string("broken-") + std::to_string(c.block) + ".bin");

    EXPECT_EQ(ReadFlashInto(*sio, file, 0), 0) << c.fault;
    const std::size_t expected = static_cast<std::size_t>(c.block - 1) * 256;
    EXPECT_EQ(sio->BytesWritten(), expected) << c.fault;
    EXPECT_EQ(ReadFileBytes(file), Prefix(sim.Flash(), expected)) << c.fault;
    EXPECT_TRUE(ui_.Texts(nfStatus).empty()) << c.fault;
  }
}

TEST_F(TransferTest, DamagedBlockIsNeverWritten) {
  ScriptedPeer peer;
  auto sio = OpenUsb(peer.Path());
  peer.AddReply(MakePacket(kTypeAck, "00"));
  peer.AddReply(MakePacket(kTypeCommand, "30", "announcement"));
  peer.AddReply(MakePacket(kTypeData, "30", Block("08000001", 'G')));
  peer.AddReply(MakePacket(kTypeData, "30", Block("08000002", 'B'), 1));
  const std::string file = PathIn("damaged.RAM");

  EXPECT_EQ(ReadRamInto(*sio, file), 0);
  EXPECT_TRUE(ui_.HasLogLine("checksum error"));
  EXPECT_EQ(ReadFileBytes(file), BytesOf(Block("", 'G')));
  EXPECT_EQ(sio->BytesWritten(), 256u);
}

TEST_F(TransferTest, AnswerThatIsNotABlockEndsTheReadOut) {
  ScriptedPeer peer;
  auto sio = OpenUsb(peer.Path());
  peer.AddReply(MakePacket(kTypeAck, "00"));
  peer.AddReply(MakePacket(kTypeCommand, "30", "announcement"));
  peer.AddReply(MakePacket(kTypeData, "30", Block("00020001", 'F')));
  peer.AddReply(MakePacket(kTypeAck, "00"));  // not a block
  peer.AddReply(MakePacket(kTypeData, "30", Block("00020002", 'S')));
  peer.AddReply(MakePacket(kTypeRoleswap, "00"));
  const std::string file = PathIn("gap.RAM");

  EXPECT_EQ(ReadRamInto(*sio, file), 0);
  EXPECT_EQ(ReadFileBytes(file), BytesOf(Block("", 'F')));
  EXPECT_EQ(sio->FailureCause(), "the calculator sent <06>000 where data block 2 (<02>301) was expected");
  ASSERT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(ui_.dialogs[0].text, "wrong answer on:<02>301 (the calculator sent <06>000)");
}

// Blocks that are whole and undamaged, yet not the next block of this image.
struct MisplacedBlockCase {
  const char* name;
  std::vector<std::string> blocks;  // data fields of the blocks after block 1 (Block("00030001", 'A'))
  std::string cause;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const MisplacedBlockCase& c, std::ostream* os) { *os << c.name; }

class MisplacedBlockTest : public TransferTest, public ::testing::WithParamInterface<MisplacedBlockCase> {};

TEST_P(MisplacedBlockTest, EndsTheReadOutBeforeTheBlockIsStored) {
  ScriptedPeer peer;
  auto sio = OpenUsb(peer.Path());
  peer.AddReply(MakePacket(kTypeAck, "00"));
  peer.AddReply(MakePacket(kTypeCommand, "30", "announcement"));
  peer.AddReply(MakePacket(kTypeData, "30", Block("00030001", 'A')));
  for (const std::string& block : GetParam().blocks) peer.AddReply(MakePacket(kTypeData, "30", block));
  const std::string file = PathIn("misplaced.RAM");

  EXPECT_EQ(ReadRamInto(*sio, file), 0);
  EXPECT_EQ(sio->FailureCause(), GetParam().cause);
  EXPECT_TRUE(ui_.HasLogLine(GetParam().cause));
  EXPECT_EQ(ReadFileBytes(file), BytesOf(Block("", 'A')));
  EXPECT_EQ(sio->BytesWritten(), 256u);
}

std::string PrintMisplaced(const ::testing::TestParamInfo<MisplacedBlockCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Blocks, MisplacedBlockTest,
    ::testing::Values(
        MisplacedBlockCase{"Repeated", {Block("00030001", 'A')}, "the calculator sent block 1 twice"},
        MisplacedBlockCase{"Skipped", {Block("00030003", 'C')},
                           "the calculator sent block 3 where block 2 was expected"},
        MisplacedBlockCase{"OtherTotal", {Block("00040002", 'B')},
                           "the calculator announced 4 blocks in data block 2, after 3 in the blocks before"},
        MisplacedBlockCase{"NoNumbers", {"0003"}, "the calculator sent data block 2 without valid block numbers"},
        MisplacedBlockCase{"BadNumbers", {Block("0003XY02", 'B')},
                           "the calculator sent data block 2 without valid block numbers"},
        MisplacedBlockCase{"ZeroTotal", {Block("00000002", 'B')},
                           "the calculator announced an image of 0 blocks in data block 2"},
        MisplacedBlockCase{"ShortBlock", {Block("00030002", 'B', 2)},
                           "the calculator sent block 2 of 3 with 2 image bytes, where 256 belong; the image "
                           "would be shifted"},
        MisplacedBlockCase{"LongBlock", {Block("00030002", 'B', 257)},
                           "the calculator sent block 2 of 3 with 257 image bytes, where 256 belong; the image "
                           "would be shifted"}),
    PrintMisplaced);

TEST_F(TransferTest, FlashBlockInARamReadOutIsNotStored) {
  ScriptedPeer peer;
  auto sio = OpenUsb(peer.Path());
  peer.AddReply(MakePacket(kTypeAck, "00"));
  peer.AddReply(MakePacket(kTypeCommand, "30", "announcement"));
  peer.AddReply(MakePacket(kTypeData, "50", "00020001" "FLASH"));

  EXPECT_EQ(ReadRamInto(*sio, PathIn("kind.RAM")), 0);
  EXPECT_EQ(sio->FailureCause(), "the calculator sent <02>501 where data block 1 (<02>301) was expected");
  EXPECT_TRUE(ReadFileBytes(PathIn("kind.RAM")).empty());
}

// The simulator's out-of-order faults: the read-out ends at the fault, holding exactly
// the blocks before it, and never terminates as if the image were complete.
struct OutOfOrderCase {
  const char* name;
  const char* fault;
  bool flash;
  std::string cause;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const OutOfOrderCase& c, std::ostream* os) { *os << c.name; }

class OutOfOrderTest : public TransferTest, public ::testing::WithParamInterface<OutOfOrderCase> {};

TEST_P(OutOfOrderTest, ReadOutFailsHoldingTheBlocksBeforeTheFault) {
  const OutOfOrderCase& c = GetParam();
  fxsim::SimConfig config;
  config.faults.push_back(fxsim::FaultSpec::Parse(c.fault));
  fxsim::Simulator sim(config);
  auto sio = Connect(sim);
  const std::string file = PathIn("order.bin");

  const int result = c.flash ? ReadFlashInto(*sio, file, 0) : ReadRamInto(*sio, file);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(sio->FailureCause(), c.cause);
  EXPECT_EQ(sio->BytesWritten(), 6u * 256);
  EXPECT_EQ(ReadFileBytes(file), Prefix(c.flash ? sim.Flash() : sim.Ram(), 6 * 256));
  EXPECT_FALSE(SentTerminate(sim));
  EXPECT_TRUE(ui_.Texts(nfStatus).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OutOfOrderTest,
    ::testing::Values(
        OutOfOrderCase{"RepeatedFlashBlock", "repeat-block@block:6", true, "the calculator sent block 6 twice"},
        OutOfOrderCase{"SwappedFlashBlocks", "swap-blocks@block:7", true,
                       "the calculator sent block 8 where block 7 was expected"},
        OutOfOrderCase{"ForeignPacketInRam", "foreign-packet@block:7", false,
                       "the calculator sent <06>021 where data block 7 (<02>301) was expected"},
        OutOfOrderCase{"RepeatedRamBlock", "repeat-block@block:6", false, "the calculator sent block 6 twice"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrel::testing
