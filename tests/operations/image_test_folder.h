#pragma once
// Test helpers for the image check and the image repository: a temporary folder that
// writes generated images, and small text helpers.

#include <string>
#include <vector>

#include "imagegen/image_generator.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel::testing {

class TempFolder : public TemporaryFolder {
 public:
  // The folder as the repository names it: with its trailing separator.
  std::string Folder() const { return Path() + "/"; }

  std::string WriteImage(const std::string& name, const TestImageSpec& spec = {}) const {
    WriteTestImage(spec, File(name));
    return File(name);
  }
};

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
