#include "protocol/packet_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Opening a FIFO for writing waits until some program reads it; this probe fails at once
// instead (a FIFO that is read, a terminal or a regular file pass).
void ProbeTraceFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    throw IoError("Cannot create the trace file " + path + ": " +
                  (error == ENXIO ? std::string("it is a FIFO that no program reads") : std::strerror(error)) +
                  "; name another file");
  }
  ::close(fd);
}

}  // namespace

TPacketTrace::TPacketTrace(const std::string& path)
    : path_((ProbeTraceFile(path), path)),
      out_(path, std::ios::binary | std::ios::trunc),
      start_(std::chrono::steady_clock::now()) {
  if (!out_) throw IoError("Cannot create the trace file " + path + ": " + std::strerror(errno) + "; name another file");
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
