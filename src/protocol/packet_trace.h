#pragma once
// A trace of a session for a bug report: every packet sent and received, with its time,
// its direction, its bytes in hex and in a readable form (printable characters as they
// are, every other byte as <XX>). One line per packet; the file is flushed after each
// line, so a trace survives a session that ends badly.

#include <chrono>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>

namespace ostrel {

enum class TraceDirection {
  Sent,       // from the PC to the calculator
  Received,   // an answer from the calculator (also a cut or damaged one)
  Discarded,  // bytes read and dropped while waiting for a quiet line
};

class TPacketTrace {
 public:
  // Creates (replaces) the file; raises IoError when it cannot.
  explicit TPacketTrace(const std::string& path);
  TPacketTrace(const TPacketTrace&) = delete;
  TPacketTrace& operator=(const TPacketTrace&) = delete;

  // "+SSSS.mmmmmm PC>calc   6 bytes: 05 30 30 30 37 30  |<05>00070|"
  void Record(TraceDirection direction, std::span<const std::uint8_t> bytes);

 private:
  std::string path_;
  std::ofstream out_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace ostrel
