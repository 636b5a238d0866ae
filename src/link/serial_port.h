#pragma once
// tSio: a serial port (a POSIX terminal device) opened from a connection string and used
// as a raw byte line.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/connection_string.h"
#include "link/diagnostic_lines.h"
#include "link/fd_io.h"
#include "link/port.h"
#include "link/name_tables.h"

namespace ostrel {

// Opens a terminal node as a serial port: read and write, not as the controlling terminal,
// non-blocking, and only when no other program holds it (an advisory lock that every port
// and the port probe take). On failure the descriptor is empty and `why` ends the sentence
// that begins with the port's name (" is in use by another program.").
TUniqueFd OpenSerialNode(const std::string& path, std::string& why);

class tSio : public TPort {
 public:
  // Parses the string, opens NAME and applies the line settings. Never throws: a port
  // that cannot be opened (or cannot take the settings) is left with an invalid handle,
  // and the diagnostics say why.
  explicit tSio(const std::string& connection);
  ~tSio() override;
  tSio(const tSio&) = delete;
  tSio& operator=(const tSio&) = delete;

  // Writes the whole block, waiting for room in the line's queue; gives up when the line
  // takes nothing for the write time-out (5 s unless the string sets one).
  std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) override;
  // Bytes that have arrived: from the receive buffer, which one read of the line refills
  // with whatever is there when it is empty (waiting at most the read wait, 10 ms unless
  // the string sets read time-outs); 0 when nothing came. While a packet trickles in (the
  // last read got fewer bytes than were wanted, no faster than the baud rate brings
  // them), the refill first lets the line deliver a
  // few more at its baud rate instead of waking for every byte.
  std::size_t ReadBytes(std::uint8_t* destination, std::size_t capacity) override;
  // The receive buffer's bytes, else what the line holds now (no wait).
  std::size_t ReadPending(std::uint8_t* destination, std::size_t capacity) override;
  bool Gone() const override { return lost_; }
  int Handle() const override { return handle_.Get(); }
  std::string DevicePath() const override { return device_name_; }
  std::vector<std::string> TakeDiagnostics() override { return diagnostics_.Take(); }

 private:
  void Open(const TSerialSettings& settings);
  bool ApplyLineSettings(const TSerialSettings& settings);
  void MarkLost(const std::string& reason);
  void AwaitLineBurst(std::size_t wanted) const;
  bool AtLineRate(std::size_t count, std::chrono::steady_clock::time_point now) const;

  TUniqueFd handle_;
  std::vector<std::uint8_t> scratch_buffer_;  // BUFFERSIZE bytes; not used by reads or writes
  std::string device_name_;
  TLinkNameTables names_;
  int read_wait_ms_ = kReadWaitMs;
  int write_stall_ms_per_byte_ = 0;
  int write_stall_ms_constant_ = 0;
  bool lost_ = false;
  TDiagnosticLines diagnostics_;
  // Received bytes not handed out yet: [received_begin_, received_end_).
  std::array<std::uint8_t, 4096> received_{};
  std::size_t received_begin_ = 0;
  std::size_t received_end_ = 0;
  // Time of one byte on the line (ten bits at the baud rate); zero: unknown.
  std::chrono::nanoseconds byte_time_{};
  // The last refill got some bytes, but fewer than the caller wanted and no more than the
  // line could have brought since the refill before: a packet arriving at the line rate.
  bool trickling_ = false;
  std::chrono::steady_clock::time_point last_refill_{};
};

}  // namespace ostrel
