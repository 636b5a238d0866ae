#include "env/logger.h"

#include <cxxabi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "base/text.h"
#include "env/app_env.h"

namespace ostrel {

namespace {

constexpr int kMaxCountBeforeLine = 1000;  // lines are written while the count is at most this

// The release error log of this run: one per process, like the release routine itself.
struct TReleaseLogState {
  std::mutex mutex;
  int lines = 0;
  std::string last_class;
};

TReleaseLogState& ReleaseLog() {
  static TReleaseLogState state;
  return state;
}

struct TTimestamp {
  std::tm local{};
  int milliseconds = 0;
};

TTimestamp Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  TTimestamp stamp;
  localtime_r(&seconds, &stamp.local);
  stamp.milliseconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return stamp;
}

// "dd.mm.yyyy hh:nn:ss", with ".zzz" when asked.
std::string FormatTimestamp(const TTimestamp& stamp, bool with_milliseconds) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", stamp.local.tm_mday, stamp.local.tm_mon + 1,
                stamp.local.tm_year + 1900, stamp.local.tm_hour, stamp.local.tm_min, stamp.local.tm_sec);
  std::string text = buffer;
  if (with_milliseconds) {
    std::snprintf(buffer, sizeof buffer, ".%03d", stamp.milliseconds);
    text += buffer;
  }
  return text;
}

}  // namespace

void TMiniLogger::LogLine(const std::string& text) {
  if (!enabled) return;
  try {
    if (IsBlank(file_name)) {
      file_name = ProgramBaseName() + ".LOG";
      if (program_dir) {
        std::string dir = ProgramOrDataDir();
        if (!dir.empty()) {
          // The user data directory may not exist yet.
          std::error_code ec;
          std::filesystem::create_directories(dir, ec);
          file_name = dir + "/" + file_name;
        }
      }
    }
    std::ofstream out;
    if (first_write) {
      first_write = false;
      out.open(file_name, std::ios::binary | std::ios::trunc);
    } else {
      out.open(file_name, std::ios::binary | std::ios::app);
      if (!out) out.open(file_name, std::ios::binary | std::ios::trunc);
    }
    if (out) out << ProgramBaseName() << ' ' << FormatTimestamp(Now(), false) << ' ' << text << '\n';
  } catch (...) {
    // A lost line is all that happens.
  }
}

void LogReleaseFailure(int stage, const std::string& class_name) {
  std::string data_dir = AppEnv().PGetValue("UD");
  if (IsBlank(data_dir)) return;

  TReleaseLogState& state = ReleaseLog();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.lines > kMaxCountBeforeLine) return;
  ++state.lines;
  bool first_of_run = state.lines == 1;

  if (data_dir.back() != '/') data_dir += '/';
  std::error_code ec;
  std::filesystem::create_directories(data_dir, ec);
  std::ofstream out(data_dir + "FreeAndNil3_ErrorLog.TXT",
                    std::ios::binary | (first_of_run ? std::ios::trunc : std::ios::app));
  if (!out) return;
  out << FormatTimestamp(Now(), true) << " 00000000 " << IntToHex(static_cast<std::uint64_t>(stage & 0xFF), 2) << ' '
      << class_name << '\n';
}

std::string LastReleasedClassName() {
  TReleaseLogState& state = ReleaseLog();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.last_class;
}

void RecordReleasedClassName(std::string class_name) {
  TReleaseLogState& state = ReleaseLog();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.last_class = std::move(class_name);
}

std::string ReadableClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                         &std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  // Namespaces are not part of a class name; template arguments would be cut wrongly.
  if (name.find('<') == std::string::npos) {
    auto colon = name.rfind("::");
    if (colon != std::string::npos) name = name.substr(colon + 2);
  }
  return name;
}

void NoteReleaseFailure(int stage) noexcept {
  try {
    LogReleaseFailure(stage, LastReleasedClassName());
  } catch (...) {
    // The release log never interrupts the program.
  }
}

void ResetReleaseLogForTesting() {
  TReleaseLogState& state = ReleaseLog();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.lines = 0;
  state.last_class.clear();
}

}  // namespace ostrel
