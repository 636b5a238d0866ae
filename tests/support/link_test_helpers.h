#pragma once
// Shared by the tests that run a session against the simulator or a scripted peer.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "protocol/fx9860sio.h"

namespace ostrel::testing {

// Waits short enough to keep the tests quick, long enough for a loaded machine.
inline TLinkTimings QuickTimings() {
  using std::chrono::milliseconds;
  TLinkTimings t;
  t.answer = milliseconds(1500);
  t.baud_check = milliseconds(1000);
  t.silence = milliseconds(300);
  t.usb_retry = milliseconds(100);
  t.open_settle = milliseconds(10);
  return t;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace ostrel::testing
