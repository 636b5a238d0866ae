#include "base/compare_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "base/error.h"

namespace ostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlockSize = 10000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A file exists for comparison when its path names something other than a directory.
bool FileExists(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  return !error && fs::exists(status) && !fs::is_directory(status);
}

[[noreturn]] void RaiseReadError(const fs::path& path, const std::string& reason) {
  throw IoError("BASE_00.CompareFiles: cannot read " + path.string() + ": " + reason);
}

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) RaiseReadError(path, error.message());
  return size;
}

fs::file_time_type TimeOf(const fs::path& path) {
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(path, error);
  if (error) RaiseReadError(path, error.message());
  return time;
}

FileHandle OpenForReading(const fs::path& path) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) RaiseReadError(path, std::strerror(errno));
  return file;
}

// Reads up to one block; fewer bytes only at the end of the file.
std::size_t ReadBlock(std::FILE* file, const fs::path& path, std::vector<unsigned char>& block) {
  const std::size_t count = std::fread(block.data(), 1, block.size(), file);
  if (std::ferror(file)) RaiseReadError(path, std::strerror(errno));
  return count;
}

// The first content difference of two files, or the empty text.
std::string CompareContents(const fs::path& first, const fs::path& second) {
  FileHandle first_file = OpenForReading(first);
  FileHandle second_file = OpenForReading(second);
  std::vector<unsigned char> first_block(kBlockSize);
  std::vector<unsigned char> second_block(kBlockSize);
  std::uintmax_t compared = 0;
  for (;;) {
    const std::size_t first_count = ReadBlock(first_file.get(), first, first_block);
    const std::size_t second_count = ReadBlock(second_file.get(), second, second_block);
    if (first_count == 0 && second_count == 0) return {};
    if (second_count == 0) {
      return "Unexpected eof after reading " + std::to_string(compared) + " bytes!";
    }
    if (first_count != second_count) return "Size mismatch while reading!";
    for (std::size_t i = 0; i < first_count; ++i) {
      if (first_block[i] != second_block[i]) {
        return "Binary mismatch at " + std::to_string(compared + i + 1) + "!";
      }
    }
    compared += first_count;
  }
}

}  // namespace

std::string CompareFiles(const fs::path& first, const fs::path& second, bool ignore_time) {
  if (!FileExists(first)) return first.string() + " does not exist!";
  if (!FileExists(second)) return second.string() + " does not exist!";

  std::string message;
  auto add_difference = [&](const char* what) {
    message += message.empty() ? "Mismatch: " : ",";
    message += what;
  };
  if (!ignore_time && TimeOf(first) != TimeOf(second)) add_difference("Time");
  if (SizeOf(first) != SizeOf(second)) {
    add_difference("Size");
    return message;  // contents of different sizes are not compared
  }

  const std::string content = CompareContents(first, second);
  if (!content.empty()) message += (message.empty() ? "" : "; ") + content;
  return message;
}

}  // namespace ostrel
