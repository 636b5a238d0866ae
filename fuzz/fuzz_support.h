#pragma once
// Shared pieces of the fuzz targets: a check that stops the process with a message (the
// fuzzer keeps the input that broke it), a scratch folder, a reader that takes a fuzz
// input apart, and an in-memory calculator line.
//
// Every target defines LLVMFuzzerInitialize and LLVMFuzzerTestOneInput. Built with
// libFuzzer they fuzz; built with replay_main.cpp they replay stored inputs (the seed
// corpora and fuzz/regressions) as part of the normal test run.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "link/hardware.h"

namespace ostrel::fuzz {

// Prints what did not hold and aborts.
[[noreturn]] void Violation(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(condition, what)                                                       \
  do {                                                                                    \
    if (!(condition)) ::ostrel::fuzz::Violation(__FILE__, __LINE__, std::string(#condition) + ": " + (what)); \
  } while (0)

// A folder made once per process under the temporary directory, removed at exit.
const std::string& ScratchFolder();
// Removes everything inside the scratch folder (the folder stays).
void ClearScratchFolder();
// The path of an entry of the scratch folder.
std::string ScratchFile(const std::string& name);
// The entries of the scratch folder, sorted.
std::vector<std::string> ScratchEntries();

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes);
bool FileExists(const std::string& path);

// Takes a fuzz input apart front to back; past the end every read gives zeros or nothing.
class InputReader {
 public:
  explicit InputReader(std::span<const std::uint8_t> input) : input_(input) {}
  bool Empty() const { return position_ >= input_.size(); }
  std::uint8_t Byte();
  std::uint16_t Word();  // big-endian
  std::span<const std::uint8_t> Take(std::size_t count);
  std::span<const std::uint8_t> Rest();

 private:
  std::span<const std::uint8_t> input_;
  std::size_t position_ = 0;
};

// Raised by MemoryLine when the line has been silent for its whole budget: the input is
// used up, and waiting longer could only repeat the last time-out.
struct LineExhausted {};

// A calculator line in memory: hands out the bytes given to it one at a time, keeps what
// the PC writes. When the bytes are used up it answers "no byte" `silent_reads` times and
// then raises LineExhausted.
class MemoryLine : public TPort {
 public:
  MemoryLine(std::vector<std::uint8_t> incoming, int silent_reads)
      : incoming_(std::move(incoming)), silent_reads_(silent_reads) {}

  std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) override;
  std::size_t ReadBytes(std::uint8_t* destination, std::size_t capacity) override;
  int Handle() const override { return 3; }
  std::string DevicePath() const override { return "memory"; }
  std::vector<std::string> TakeDiagnostics() override { return {}; }

  std::size_t Consumed() const { return position_; }
  const std::vector<std::uint8_t>& Written() const { return written_; }

 private:
  std::vector<std::uint8_t> incoming_;
  std::size_t position_ = 0;
  int silent_reads_;
  std::vector<std::uint8_t> written_;
};

}  // namespace ostrel::fuzz
