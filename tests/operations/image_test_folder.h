#pragma once
// Test helpers for the image check and the image repository: a temporary folder that is
// removed with everything in it, and small text helpers.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagegen/image_generator.h"

namespace ostrel::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-image-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  const std::string& Path() const { return path_; }
  // The folder as the repository names it: with its trailing separator.
  std::string Folder() const { return path_ + "/"; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  std::string WriteImage(const std::string& name, const TestImageSpec& spec = {}) const {
    WriteTestImage(spec, File(name));
    return File(name);
  }

 private:
  std::string path_;
};

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a text whose lines end with CR LF (the line ends removed).
inline std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace ostrel::testing
