#pragma once
// One packet received from the calculator, classified: what kind of answer it is, its
// four header bytes and its data field.
//
// Code() gives the classic integer of the receive calls (0 no answer, 1 acknowledge or
// role swap, 2 overwrite request, else the length of a data field), which the protocol
// object keeps at its public interface; code inside the protocol works with the value.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// Why no usable packet came, for an answer of kind None.
enum class TLinkEnd : std::uint8_t {
  None,         // a packet came (or nothing was awaited)
  Silent,       // nothing arrived within the time-out
  BrokenOff,    // the packet stopped arriving: no further byte within the time-out
  Corrupt,      // a damaged packet: checksum, a field that is no number, a malformed escape
  Gone,         // the link lost the calculator (unplugged, hung up, the other end closed)
  Stopped,      // the user stopped the operation while it waited
  Unrequested,  // the calculator had sent a packet nobody asked for: the request was not sent
  NotSent,      // the port did not take the whole request
};

enum class TAnswerKind : std::uint8_t {
  None,              // nothing usable arrived: silence, a short or a damaged packet
  Acknowledge,       // type 0x06, any subtype, with or without data
  RoleSwap,          // type 0x03
  OverwriteRequest,  // error "02": the calculator asks whether to overwrite
  Error,             // any other error answer (it carries no data; one with data raises)
  Packet,            // a command or data packet, or a type the protocol does not name
};

struct TAnswer {
  TAnswerKind kind = TAnswerKind::None;
  TLinkEnd end = TLinkEnd::None;           // for kind None: why
  std::array<std::uint8_t, 4> header{};  // type, two subtype characters, data flag; zero for None
  std::vector<std::uint8_t> data;         // the data field as it came (escaped); empty without one

  std::uint8_t Type() const { return header[0]; }
  bool HasDataField() const { return header[3] == '1'; }
  // True when the header begins with the expected bytes (type, subtype, data flag).
  bool Is(std::string_view expected) const;
  int Code() const;
};

// The four header bytes of an expected answer: type, subtype characters, data flag.
std::string AnswerHeader(std::uint8_t type, std::string_view subtype, char data_flag);

}  // namespace ostrel
