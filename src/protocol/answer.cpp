#include "protocol/answer.h"

#include <algorithm>

namespace ostrel {

bool TAnswer::Is(std::string_view expected) const {
  const std::size_t count = std::min(expected.size(), header.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (header[i] != static_cast<std::uint8_t>(expected[i])) return false;
  }
  return true;
}

int TAnswer::Code() const {
  switch (kind) {
    case TAnswerKind::Acknowledge:
    case TAnswerKind::RoleSwap: return 1;
    case TAnswerKind::OverwriteRequest: return 2;
    case TAnswerKind::Packet: return static_cast<int>(data.size());
    case TAnswerKind::None:
    case TAnswerKind::Error: break;
  }
  return 0;
}

std::string AnswerHeader(std::uint8_t type, std::string_view subtype, char data_flag) {
  std::string header(1, static_cast<char>(type));
  header += subtype;
  header += data_flag;
  return header;
}

}  // namespace ostrel
