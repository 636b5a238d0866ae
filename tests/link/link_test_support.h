#pragma once
// Test peers for the link channels: a pseudo-terminal pair, a Unix-domain socket
// endpoint, and the calling thread's CPU time.

#include <termios.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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

// CPU time the calling thread has used, in microseconds.
std::int64_t ThreadCpuMicros();

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);

}  // namespace ostrel::testing
