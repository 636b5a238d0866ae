#pragma once
// Test peers for the link channels (a pseudo-terminal pair, a Unix-domain socket
// endpoint) and helpers that read from a port and measure what its reads cost.

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/hardware.h"
#include "support/temporary_folder.h"

namespace ostrel::testing {

// A pseudo-terminal: the test keeps the master side, the code under test opens SlavePath().
class TPtyPair {
 public:
  TPtyPair();
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& SlavePath() const { return slave_path_; }
  int Master() const { return master_; }
  // The line settings as the slave side has them now.
  termios LineSettings() const;
  void Send(const std::vector<std::uint8_t>& bytes) const;
  // Reads until `count` bytes arrived or a generous wait passed.
  std::vector<std::uint8_t> Receive(std::size_t count) const;
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// A Unix-domain stream socket endpoint at a path in its own temporary folder.
class TSocketEndpoint {
 public:
  enum class Mode { Listening, Refusing };
  explicit TSocketEndpoint(Mode mode);
  ~TSocketEndpoint();
  TSocketEndpoint(const TSocketEndpoint&) = delete;
  TSocketEndpoint& operator=(const TSocketEndpoint&) = delete;

  const std::string& Path() const { return path_; }
  // Accepts the pending connection (waits generously); false when none came.
  bool Accept();
  void Send(const std::vector<std::uint8_t>& bytes) const;
  std::vector<std::uint8_t> Receive(std::size_t count) const;
  void CloseConnection();

 private:
  TemporaryFolder folder_;
  std::string path_;
  int listener_ = -1;
  int connection_ = -1;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);

// Reads `count` bytes from a port or channel, giving up after a generous number of empty reads.
template <typename Channel>
std::vector<std::uint8_t> ReadBytes(Channel& channel, std::size_t count) {
  std::vector<std::uint8_t> bytes;
  for (int attempts = 0; bytes.size() < count && attempts < 2000; ++attempts) {
    std::uint8_t byte = 0;
    if (channel.ReadByte(byte) == 1) bytes.push_back(byte);
  }
  return bytes;
}

// True when one of the lines holds the text.
bool Contains(const std::vector<std::string>& lines, const std::string& part);

// What a run of reads cost: the calling thread's CPU time and the wall time, in
// microseconds, and the bytes the reads delivered.
struct TReadCost {
  std::int64_t cpu_us = 0;
  std::int64_t wall_us = 0;
  int bytes = 0;
};
TReadCost MeasureReads(TPort& port, int reads);

}  // namespace ostrel::testing
