// Upload-and-run and the commands of the uploaded program, against a scripted peer.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "base/error.h"
#include "base/files.h"
#include "protocol/fx9860sio.h"
#include "protocol/packet_codec.h"
#include "protocol/program_file.h"
#include "protocol_fixture.h"
#include "support/scripted_peer.h"

namespace ostrel::testing {
namespace {

const ByteVector kAck = MakePacket(kTypeAck, "00");

// A program image: `size` bytes counting up, load and start address in the header.
ByteVector ProgramBytes(std::size_t size, std::uint32_t load = 0x88024000, std::uint32_t start = 0x88024000) {
  ByteVector bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  if (size >= 48) {
    for (int k = 0; k < 4; ++k) {
      bytes[36 + k] = static_cast<std::uint8_t>(load >> (24 - 8 * k));
      bytes[40 + k] = static_cast<std::uint8_t>(start >> (24 - 8 * k));
    }
  }
  return bytes;
}

// The data field of a packet the PC sent (after type, subtype, flag and size).
ByteVector DataOf(const ByteVector& packet) { return ByteVector(packet.begin() + 8, packet.end() - 2); }
// The image bytes of an upload block, unescaped.
ByteVector BlockPayload(const ByteVector& packet) {
  const ByteVector data = DataOf(packet);
  return UnescapeData(std::span<const std::uint8_t>(data).subspan(8));
}

class UploadTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    sio_ = OpenUsb(peer_.Path());
  }
  std::string WriteProgram(const std::string& name, const ByteVector& bytes) {
    const std::string path = PathIn(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Replies for the check, the upload command and `blocks` blocks.
  void AcknowledgeAll(std::size_t blocks) {
    for (std::size_t i = 0; i < blocks + 2; ++i) peer_.AddReply(kAck);
  }

  ScriptedPeer peer_;
  std::unique_ptr<TFX9860sio> sio_;
};

TEST_F(UploadTest, ProgramGoesAsCommandAndBlocksWithTheRunParameterAtOffset32) {
  const ByteVector program = ProgramBytes(10240);
  const std::string path = WriteProgram("p.bin", program);
  AcknowledgeAll(40);
  EXPECT_EQ(sio_->FXUploadAndRun(path, "0"), 0);
  ASSERT_TRUE(peer_.WaitForPackets(42, std::chrono::seconds(5)));
  const auto packets = peer_.Packets();
  ASSERT_EQ(packets.size(), 42u);
  EXPECT_EQ(packets[0], BytesOf("\x05" "00070"));
  EXPECT_EQ(packets[1], MakePacket(kTypeCommand, "56", "000028008802400088024000"));
  // The command is followed by a 0x00 that no checksum covers.
  const ByteVector bytes = peer_.Bytes();
  EXPECT_EQ(bytes[6 + packets[1].size()], 0x00);

  ByteVector sent;
  for (std::size_t block = 1; block <= 40; ++block) {
    const ByteVector& packet = packets[block + 1];
    ASSERT_EQ(packet[0], kTypeData);
    const ByteVector data = DataOf(packet);
    char numbers[9];
    std::snprintf(numbers, sizeof numbers, "0028%04zX", block);
    EXPECT_EQ(ByteVector(data.begin(), data.begin() + 8), BytesOf(numbers)) << block;
    if (block == 1) {
      // Four 0x00 bytes at offset 32, escaped.
      const auto at = static_cast<std::ptrdiff_t>(8 + EscapeBytes(std::span(program).first(32)).size());
      EXPECT_EQ(ByteVector(data.begin() + at, data.begin() + at + 8),
                (ByteVector{0x5C, 0x20, 0x5C, 0x20, 0x5C, 0x20, 0x5C, 0x20}));
    }
    const ByteVector payload = BlockPayload(packet);
    EXPECT_EQ(payload.size(), 256u);
    sent.insert(sent.end(), payload.begin(), payload.end());
  }
  ByteVector expected = program;
  std::fill_n(expected.begin() + 32, 4, 0x00);
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(ui_.Values(nfProgressMax), (std::vector<std::int64_t>{40}));
  EXPECT_TRUE(sio_->UploadAccepted());
}

TEST_F(UploadTest, BlockCountAddressesAndRunParameter) {
  struct Case {
    const char* name;
    std::size_t size;
    std::string run_parameter;
    std::size_t blocks;
    std::string command;
    ByteVector word_at_32;  // unescaped
  };
  const Case cases[] = {
      {"257 bytes: a last block of 1 byte", 257, "0", 2, "000001018802400088024000", {0, 0, 0, 0}},
      {"40 bytes: no header, default addresses", 40, "0", 1, "000000288803000088030000", {0, 0, 0, 0}},
      {"run parameter 258", 300, "258", 2, "0000012C8802400088024000", {0, 0, 1, 2}},
      {"run parameter not a number", 300, "x1", 2, "0000012C8802400088024000", {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer;
    auto sio = OpenUsb(peer.Path());
    const std::string path = WriteProgram("p.bin", ProgramBytes(c.size));
    for (std::size_t i = 0; i < c.blocks + 2; ++i) peer.AddReply(kAck);
    EXPECT_EQ(sio->FXUploadAndRun(path, c.run_parameter), 0) << c.name;
    ASSERT_TRUE(peer.WaitForPackets(c.blocks + 2, std::chrono::seconds(5))) << c.name;
    const auto packets = peer.Packets();
    ASSERT_EQ(packets.size(), c.blocks + 2) << c.name;
    EXPECT_EQ(DataOf(packets[1]), BytesOf(c.command)) << c.name;
    const ByteVector first = BlockPayload(packets[2]);
    EXPECT_EQ(ByteVector(first.begin() + 32, first.begin() + 36), c.word_at_32) << c.name;
    const ByteVector last = BlockPayload(packets.back());
    EXPECT_EQ(last.size(), c.size - (c.blocks - 1) * 256) << c.name;
  }
}

TEST_F(UploadTest, UnreadableProgramSendsNothingButTheCheck) {
  peer_.AddReply(kAck);
  EXPECT_EQ(sio_->FXUploadAndRun(PathIn("missing.bin"), "0"), -1);
  EXPECT_EQ(sio_->FXUploadAndRun(folder_.Path(), "0"), -1);  // a folder
  peer_.AddReply(kAck);
  ASSERT_TRUE(peer_.WaitForPackets(2, std::chrono::seconds(5)));
  for (const auto& packet : peer_.Packets()) EXPECT_EQ(packet[0], kTypeCheck);
}

TEST_F(UploadTest, EmptyProgramRaisesFilesize0) {
  const std::string path = WriteProgram("empty.bin", {});
  peer_.AddReply(kAck);
  try {
    sio_->FXUploadAndRun(path, "0");
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "filesize 0:" + path);
  }
}

TEST_F(UploadTest, RefusedUploadCommandSendsOnlyTheFirstBlock) {
  const std::string path = WriteProgram("p.bin", ProgramBytes(1024));
  peer_.AddReply(kAck);
  peer_.AddReply(MakePacket(kTypeError, "05"));
  peer_.AddReply(kAck);
  EXPECT_EQ(sio_->FXUploadAndRun(path, "0"), 0);
  ASSERT_TRUE(peer_.WaitForPackets(3, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(peer_.Packets().size(), 3u);
  EXPECT_FALSE(sio_->UploadAccepted());
  EXPECT_EQ(ui_.BoxTexts(), (std::vector<std::string>{"Error 05: Memory is full"}));
}

// A block that gets no answer ends the upload there: the rest would each wait out the
// time-out (minutes for a large program) and could not make the upload succeed.
TEST_F(UploadTest, UnansweredBlockEndsTheUpload) {
  const std::string path = WriteProgram("p.bin", ProgramBytes(2560));
  AcknowledgeAll(3);  // the check, the command and blocks 1 to 3; then silence
  EXPECT_EQ(sio_->FXUploadAndRun(path, "0"), 0);
  ASSERT_TRUE(peer_.WaitForPackets(6, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(peer_.Packets().size(), 6u);
  EXPECT_FALSE(sio_->UploadAccepted());
}

TEST_F(UploadTest, OverwriteQuestionIsAnsweredYes) {
  const std::string path = WriteProgram("p.bin", ProgramBytes(100));
  peer_.AddReply(MakePacket(kTypeError, "02"));
  peer_.AddReply(kAck);
  peer_.AddReply(kAck);
  EXPECT_EQ(sio_->UploadImage({"88024000", "88024000"}, path, "0"), kAcknowledged);
  ASSERT_TRUE(peer_.WaitForPackets(3, std::chrono::seconds(5)));
  EXPECT_EQ(peer_.Packets()[1], MakePacket(kTypeAck, "01"));
}

TEST_F(UploadTest, BuiltInProgramOfThisBuild) {
  // The test build carries no program: the name cannot be opened, and nothing is made up.
  TImageAddresses addresses;
  if (BuiltInProgramRecord().empty()) {
    EXPECT_FALSE(sio_->ReadImageAddresses(std::string(kBuiltInProgramName), addresses));
    EXPECT_EQ(OpenProgramFile(std::string(kBuiltInProgramName)), nullptr);
  } else {
    EXPECT_TRUE(sio_->ReadImageAddresses(std::string(kBuiltInProgramName), addresses));
    EXPECT_EQ(addresses.load_address, "88024000");
  }
}

TEST_F(UploadTest, MemoryProgramIsCheckedAndRead) {
  const ByteVector program = ProgramBytes(300, 0x88024000, 0x88024010);
  const TMemoryRecord record = TMemoryRecord::Build(20120219, 102922, program);
  auto file = OpenMemoryProgram(record.Stored());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 300u);

  ByteVector damaged(record.Stored().begin(), record.Stored().end());
  damaged.back() ^= 1;
  try {
    OpenMemoryProgram(damaged);
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(e.Text(), "BASE_00.TMemoryFile.Create:checksum");
  }
}

TEST_F(UploadTest, OsBiosQueryParsesTheRecord) {
  ByteVector record(46, 0);  // two bytes more than the record: dropped
  record[1] = 1;                     // caller code 1
  record[3] = 5;                     // BIOS type 5
  for (int i = 0; i < 8; ++i) record[16 + i] = static_cast<std::uint8_t>('A' + i);
  record[29] = 0x7E; record[30] = 0x0A;  // flash device 0x007E0A00
  record[35] = 1;                        // manufacturer 1
  record[36] = 0x10; record[37] = 0x30; record[38] = 0x0B;  // PVR 0x10300B00
  record[42] = 0x2C;                     // PRR 0x2C00
  // The record packet comes right behind the acknowledge.
  ByteVector reply = kAck;
  const ByteVector record_packet = MakePacket(kTypeData, "76", EscapeBytes(record));
  reply.insert(reply.end(), record_packet.begin(), record_packet.end());
  peer_.AddReply(reply);
  TOsBiosRecord parsed;
  EXPECT_EQ(sio_->QueryOsBios(parsed), TOsBiosQuery::Received);
  EXPECT_EQ(parsed.caller_code, 1);
  EXPECT_EQ(parsed.bios_type, 5);
  EXPECT_EQ(std::string(parsed.bios_id.begin(), parsed.bios_id.end()), "ABCDEFGH");
  EXPECT_EQ(parsed.flash_device, 0x7E0A00u);
  EXPECT_EQ(parsed.flash_manufacturer, 1u);
  EXPECT_EQ(parsed.processor_version, 0x10300B00u);
  EXPECT_EQ(parsed.product, 0x2C00u);
  ASSERT_TRUE(peer_.WaitForPackets(1, std::chrono::seconds(5)));
  EXPECT_EQ(peer_.Packets()[0], MakePacket(kTypeCommand, "76"));
}

TEST_F(UploadTest, OsBiosQueryWithoutAnswerOrRecord) {
  TOsBiosRecord parsed;
  peer_.AddReply({});
  EXPECT_EQ(sio_->QueryOsBios(parsed), TOsBiosQuery::NoAnswer);
  peer_.AddReply(kAck);
  EXPECT_EQ(sio_->QueryOsBios(parsed), TOsBiosQuery::Failed);
  EXPECT_EQ(ui_.BoxTexts(), (std::vector<std::string>{"wrong answer on:<02>761 (no answer from the calculator "
                                                      "within 1500 ms to the OS/BIOS query)"}));
}

TEST_F(UploadTest, ExtendedCommandsCarryBigEndianEscapedData) {
  peer_.AddReply(kAck);
  EXPECT_TRUE(sio_->SendExtended(TExtendedCommand::EraseSector, BigEndianWords({0xA0010000})).Is("\x06" "000"));
  peer_.AddReply(kAck);  // would answer the next packet: "79" does not wait for it
  EXPECT_EQ(sio_->SendExtended(TExtendedCommand::Reboot).kind, TAnswerKind::None);
  EXPECT_EQ(sio_->ReceiveAnswer(), kAcknowledged);
  ASSERT_TRUE(peer_.WaitForPackets(2, std::chrono::seconds(5)));
  const ByteVector raw = {0xA0, 0x01, 0x00, 0x00};
  EXPECT_EQ(peer_.Packets()[0], MakePacket(kTypeCommand, "72", EscapeBytes(raw)));
  EXPECT_EQ(peer_.Packets()[1], MakePacket(kTypeCommand, "79"));
  EXPECT_EQ(ExtendedCommandName(TExtendedCommand::LcdContrast), "fxEXcmdLCD_CONTRAST");
  EXPECT_EQ(ExtendedCommandSubtype(TExtendedCommand::LcdContrast), "7A");
}

}  // namespace
}  // namespace ostrel::testing
