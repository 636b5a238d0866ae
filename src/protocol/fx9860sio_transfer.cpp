// TFX9860sio: reading the calculator's flash or RAM into an image file.
//
// The PC asks for the image, hands the sending role to the calculator with a role swap
// and then acknowledges block after block; each acknowledge is answered by the next
// block. The transfer ends when the image is complete (the PC terminates), when the
// calculator swaps the roles back, on a missing or damaged answer, or on a stop request.

#include <algorithm>

#include "base/error.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"
#include "protocol/image_file.h"
#include "protocol/packet_codec.h"

namespace ostrel {

struct TFX9860sio::ImageRequest {
  bool flash;
  std::uint32_t size;
  std::string_view request_subtype;  // "4F" flash, "2F" RAM
  std::string_view block_subtype;    // "50" flash, "30" RAM
  std::string_view request_text;
};

struct TFX9860sio::TransferProgress {
  using Clock = std::chrono::steady_clock;
  Clock::time_point start;
  long total_blocks = -1;  // unknown until the first block arrived
  long current_block = 0;
  bool maximum_sent = false;
  std::uint64_t line_total = 0;  // bytes taken from the line since the first block
  Clock::duration write_time{};  // spent writing the file
  std::uint64_t last_block_speed = 0;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlockFieldsLength = 8;  // total blocks, block number: 4 hex digits each
constexpr std::size_t kImageBlockSize = 256;   // image bytes in every data block but the last

// Every block but the last carries the full block size, the last one at least a byte: a
// block cut short or padded would shift every later byte of the image.
std::optional<std::string> PayloadSizeProblem(long number, long total, std::size_t size) {
  const bool last = number == total;
  if (last ? size > 0 && size <= kImageBlockSize : size == kImageBlockSize) return std::nullopt;
  return "the calculator sent block " + std::to_string(number) + " of " + std::to_string(total) + " with " +
         std::to_string(size) + " image bytes, where " +
         (last ? "1 to " + std::to_string(kImageBlockSize) : std::to_string(kImageBlockSize)) +
         " belong; the image would be shifted";
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::uint64_t PerSecond(double amount, double seconds) {
  return seconds > 0 ? static_cast<std::uint64_t>(amount / seconds) : 0;
}

}  // namespace

int TFX9860sio::ReceiveFlashImage(const std::string& device, const std::string& file_name, std::uint16_t flags) {
  return ReceiveFlashImage(device, file_name, flags, std::nullopt);
}

int TFX9860sio::ReceiveFlashImage(const std::string& device, const std::string& file_name, std::uint16_t flags,
                                  std::optional<std::uint32_t> flash_size) {
  std::uint32_t size = (flags & OPT_INCLUDE_SMEM) ? kFlashImageLarge : kFlashImageSmall;
  // A 2 MiB flash (an fx-7400GII) holds less than either size: its image is the whole flash.
  // A capacity below the smallest flash image is no flash this protocol serves; the
  // selected size then stands, and the read-out says where the calculator ended.
  if (flash_size && *flash_size >= kFlashImageMinimum && *flash_size < size) size = *flash_size;
  return ReceiveImage({true, size, "4F", "50", "Flash transfer request..."}, device, file_name);
}

int TFX9860sio::ReceiveRamImage(const std::string& device, const std::string& file_name) {
  return ReceiveImage({false, kRamImageSize, "2F", "30", "RAM transfer request..."}, device, file_name);
}

// Progress, address and (flash) the speed line "written/payload/line/last block", once the
// total number of blocks is known.
void TFX9860sio::PostTransferProgress(const ImageRequest& request, TransferProgress& progress) {
  if (progress.total_blocks <= 0) return;
  const auto now = Clock::now();
  if (!progress.maximum_sent) {
    const long maximum =
        request.flash ? std::min<long>(request.size / 256, progress.total_blocks) : progress.total_blocks;
    ui_.Notify(nfProgressMax, maximum);
    progress.maximum_sent = true;
  }
  ui_.Notify(nfProgressPos, progress.current_block);
  ui_.Notify(nfFlashAddress, static_cast<std::int64_t>(bytes_written_));
  progress.line_total += TakeReceivedCount();
  const double elapsed = Seconds(now - progress.start);
  if (request.flash && elapsed > 0) {
    const double line_seconds = elapsed - Seconds(progress.write_time);
    ui_.Notify(nfSpeed, std::to_string(PerSecond(static_cast<double>(bytes_written_), elapsed)) + "/" +
                            std::to_string(PerSecond(static_cast<double>(transferred_total_), elapsed)) + "/" +
                            std::to_string(PerSecond(static_cast<double>(progress.line_total), line_seconds)) +
                            "/" + std::to_string(progress.last_block_speed));
  }
  ui_.ProcessMessages();
}

// " (after block N of T)" or " (before the first block)": where a read-out broke off.
std::string TFX9860sio::WhereInTheBlocks(const TransferProgress& progress) {
  if (progress.current_block <= 0) return " (before the first block)";
  return " (after block " + std::to_string(progress.current_block) + " of " + std::to_string(progress.total_blocks) +
         ")";
}

// The calculator swapped roles before the image was complete.
void TFX9860sio::NoteEarlyEnd(const TransferProgress& progress) {
  NoteFailure("the calculator ended the read-out after " + std::to_string(bytes_written_) + " of the " +
              std::to_string(image_size_) + " bytes of a complete image (" + std::to_string(progress.current_block) +
              " blocks)");
}

// Appends a block's image bytes (no more than the image still lacks) and counts them.
void TFX9860sio::StoreBlock(TImageFile& file, std::vector<std::uint8_t> payload, TransferProgress& progress) {
  const std::uint64_t room = image_size_ - bytes_written_;
  if (payload.size() > room) payload.resize(static_cast<std::size_t>(room));
  const auto write_start = Clock::now();
  file.Append(payload);
  progress.write_time += Clock::now() - write_start;
  bytes_written_ += payload.size();
}

int TFX9860sio::ReceiveImage(const ImageRequest& request, const std::string& device, const std::string& file_name) {
  image_size_ = request.size;
  bytes_written_ = 0;
  transferred_total_ = 0;
  failure_cause_.clear();
  TImageFile file(file_name);
  Report("File opened: " + file_name);
  Report(std::string(request.request_text));
  if (!RequestImage(request, device)) {
    file.Close();
    return 0;
  }

  const std::string roleswap_header = AnswerHeader(kTypeRoleswap, "00", '0');
  const std::string block_header = AnswerHeader(kTypeData, request.block_subtype, '1');
  TransferProgress progress;
  TakeReceivedCount();  // the line total counts from the first block on
  progress.start = Clock::now();
  int result = 0;

  for (;;) {
    const auto pass_start = Clock::now();
    PostTransferProgress(request, progress);

    Report("Send acknowledge...");
    const TAnswer answer = ExchangeControl(kTypeAck);
    result = answer.Code();
    if (result == 0) {
      NoteFailure(FailureCause() + WhereInTheBlocks(progress));
      break;
    }
    if (answer.Is(roleswap_header)) {
      Report("Received roleswap!");
      if (bytes_written_ < image_size_) NoteEarlyEnd(progress);
      break;
    }
    if (progress.current_block == progress.total_blocks) {
      NoteFailure("the calculator sent more than the " + std::to_string(progress.total_blocks) +
                  " blocks it announced, and no role swap");
      throw LinkError("sync error", FailureCause());
    }
    // A block that is not the next one of this image must never reach the file: the
    // image would look complete with the wrong content.
    if (const auto problem = BlockProblem(answer, request, progress)) {
      CheckAnswer(answer, block_header, true);  // the box for an answer of another kind
      NoteFailure(*problem);
      result = 0;
      break;
    }

    const std::span<const std::uint8_t> data = answer.data;
    Report("Received " + std::to_string(data.size()) + " bytes.");
    transferred_total_ += data.size();

    std::vector<std::uint8_t> payload = UnescapeData(data.subspan(kBlockFieldsLength));
    const long number = static_cast<long>(*ParseHexField(data.subspan(4, 4)));
    const long total = static_cast<long>(*ParseHexField(data.subspan(0, 4)));
    // Every block but the last carries the full block size, the last one at least a byte:
    // a block cut short or padded would shift every later byte of the image.
    if (const auto problem = PayloadSizeProblem(number, total, payload.size())) {
      NoteFailure(*problem);
      result = 0;
      break;
    }
    StoreBlock(file, std::move(payload), progress);

    if (bytes_written_ >= image_size_) {
      // The bar shows the last block before the work is over.
      if (progress.maximum_sent) ui_.Notify(nfProgressPos, number);
      SendTerminate();
      ui_.Notify(nfStatus, std::string("Ready!"));
      break;
    }
    progress.total_blocks = total;
    progress.current_block = number;
    if (StopRequest() != stopNone) break;
    if (request.flash) {
      progress.last_block_speed =
          PerSecond(static_cast<double>(data.size()), Seconds(Clock::now() - pass_start));
    }
  }
  file.Close();
  return result;
}

// The request, its acknowledge, the role swap and the announcement. False when the
// calculator refused the request (an error box has said why).
bool TFX9860sio::RequestImage(const ImageRequest& request, const std::string& device) {
  const TAnswer accepted = ExchangeParameterCommand(request.request_subtype, 0, 0, 0, {"", "", "", "", device, ""});
  if (!CheckAnswer(accepted, AnswerHeader(kTypeAck, "00", '0'), true, true)) {
    if (failure_cause_.empty()) {
      failure_cause_ = "the calculator refused " + last_sent_ + ": it sent " + ReadableBytes(accepted.header);
    }
    return false;
  }
  Report("Roleswap...");
  const TAnswer announcement = ExchangeControl(kTypeRoleswap);
  CheckAnswer(announcement, AnswerHeader(kTypeCommand, request.block_subtype, '1'), true);
  return true;
}

// Why the answer is not the next block of the image, or nothing when it is: its kind,
// subtype and data flag, its block fields, the total every block announces and the
// number, which counts up from 1 without a gap or a repeat.
std::optional<std::string> TFX9860sio::BlockProblem(const TAnswer& answer, const ImageRequest& request,
                                                    const TransferProgress& progress) const {
  const long expected = progress.current_block + 1;
  const std::string wanted = "data block " + std::to_string(expected);
  const std::string block_header = AnswerHeader(kTypeData, request.block_subtype, '1');
  if (!answer.Is(block_header)) {
    return "the calculator sent " + ReadableBytes(answer.header) + " where " + wanted + " (" +
           ReadableBytes(block_header) + ") was expected";
  }
  const std::span<const std::uint8_t> data = answer.data;
  const bool has_fields = data.size() >= kBlockFieldsLength;
  const auto total = has_fields ? ParseHexField(data.subspan(0, 4)) : std::nullopt;
  const auto number = has_fields ? ParseHexField(data.subspan(4, 4)) : std::nullopt;
  if (!total || !number) return "the calculator sent " + wanted + " without valid block numbers";
  if (*total == 0) return "the calculator announced an image of 0 blocks in " + wanted;
  if (progress.total_blocks > 0 && static_cast<long>(*total) != progress.total_blocks) {
    return "the calculator announced " + std::to_string(*total) + " blocks in " + wanted + ", after " +
           std::to_string(progress.total_blocks) + " in the blocks before";
  }
  if (static_cast<long>(*number) == progress.current_block) {
    return "the calculator sent block " + std::to_string(*number) + " twice";
  }
  if (static_cast<long>(*number) != expected) {
    return "the calculator sent block " + std::to_string(*number) + " where block " + std::to_string(expected) +
           " was expected";
  }
  return std::nullopt;
}

}  // namespace ostrel
