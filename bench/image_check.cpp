// `ostrel check` against reading the same file once: the check of a 4 MiB flash image
// (class 1, correct checksum) and a plain read of the file in 64 KiB blocks, both from the
// page cache, the best of several runs each, side by side.
// Usage: bench_image_check

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "imagegen/image_generator.h"
#include "operations/image_check.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Reads the whole file once; returns a value of its bytes so that nothing is optimised away.
std::uint64_t ReadOnce(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<unsigned char> block(0x10000);
  std::uint64_t last = 0;
  for (ssize_t got; (got = ::read(fd, block.data(), block.size())) > 0;) last += block[0];
  ::close(fd);
  return last;
}

template <typename F>
double Best(int runs, F&& run) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    run();
    best = std::min(best, Seconds(Clock::now() - start));
  }
  return best;
}

}  // namespace

int main() {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("ostrel-bench-" + std::to_string(getpid()) + ".fls")).string();
  ostrel::TestImageSpec spec;
  spec.size = 0x400000;
  ostrel::WriteTestImage(spec, path);
  std::string info;
  std::int32_t type = -1;
  const auto result = ostrel::FXCheckImage(path, 0, nullptr, false, false, nullptr, info, type, nullptr, {});
  if (result != ostrel::icrOK || std::filesystem::file_size(path) != 0x400000) {
    std::fprintf(stderr, "bench_image_check: the test image does not check OK (%d)\n", static_cast<int>(result));
    return 1;
  }
  constexpr int kRuns = 15;
  std::uint64_t sink = 0;
  const double read = Best(kRuns, [&] { sink += ReadOnce(path); });
  const double check = Best(kRuns, [&] {
    std::string info;
    std::int32_t type = -1;
    sink += ostrel::FXCheckImage(path, 0, nullptr, false, false, nullptr, info, type, nullptr, {});
  });
  std::filesystem::remove(path);
  std::printf("%-44s %8.3f %-10s (target %s)  check %.2f ms, plain read %.2f ms (%llu)\n",
              "check of a 4 MiB image / one plain read", check / read, "", "<= 1.3", check * 1e3, read * 1e3,
              static_cast<unsigned long long>(sink % 10));
  return 0;
}
