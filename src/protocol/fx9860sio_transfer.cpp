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

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::uint64_t PerSecond(double amount, double seconds) {
  return seconds > 0 ? static_cast<std::uint64_t>(amount / seconds) : 0;
}

}  // namespace

int TFX9860sio::ReceiveFlashImage(const std::string& device, const std::string& file_name, std::uint16_t flags) {
  const std::uint32_t size = (flags & OPT_INCLUDE_SMEM) ? kFlashImageLarge : kFlashImageSmall;
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

int TFX9860sio::ReceiveImage(const ImageRequest& request, const std::string& device, const std::string& file_name) {
  image_size_ = request.size;
  bytes_written_ = 0;
  transferred_total_ = 0;
  TImageFile file(file_name);
  Report("File opened: " + file_name);
  Report(std::string(request.request_text));

  const TAnswer accepted = ExchangeParameterCommand(request.request_subtype, 0, 0, 0, {"", "", "", "", device, ""});
  if (!CheckAnswer(accepted, AnswerHeader(kTypeAck, "00", '0'), true, true)) {
    file.Close();
    return 0;
  }
  Report("Roleswap...");
  const TAnswer announcement = ExchangeControl(kTypeRoleswap);
  CheckAnswer(announcement, AnswerHeader(kTypeCommand, request.block_subtype, '1'), true);

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
    if (result == 0) break;
    if (answer.Is(roleswap_header)) {
      Report("Received roleswap!");
      break;
    }
    if (progress.current_block == progress.total_blocks) throw Error("sync error");
    CheckAnswer(answer, block_header, true);

    // Only an answer that carried a data field has data to store.
    const std::span<const std::uint8_t> data = answer.data;
    Report("Received " + std::to_string(data.size()) + " bytes.");
    transferred_total_ += data.size();

    std::vector<std::uint8_t> payload;
    if (data.size() > kBlockFieldsLength) payload = UnescapeData(data.subspan(kBlockFieldsLength));
    const std::uint64_t room = image_size_ - bytes_written_;
    if (payload.size() > room) payload.resize(static_cast<std::size_t>(room));
    const auto write_start = Clock::now();
    file.Append(payload);
    progress.write_time += Clock::now() - write_start;
    bytes_written_ += payload.size();

    if (bytes_written_ >= image_size_) {
      SendTerminate();
      ui_.Notify(nfStatus, std::string("Ready!"));
      break;
    }
    if (data.size() >= kBlockFieldsLength) {
      const auto total = ParseHexField(data.subspan(0, 4));
      const auto current = ParseHexField(data.subspan(4, 4));
      if (total && current) {
        progress.total_blocks = static_cast<long>(*total);
        progress.current_block = static_cast<long>(*current);
      }
    }
    if (StopRequest() != stopNone) break;
    if (request.flash) {
      progress.last_block_speed =
          PerSecond(static_cast<double>(data.size()), Seconds(Clock::now() - pass_start));
    }
  }
  file.Close();
  return result;
}

}  // namespace ostrel
