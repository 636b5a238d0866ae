#pragma once
// Waiting helpers for the simulator's tests: they wait on the simulator's own records
// (packet log, counters), never on the clock, with a generous give-up limit.

#include <chrono>
#include <functional>
#include <thread>

#include "fxsim/simulator.h"

namespace fxsim::testing {

// True once `condition` holds; false after a minute without it.
inline bool WaitUntil(const std::function<bool()>& condition) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The simulator logs a packet and sends its answer in one step, so once the log holds
// `count` packets every answer to them has been written.
inline bool WaitForPackets(const Simulator& sim, std::size_t count) {
  return WaitUntil([&] { return sim.ReceivedPackets().size() >= count; });
}

inline bool WaitForDropped(const Simulator& sim, std::uint64_t count) {
  return WaitUntil([&] { return sim.GetCounters().bytes_dropped >= count; });
}

}  // namespace fxsim::testing
