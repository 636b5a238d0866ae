// TFX9860sio: uploading a program into the calculator's RAM and starting it, and the
// commands of the uploaded recovery program.

#include <algorithm>
#include <charconv>
#include <memory>

#include "base/big_endian.h"
#include "base/error.h"
#include "base/files.h"
#include "protocol/fx9860sio.h"
#include "protocol/message_wait.h"
#include "protocol/packet_codec.h"
#include "protocol/program_file.h"

namespace ostrel {

namespace {

constexpr std::size_t kProgramHeaderSize = 48;
constexpr std::size_t kLoadAddressOffset = 36;
constexpr std::size_t kStartAddressOffset = 40;
constexpr std::size_t kRunParameterOffset = 32;
constexpr std::size_t kUploadBlockSize = 256;
constexpr std::string_view kDefaultAddress = "88030000";

const std::string kPlainAck = AnswerHeader(kTypeAck, "00", '0');

// The run parameter as a 32-bit word: a decimal number, or all bits set for any other text.
std::uint32_t RunParameterWord(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return 0xFFFFFFFF;
  return static_cast<std::uint32_t>(value);
}

std::string AddressOrDefault(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos ? std::string(kDefaultAddress) : text;
}

}  // namespace

int TFX9860sio::FXUploadAndRun(const std::string& program_file, const std::string& run_parameter) {
  Report("start...");
  const TAnswer contact = ExchangeControl(kTypeCheck);
  if (!contact.Is(kPlainAck)) CheckAnswer(contact, AnswerHeader(kTypeError, "04", '0'), true);
  TImageAddresses addresses;
  if (!ReadImageAddresses(program_file, addresses)) return -1;
  UploadImage(addresses, program_file, run_parameter);
  return 0;
}

bool TFX9860sio::ReadImageAddresses(const std::string& file_name, TImageAddresses& addresses) {
  addresses = {};
  const std::unique_ptr<TBaseFile> file = OpenProgramFile(file_name);
  if (!file) return false;
  std::array<std::uint8_t, kProgramHeaderSize> header{};
  std::size_t got = 0;
  if (!file->ReadBlock(header.data(), header.size(), got)) return false;
  if (got == header.size()) {
    addresses.load_address = HexDigits(ReadBigEndianWord(&header[kLoadAddressOffset]), 8);
    addresses.start_address = HexDigits(ReadBigEndianWord(&header[kStartAddressOffset]), 8);
  }
  file->Close();
  return true;
}

int TFX9860sio::UploadImage(const TImageAddresses& addresses, const std::string& file_name,
                            const std::string& run_parameter) {
  upload_accepted_ = false;
  const std::unique_ptr<TBaseFile> file = OpenProgramFile(file_name);
  if (!file) throw IoError("Cannot open " + file_name);
  Report("File opened: " + file_name);
  const std::uint64_t size = file->Size();
  if (size < 1) throw Error("filesize 0:" + file_name);
  if (size > 0xFFFFFFFFu) throw Error("filesize too large:" + file_name);
  const std::uint64_t blocks = (size + kUploadBlockSize - 1) / kUploadBlockSize;
  Report("File transfer start...");
  failure_cause_.clear();  // a cause from before the upload is none of its own

  const std::string command = HexDigits(static_cast<std::uint32_t>(size), 8) +
                              AddressOrDefault(addresses.load_address) + AddressOrDefault(addresses.start_address);
  TAnswer answer = Exchange("56", std::span(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()),
                            kTypeCommand, true, false);
  CheckAnswer(answer, kPlainAck, true);
  int result = answer.Code();
  if (result == kOverwriteAsked) {
    answer = Exchange("01", {}, kTypeAck, false, false);  // yes, overwrite
    result = answer.Code();
  }
  bool accepted = answer.Is(kPlainAck);
  // Why the upload failed: the first answer that was not an acknowledgement.
  std::string refusal;
  upload_refusal_code_.clear();
  const auto note_refusal = [&](const TAnswer& refused) {
    if (!refusal.empty()) return;
    if (refused.Type() == kTypeError) {
      upload_refusal_code_.assign(reinterpret_cast<const char*>(&refused.header[1]), 2);
    }
    refusal = !failure_cause_.empty() ? failure_cause_
                                      : "the calculator refused " + last_sent_ + ": it sent " + ReadableBytes(refused.header);
  };
  if (!accepted) note_refusal(answer);

  const std::uint32_t parameter = RunParameterWord(run_parameter);
  std::array<std::uint8_t, kUploadBlockSize> block{};
  for (std::uint64_t number = 1; number <= blocks; ++number) {
    Report("File transfer block: " + std::to_string(number) + " from " + std::to_string(blocks));
    if (number == 1) ui_.Notify(nfProgressMax, static_cast<std::int64_t>(blocks));
    ui_.Notify(nfProgressPos, static_cast<std::int64_t>(number));
    ui_.ProcessMessages();
    std::size_t got = 0;
    if (!file->ReadBlock(block.data(), block.size(), got) || got == 0) {
      throw IoError("Cannot read " + file_name);
    }
    if (number == 1) {
      std::array<std::uint8_t, 4> word{};
      WriteBigEndianWord(word.data(), parameter);
      for (std::size_t i = 0; i < word.size() && kRunParameterOffset + i < got; ++i) {
        block[kRunParameterOffset + i] = word[i];
      }
    }
    std::vector<std::uint8_t> field;
    const std::string numbers = HexDigits(static_cast<std::uint32_t>(blocks), 4) +
                                HexDigits(static_cast<std::uint32_t>(number), 4);
    field.assign(numbers.begin(), numbers.end());
    field.insert(field.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
    // The block numbers are hex digits, which escaping leaves as they are.
    const TAnswer block_answer = Exchange("56", field, kTypeData, false, true);
    if (!block_answer.Is(kPlainAck)) {
      note_refusal(block_answer);
      accepted = false;
    }
    transferred_total_ += EscapeData(std::span(block.data(), got)).size() + 8;
    if (result == kNoAnswer) break;
    // A block without a usable answer fails the upload; the calculator is gone or stuck, and
    // each further block would only wait out the time-out again.
    if (block_answer.kind == TAnswerKind::None) {
      Report("no answer to block " + std::to_string(number) + " of " + std::to_string(blocks) + ": upload stopped");
      break;
    }
  }
  file->Close();
  upload_accepted_ = accepted;
  if (!accepted) failure_cause_ = refusal;
  return result;
}

TAnswer TFX9860sio::SendExtended(TExtendedCommand command, std::span<const std::uint8_t> data) {
  return Exchange(ExtendedCommandSubtype(command), data, kTypeCommand, false, true);
}

TOsBiosQuery TFX9860sio::QueryOsBios(TOsBiosRecord& record) {
  const TAnswer acknowledge = SendExtended(TExtendedCommand::OsBios);
  if (acknowledge.kind == TAnswerKind::None) return TOsBiosQuery::NoAnswer;
  const TAnswer answer = AwaitAnswer();
  if (!CheckAnswer(answer, AnswerHeader(kTypeData, "76", '1'), true)) return TOsBiosQuery::Failed;
  record = ParseOsBiosRecord(UnescapeData(answer.data));
  return TOsBiosQuery::Received;
}

}  // namespace ostrel
