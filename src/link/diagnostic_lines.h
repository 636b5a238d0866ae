#pragma once
// Diagnostic lines a channel gathers (why an open failed, a lost device, a setting the
// platform cannot apply) until the protocol layer takes them for its diagnostics pane.

#include <string>
#include <utility>
#include <vector>

namespace ostrel {

class TDiagnosticLines {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Append(std::vector<std::string> lines) {
    for (auto& line : lines) lines_.push_back(std::move(line));
  }
  // The lines gathered since the last call.
  std::vector<std::string> Take() { return std::exchange(lines_, {}); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace ostrel
