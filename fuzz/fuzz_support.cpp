#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/temporary_folder.h"

namespace ostrel::fuzz {

void Violation(const char* file, int line, const std::string& what) {
  std::fprintf(stderr, "\n%s:%d: does not hold: %s\n", file, line, what.c_str());
  std::fflush(stderr);
  std::abort();
}

const std::string& ScratchFolder() {
  static const ostrel::testing::TemporaryFolder scratch;
  return scratch.Path();
}

void ClearScratchFolder() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

std::string ScratchFile(const std::string& name) { return ScratchFolder() + "/" + name; }

std::vector<std::string> ScratchEntries() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

std::uint8_t InputReader::Byte() { return Empty() ? 0 : input_[position_++]; }

std::uint16_t InputReader::Word() {
  const std::uint16_t high = Byte();
  return static_cast<std::uint16_t>(high << 8 | Byte());
}

std::span<const std::uint8_t> InputReader::Take(std::size_t count) {
  const std::size_t available = Empty() ? 0 : input_.size() - position_;
  const std::size_t taken = std::min(count, available);
  const auto part = input_.subspan(std::min(position_, input_.size()), taken);
  position_ += taken;
  return part;
}

std::span<const std::uint8_t> InputReader::Rest() { return Take(input_.size()); }

std::uint32_t MemoryLine::Write(const std::uint8_t* data, std::uint32_t length) {
  written_.insert(written_.end(), data, data + length);
  return length;
}

std::size_t MemoryLine::ReadBytes(std::uint8_t* destination, std::size_t capacity) {
  if (position_ < incoming_.size() && capacity > 0) {
    *destination = incoming_[position_++];  // one byte at a time, as a slow line delivers them
    return 1;
  }
  if (silent_reads_ <= 0) throw LineExhausted{};
  --silent_reads_;
  return 0;
}

}  // namespace ostrel::fuzz
