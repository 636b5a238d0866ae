#pragma once
// One direction of a serial line: when each byte put on it is through, at ten bits per
// byte (start bit, eight data bits, stop bit). The schedule is kept as the moment the line
// last started from idle and the number of bytes since, so that it never drifts by
// rounding, however many bytes go over it and however late the caller looks.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace fxsim {

class LineSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  // How long `bytes` bytes take at `baud`, to the nanosecond, rounded up: at the start plus
  // this time, ThroughBy counts all of them as through.
  static Clock::duration LineTime(std::uint64_t bytes, int baud) {
    if (baud <= 0) return Clock::duration::zero();
    const auto rate = static_cast<unsigned>(baud);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
        static_cast<std::int64_t>((static_cast<unsigned __int128>(bytes) * kBitNanoseconds + rate - 1) / rate)));
  }

  // When the line is free again: the end of the last byte put on it.
  Clock::time_point Free() const { return start_ + LineTime(bytes_, baud_); }

  // Puts `count` bytes on the line, the first no earlier than `earliest`; returns the moment
  // the last one is through.
  Clock::time_point Send(std::uint64_t count, Clock::time_point earliest, int baud) {
    Begin(earliest, baud);
    bytes_ += count;
    return Free();
  }

  // How many of `waiting` bytes, the first started no earlier than `earliest`, are through
  // by `now`. They count as sent only through Sent().
  std::uint64_t ThroughBy(Clock::time_point now, Clock::time_point earliest, int baud, std::uint64_t waiting) {
    Begin(earliest, baud);
    if (now <= start_ || baud_ <= 0) return 0;
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count();
    const auto through =
        static_cast<std::uint64_t>(static_cast<unsigned __int128>(elapsed) * static_cast<unsigned>(baud_) /
                                   kBitNanoseconds);
    return through > bytes_ ? std::min(through - bytes_, waiting) : 0;
  }
  void Sent(std::uint64_t count) { bytes_ += count; }

  // When the next byte, started no earlier than `earliest`, is through.
  Clock::time_point NextThrough(Clock::time_point earliest, int baud) const {
    return std::max(earliest, Free()) + LineTime(1, baud);
  }

 private:
  // Ten bits per byte, in nanoseconds per baud: 10 * 10^9.
  static constexpr std::uint64_t kBitNanoseconds = 10'000'000'000ULL;

  // A line that has gone idle before `earliest`, or changes its speed, starts afresh.
  void Begin(Clock::time_point earliest, int baud) {
    const Clock::time_point free = Free();
    if (baud != baud_ || earliest > free) {
      start_ = std::max(earliest, free);
      bytes_ = 0;
      baud_ = baud;
    }
  }

  Clock::time_point start_{};
  std::uint64_t bytes_ = 0;
  int baud_ = 0;
};

}  // namespace fxsim
