// The read-out loop: a flash or RAM read-out fed with a calculator byte stream built from
// the input: runs of correct blocks, repeated, skipped, swapped and damaged blocks,
// foreign packets, garbage, role swaps and error answers, then silence.
//
// What must hold: the read-out ends (by its own time-outs on the silent line, or by an
// ostrel::Error), the image holds exactly the bytes the read-out reports as written,
// never more than the image size, and those bytes are the calculator's memory in block
// order: a block that came twice, out of turn or damaged never lands in the file.

#include <string>

#include "base/error.h"
#include "fuzz_support.h"
#include "fxsim/packet.h"
#include "fxsim/simulator.h"
#include "protocol/byte_sink.h"
#include "protocol/fx9860sio.h"

namespace {

using fxsim::Bytes;
using ostrel::fuzz::InputReader;
using ostrel::fuzz::LineExhausted;
using ostrel::fuzz::MemoryLine;

constexpr std::size_t kBlock = fxsim::kBlockPayload;

struct Image {
  bool flash;
  std::string subtype;
  Bytes memory;
};

const Image& TheImage(bool flash) {
  static const Image ram{false, "30", fxsim::GeneratePattern(ostrel::kRamImageSize, 0x2F30)};
  static const Image rom{true, "50", fxsim::GeneratePattern(ostrel::kFlashImageSmall, 0x4F50)};
  return flash ? rom : ram;
}

Bytes Append(Bytes stream, const Bytes& more) {
  stream.insert(stream.end(), more.begin(), more.end());
  return stream;
}

// A data block as the calculator sends it: total and number in hex, the escaped payload.
Bytes Block(const Image& image, std::uint32_t total, std::uint32_t number, std::span<const std::uint8_t> payload) {
  const std::string fields = fxsim::Hex(total, 4) + fxsim::Hex(number, 4);
  Bytes data(fields.begin(), fields.end());
  const Bytes escaped = fxsim::Escape(payload);
  data.insert(data.end(), escaped.begin(), escaped.end());
  return fxsim::BuildPacket(fxsim::kTypeData, image.subtype, data);
}

std::span<const std::uint8_t> Payload(const Image& image, std::uint32_t number) {
  const std::size_t offset = static_cast<std::size_t>(number - 1) * kBlock;
  if (number == 0 || offset >= image.memory.size()) return {};
  return std::span(image.memory).subspan(offset, std::min(kBlock, image.memory.size() - offset));
}

Bytes CalculatorStream(const Image& image, InputReader& input) {
  const auto total = static_cast<std::uint32_t>(image.memory.size() / kBlock);
  fxsim::ParameterBlock announcement;
  announcement.file_size = static_cast<std::uint32_t>(image.memory.size());
  announcement.texts[1] = image.flash ? "FLASH" : "RAM";
  announcement.texts[4] = "fls0";
  Bytes stream = fxsim::BuildPacket(fxsim::kTypeAck, "00");
  stream = Append(std::move(stream), fxsim::BuildPacket(fxsim::kTypeCommand, image.subtype, announcement.Encode()));
  std::uint32_t next = 1;
  while (!input.Empty()) {
    switch (input.Byte() % 11) {
      case 0:  // a run of correct blocks
        for (int n = input.Byte() + 1; n > 0 && next <= total; --n, ++next) {
          stream = Append(std::move(stream), Block(image, total, next, Payload(image, next)));
        }
        break;
      case 1:  // the previous block again
        stream = Append(std::move(stream), Block(image, total, next - 1, Payload(image, next - 1)));
        break;
      case 2:  // blocks left out
        next += 1 + input.Byte() % 4;
        break;
      case 3: {  // a block with a wrong checksum
        Bytes block = Block(image, total, next, Payload(image, next));
        block.back() = block.back() == '0' ? '1' : '0';
        stream = Append(std::move(stream), block);
        break;
      }
      case 4: {  // a packet of any kind
        const std::uint8_t type = input.Byte();
        const std::string subtype = fxsim::Hex(input.Byte(), 2);
        const auto data = input.Take(input.Byte() % 64);
        stream = Append(std::move(stream), fxsim::BuildPacket(type, subtype, data));
        break;
      }
      case 5: {  // garbage
        const auto garbage = input.Take(input.Byte() % 32);
        stream.insert(stream.end(), garbage.begin(), garbage.end());
        break;
      }
      case 6: stream = Append(std::move(stream), fxsim::BuildPacket(fxsim::kTypeRoleSwap, "00")); break;
      case 7: stream = Append(std::move(stream), fxsim::BuildPacket(fxsim::kTypeError, fxsim::Hex(input.Byte(), 2))); break;
      case 8:  // the next block with another total
        stream = Append(std::move(stream), Block(image, input.Word(), next, Payload(image, next)));
        ++next;
        break;
      case 9: {  // the next block's payload cut short or padded (the read-out learns the
                 // calculator's block size from block 1, so that one keeps its size)
        Bytes payload(Payload(image, next).begin(), Payload(image, next).end());
        const std::uint8_t length = input.Byte();
        if (next > 1) payload.resize(length, 0xA5);
        stream = Append(std::move(stream), Block(image, total, next, payload));
        ++next;
        break;
      }
      case 10: {  // the next block's data under another number: one the read-out cannot be
                  // waiting for (it waits for block `next` at the latest), since a block under
                  // the awaited number with another block's data cannot be told from a good one
        std::uint32_t number = input.Word();
        if (number >= 1 && number <= next) number += next;
        stream = Append(std::move(stream), Block(image, total, number, Payload(image, next)));
        ++next;
        break;
      }
    }
  }
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TheImage(false);
  TheImage(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputReader input(std::span(data, size));
  const Image& image = TheImage(input.Byte() & 1);
  auto owned_line = std::make_unique<MemoryLine>(CalculatorStream(image, input), 2);
  ostrel::TLinkTarget target;
  target.timings.answer = target.timings.baud_check = target.timings.silence = std::chrono::milliseconds(0);
  ostrel::TFX9860sio sio(ostrel::LinkKind::Usb, {}, target);
  sio.Attach(std::make_unique<ostrel::THardware>(ostrel::LinkKind::Usb, std::move(owned_line)));

  ostrel::TMemorySink sink(image.flash ? "backup.bin" : "backup.RAM");
  int result = 0;
  bool returned = false;
  try {
    result = image.flash ? sio.ReceiveFlashImage("fls0", sink, 0) : sio.ReceiveRamImage("fls0", sink);
    returned = true;
  } catch (const LineExhausted&) {
    // The read-out kept waiting on a line that stays silent.
  } catch (const ostrel::Error&) {
    // A protocol violation ends the read-out.
  }

  const std::uint64_t written = sio.BytesWritten();
  FUZZ_CHECK(written <= sio.ImageSize(), std::to_string(written));
  const Bytes& stored = sink.Bytes();
  FUZZ_CHECK(stored.size() == written,
             "sink of " + std::to_string(stored.size()) + " bytes, reported " + std::to_string(written));
  FUZZ_CHECK(std::equal(stored.begin(), stored.end(), image.memory.begin()), "the image is the memory in block order");
  if (returned && result == 0) {
    FUZZ_CHECK(!sio.FailureCause().empty(), "a read-out that reports a failure says why");
  }
  return 0;
}
