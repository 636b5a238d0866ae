#pragma once
// A fresh folder under the system's temporary directory, removed with everything in it
// when the object goes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temporary_folder.h"

namespace ostrel::testing {

class TempDir {
 public:
  TempDir() = default;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path path() const { return folder_.Path(); }
  std::filesystem::path operator/(const std::string& name) const { return folder_.File(name); }

  // Writes the bytes to a file of this folder and gives its path.
  std::filesystem::path Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = folder_.File(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    EXPECT_TRUE(out.good()) << "cannot write " << file;
    return file;
  }

  static std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  TemporaryFolder folder_;
};

}  // namespace ostrel::testing
