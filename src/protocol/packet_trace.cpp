#include "protocol/packet_trace.h"

#include <cstdio>
#include <ctime>

#include "base/error.h"
#include "base/text.h"
#include "protocol/packet_codec.h"

namespace ostrel {

namespace {

const char* DirectionText(TraceDirection direction) {
  switch (direction) {
    case TraceDirection::Sent: return "PC>calc";
    case TraceDirection::Received: return "calc>PC";
    case TraceDirection::Discarded: return "dropped";
  }
  return "?";
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += IntToHex(byte, 2);
  }
  return text;
}

}  // namespace

TPacketTrace::TPacketTrace(const std::string& path)
    : path_(path), out_(path, std::ios::binary | std::ios::trunc), start_(std::chrono::steady_clock::now()) {
  if (!out_) throw IoError("Cannot create the trace file " + path);
  const std::time_t now = std::time(nullptr);
  char stamp[64] = "";
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
  out_ << "# ostrel packet trace, started " << stamp << "; times in seconds since then\n" << std::flush;
}

void TPacketTrace::Record(TraceDirection direction, std::span<const std::uint8_t> bytes) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "+%011.6f %s %5zu bytes: ", seconds, DirectionText(direction), bytes.size());
  out_ << prefix << HexBytes(bytes) << "  |" << ReadableBytes(bytes) << "|\n" << std::flush;
}

}  // namespace ostrel
