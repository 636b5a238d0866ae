#pragma once
// Reading and writing whole files in tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ostrel::testing {

// The file's bytes; the empty text when it cannot be read.
inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the bytes to the file (replacing it, creating its folder) and gives its path; a
// failed write fails the running test.
inline std::string WriteFileText(const std::string& path, const std::string& bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  EXPECT_FALSE(out.fail()) << "cannot write " << path;
  return path;
}

}  // namespace ostrel::testing
