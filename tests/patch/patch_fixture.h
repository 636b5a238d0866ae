#pragma once
// Runs patch scripts against small targets built in a temporary folder, collecting the
// report lines that the interpreter sends to its callback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "patch/patcher.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel::testing {

// "00 01 FF" -> the bytes; blanks between the pairs are optional.
inline std::string HexBytes(const std::string& hex) {
  std::string bytes;
  std::string digits;
  for (char c : hex) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
      digits.clear();
    }
  }
  return bytes;
}

inline std::string ToHex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) {
    if (!hex.empty()) hex += ' ';
    hex += IntToHex(c, 2);
  }
  return hex;
}

class PatchTest : public ::testing::Test {
 protected:
  PatchTest() { NewPatcher(); }

  // A fresh interpreter with its own parameter list, reporting into reports_.
  void NewPatcher() {
    patcher_ = std::make_unique<TPatcher>();
    patcher_->SetOnReport([this](const std::string& text, bool show) {
      EXPECT_FALSE(show);
      EXPECT_TRUE(text.ends_with("\r\n")) << text;
      reports_.push_back(text.substr(0, text.size() - 2));
    });
  }

  std::string Dir() const { return folder_.Path() + "/"; }
  std::string File(const std::string& name) const { return folder_.File(name); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    return WriteFileText(File(name), bytes);
  }
  std::string Read(const std::string& name) const { return ReadFileText(File(name)); }

  // Writes the script text as "script.psc" (with "@DIR@" replaced by the folder,
  // ending with "/") and runs it.
  bool Run(const std::string& script) {
    Write("script.psc", ReplaceAll(script, "@DIR@", Dir()));
    return patcher_->RunPatchScript(File("script.psc"));
  }

  // The report lines with the folder written as "@DIR@" and the elapsed time of the
  // last line as "<time>".
  std::vector<std::string> Reports() const {
    static const std::regex elapsed(" [0-9]{2,}:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}$");
    std::vector<std::string> lines;
    for (const std::string& line : reports_) {
      lines.push_back(std::regex_replace(ReplaceAll(line, Dir(), "@DIR@"), elapsed, " <time>"));
    }
    return lines;
  }

  // The report lines between the opening of the target and the summary.
  std::vector<std::string> CommandReports() const {
    std::vector<std::string> lines = Reports();
    std::vector<std::string> body;
    bool after_target = false;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      if (after_target) body.push_back(lines[i]);
      if (lines[i].starts_with("TARGETFILE=")) after_target = true;
    }
    return body;
  }

  TemporaryFolder folder_;
  std::unique_ptr<TPatcher> patcher_;
  std::vector<std::string> reports_;
};

}  // namespace ostrel::testing
