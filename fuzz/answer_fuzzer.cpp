// The answer parsing: packets received from a calculator byte stream, one after another.
//
// The same bytes are also framed by the simulator's own packet code (written apart from
// the protocol's), and the two must agree: a complete, well-formed packet gives its
// classified result and takes exactly its own bytes from the line, never a byte of the
// next packet; anything else gives "no answer" with a cleared header and no data; an
// error answer with a data field raises "Error: " + its subtype, nothing else is raised.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "fuzz_support.h"
#include "fxsim/packet.h"
#include "protocol/fx9860sio.h"

namespace {

using ostrel::fuzz::InputReader;
using ostrel::fuzz::LineExhausted;
using ostrel::fuzz::MemoryLine;

// A packet at the start of `bytes`, framed by the simulator's rules.
struct Expected {
  std::size_t length = 0;  // bytes of the packet
  std::uint8_t type = 0;
  std::uint32_t subtype = 0;
  bool data_field = false;
  std::size_t data_size = 0;
};

enum class Framing { Complete, Damaged, Short };

Framing Frame(std::span<const std::uint8_t> bytes, Expected& packet) {
  if (bytes.size() < 4) return Framing::Short;
  packet.type = bytes[0];
  const auto subtype = fxsim::ParseHex(std::string_view(reinterpret_cast<const char*>(&bytes[1]), 2));
  std::size_t end = 4;
  bool damaged = !subtype;
  if (subtype) packet.subtype = *subtype;
  packet.data_field = bytes[3] == '1';
  if (packet.data_field) {
    if (bytes.size() < end + 4) return Framing::Short;
    const auto size = fxsim::ParseHex(std::string_view(reinterpret_cast<const char*>(&bytes[end]), 4));
    if (!size) return Framing::Damaged;
    end += 4;
    packet.data_size = *size;
    if (bytes.size() < end + *size) return Framing::Short;
    end += *size;
  }
  if (damaged) return Framing::Damaged;
  if (bytes.size() < end + 2) return Framing::Short;
  const auto checksum = fxsim::ParseHex(std::string_view(reinterpret_cast<const char*>(&bytes[end]), 2));
  if (!checksum || *checksum != fxsim::Checksum(bytes.subspan(1, end - 1))) return Framing::Damaged;
  packet.length = end + 2;
  return Framing::Complete;
}

int ExpectedCode(const Expected& packet) {
  switch (packet.type) {
    case ostrel::kTypeRoleswap:
    case ostrel::kTypeAck: return ostrel::kAcknowledged;
    case ostrel::kTypeError: return packet.subtype == 2 ? ostrel::kOverwriteAsked : ostrel::kNoAnswer;
    default: return static_cast<int>(packet.data_size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> stream(data, size);
  auto owned_line = std::make_unique<MemoryLine>(std::vector<std::uint8_t>(stream.begin(), stream.end()), 0);
  MemoryLine& line = *owned_line;
  ostrel::TLinkTarget target;
  target.timings.answer = std::chrono::milliseconds(0);
  ostrel::TFX9860sio sio(ostrel::LinkKind::Usb, {}, target);
  sio.Attach(std::make_unique<ostrel::THardware>(ostrel::LinkKind::Usb, std::move(owned_line)));

  for (int packets = 0; packets < 16 && line.Consumed() < stream.size(); ++packets) {
    const std::size_t start = line.Consumed();
    Expected packet;
    const Framing framing = Frame(stream.subspan(start), packet);
    const bool raises = framing == Framing::Complete && packet.type == ostrel::kTypeError &&
                        packet.subtype != 2 && packet.data_field;
    int code = -1;
    try {
      code = sio.ReceiveAnswer();
    } catch (const LineExhausted&) {
      FUZZ_CHECK(framing != Framing::Complete, "a complete packet must not wait for more bytes");
      return 0;
    } catch (const ostrel::Error& error) {
      FUZZ_CHECK(raises, "only an error answer with data raises: " + error.Text());
      const std::string subtype(reinterpret_cast<const char*>(&stream[start + 1]), 2);
      FUZZ_CHECK(error.Text() == "Error: " + subtype, error.Text());
      FUZZ_CHECK(line.Consumed() - start == packet.length, "the error answer is taken whole");
      continue;
    }
    FUZZ_CHECK(!raises, "an error answer with data must raise");
    if (framing == Framing::Complete) {
      FUZZ_CHECK(line.Consumed() - start == packet.length,
                 "took " + std::to_string(line.Consumed() - start) + " bytes of a packet of " +
                     std::to_string(packet.length));
      FUZZ_CHECK(code == ExpectedCode(packet), "code " + std::to_string(code));
      const auto& header = sio.ReceivedHeader();
      FUZZ_CHECK(std::equal(header.begin(), header.end(), stream.begin() + static_cast<std::ptrdiff_t>(start)),
                 "the header is the packet's");
      if (packet.data_field && packet.data_size > 0 && code > ostrel::kOverwriteAsked) {
        const auto& received = sio.ReceivedData();
        FUZZ_CHECK(received.size() == packet.data_size, "data size");
        FUZZ_CHECK(std::equal(received.begin(), received.end(), stream.begin() + static_cast<std::ptrdiff_t>(start + 8)),
                   "the data is the packet's");
      }
    } else {
      FUZZ_CHECK(code == ostrel::kNoAnswer, "a damaged packet gave " + std::to_string(code));
      const auto& header = sio.ReceivedHeader();
      FUZZ_CHECK(std::all_of(header.begin(), header.end(), [](std::uint8_t b) { return b == 0; }),
                 "the header of a damaged packet is cleared");
      FUZZ_CHECK(line.Consumed() > start, "a damaged packet takes at least one byte");
    }
  }
  return 0;
}
