#include "env/transfer_figures.h"

#include <cstdio>
#include <vector>

namespace ostrel {

std::optional<TTransferFigures> ParseTransferFigures(const std::string& speed_text) {
  std::vector<std::uint64_t> figures;
  std::uint64_t value = 0;
  bool digits = false;
  for (std::size_t i = 0; i <= speed_text.size(); ++i) {
    const char c = i < speed_text.size() ? speed_text[i] : '/';
    if (c >= '0' && c <= '9') {
      if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
      digits = true;
    } else if (c == '/' && digits) {
      figures.push_back(value);
      value = 0;
      digits = false;
    } else {
      return std::nullopt;
    }
  }
  if (figures.size() < 2) return std::nullopt;
  return TTransferFigures{figures.front(), figures.back()};
}

std::string RateText(std::uint64_t bytes_per_second) {
  char text[32];
  const double rate = static_cast<double>(bytes_per_second);
  if (bytes_per_second >= 1000000) {
    std::snprintf(text, sizeof text, "%.1f MB/s", rate / 1e6);
  } else if (bytes_per_second >= 1000) {
    std::snprintf(text, sizeof text, "%.1f kB/s", rate / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%llu B/s", static_cast<unsigned long long>(bytes_per_second));
  }
  return text;
}

std::string DurationText(std::uint64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

std::string TransferFiguresText(const TTransferFigures& figures, std::optional<std::uint64_t> seconds_left) {
  std::string text = "now " + RateText(figures.now) + ", average " + RateText(figures.average);
  if (seconds_left) text += ", " + DurationText(*seconds_left) + " left";
  return text;
}

std::optional<std::uint64_t> SecondsLeft(std::int64_t done, std::int64_t total, double elapsed_seconds) {
  if (done <= 0 || total <= 0 || done >= total || elapsed_seconds <= 0) return std::nullopt;
  const double left = elapsed_seconds * static_cast<double>(total - done) / static_cast<double>(done);
  return static_cast<std::uint64_t>(left + 0.5);
}

}  // namespace ostrel
