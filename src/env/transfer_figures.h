#pragma once
// The speed figures of a running transfer in words a technician reads at a glance.
//
// A transfer posts its speed as decimal figures in bytes per second joined by "/": a
// read-out "image bytes/payload/line/last block", a flash write "average/maximum/current".
// Both begin with the average over the whole transfer so far and end with the rate of the
// latest block, which is what a front end shows, with the time left where it knows how
// far the transfer got.

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

struct TTransferFigures {
  std::uint64_t average = 0;  // bytes per second since the transfer began
  std::uint64_t now = 0;      // bytes per second of the latest block
};

// The figures of a speed text; nothing for a text that is no such list (fewer than two
// figures, or anything but digits between the slashes).
std::optional<TTransferFigures> ParseTransferFigures(const std::string& speed_text);

// "5.7 MB/s" / "11.2 kB/s" / "900 B/s" (decimal units).
std::string RateText(std::uint64_t bytes_per_second);

// "0:42" / "1:02:03".
std::string DurationText(std::uint64_t seconds);

// "now 5.7 MB/s, average 5.5 MB/s" and, with a time left, ", 0:42 left".
std::string TransferFiguresText(const TTransferFigures& figures, std::optional<std::uint64_t> seconds_left = {});

// The seconds a transfer still needs at the pace it had so far: `done` of `total` steps in
// `elapsed_seconds`; nothing before the first step or after the last.
std::optional<std::uint64_t> SecondsLeft(std::int64_t done, std::int64_t total, double elapsed_seconds);

}  // namespace ostrel
