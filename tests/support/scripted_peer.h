#pragma once
// A scripted link peer for protocol tests: a Unix-domain stream socket (what the USB
// channel connects to through DEVICENAME) served by its own thread. It splits what the
// PC sends into packets, logs them byte for byte, and answers each packet with the next
// reply of a script given in advance. Its packet code is written independently of the
// code under test.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/temporary_folder.h"

namespace ostrel::testing {

using ByteVector = std::vector<std::uint8_t>;

// A packet: type, two subtype characters, data flag, [4 hex digits size, data], and two
// hex digits of checksum (negated byte sum after the type). `checksum_delta` is added to
// the correct checksum (to build a damaged packet).
ByteVector MakePacket(std::uint8_t type, std::string_view subtype, std::span<const std::uint8_t> data = {},
                      int checksum_delta = 0);
ByteVector MakePacket(std::uint8_t type, std::string_view subtype, std::string_view data, int checksum_delta = 0);
ByteVector BytesOf(std::string_view text);
// Binary data as it goes on the wire: a byte below 0x20 as 5C, byte + 0x20; 5C as 5C 5C.
ByteVector EscapeBytes(std::span<const std::uint8_t> raw);

class ScriptedPeer {
 public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // The socket path, for DEVICENAME.
  const std::string& Path() const { return socket_path_; }

  // The next packet the PC sends is answered with these bytes (empty: no answer); with a
  // byte gap, one byte at a time with that pause before each byte after the first.
  void AddReply(ByteVector bytes, std::chrono::milliseconds byte_gap = std::chrono::milliseconds(0));

  // The PC's packets as they came over the wire (a 0x00 after a packet is not part of it).
  std::vector<ByteVector> Packets() const;
  // Every byte the PC sent, in order.
  ByteVector Bytes() const;
  // Waits until at least `count` packets arrived; false when the limit passed first.
  bool WaitForPackets(std::size_t count, std::chrono::milliseconds limit) const;

 private:
  void Serve();
  void HandleInput(int client);
  static void SendReply(int client, const ByteVector& bytes, std::chrono::milliseconds byte_gap);

  TemporaryFolder folder_;  // holds the socket; removed last
  std::string socket_path_;
  int listen_fd_ = -1;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  struct Reply {
    ByteVector bytes;
    std::chrono::milliseconds byte_gap;
  };
  std::deque<Reply> replies_;
  std::vector<ByteVector> packets_;
  ByteVector bytes_;
  ByteVector pending_;
  std::thread thread_;
};

}  // namespace ostrel::testing
