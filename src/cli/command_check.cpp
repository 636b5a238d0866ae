// `ostrel check IMAGE`: checks a flash image, prints its information on standard output
// and ends with the result code of the check as the exit status (0 OK, 1 unknown OS
// version, 3 file too short, 4 checksum error, 5 no OS signature, 6 no such file), or with
// 7 when the file could not be read.

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "cli/cli_common.h"
#include "operations/image_check.h"
#include "env/options.h"

namespace {

// The exit status of a check that could not read the file (permission, read error); apart
// from every result code of the check itself.
constexpr int kReadFailureStatus = 7;

constexpr const char* kStatusTable =
    "Exit status:\n"
    "  0  OK (or --ignore-checksum)\n"
    "  1  OS version at 0x10020 unknown\n"
    "  3  file too short for a flash image or for its OS\n"
    "  4  OS checksum wrong\n"
    "  5  no CASIOWIN signature at 0x10000\n"
    "  6  no such file (also a folder, a FIFO or a device)\n"
    "  7  the file could not be read (permission, I/O error)";

struct CheckOptions {
  std::string image;
  bool ignore_checksum = false;
  bool ignore_main_memory = false;
  bool repository = false;
};

// The failure message (when there is one), then a line per KEY=value.
void PrintImageInfo(const ostrel::TImageCheckReport& report, std::ostream& out) {
  if (!report.message.empty()) out << report.message << '\n';
  for (const auto& line : report.lines) out << line.key << '=' << line.value << '\n';
}

int RunCheck(const CheckOptions& options, ostrel::cli::TCliContext& context) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  ostrel::TOptionWord option_word = 0;
  if (options.ignore_checksum) option_word |= ostrel::OPT_IGNORE_CHECKSUM;
  if (options.ignore_main_memory) option_word |= ostrel::OPT_IGNORE_MAIN_MEMORY;

  std::optional<ostrel::TImageCheckReport> checked;
  try {
    checked = ostrel::CheckFlashImage({options.image, option_word, options.repository, true, nullptr}, terminal.Ui());
  } catch (const ostrel::IoError& e) {
    terminal.FinishProgress();
    std::cout.flush();
    std::cerr << "ostrel: " << e.Text() << ": the image could not be read; check its path and permissions, or use another image"
              << '\n';
    return kReadFailureStatus;
  }
  const ostrel::TImageCheckReport& report = *checked;
  // The check posts the start of each block it sums: once the OS was summed, it is read to its end.
  if (!report.Value("OSCHKCALC").empty()) terminal.CompleteProgress();
  terminal.FinishProgress();

  PrintImageInfo(report, std::cout);
  if (options.ignore_main_memory) {
    const ostrel::TMainMemoryArea area = report.main_memory.value_or(ostrel::TMainMemoryArea{});
    std::cout << "MAINMEMORYOFFSET=" << ostrel::IntToHex(area.offset, 8) << '\n'
              << "MAINMEMORYSECTORS=" << area.sectors << '\n';
  }
  // The verdict in words, as the last line a user sees.
  if (const std::string verdict = ostrel::ImageCheckVerdict(report, options.image); !verdict.empty()) {
    std::cout.flush();
    std::cerr << "ostrel: " << verdict << '\n';
  }
  return report.result;
}

const ostrel::cli::TCommandRegistration registration{
    "check", "Check a flash image file and print its information (exit status: the check's result code)",
    [](CLI::App& command, ostrel::cli::TCliContext& context) {
      auto options = std::make_shared<CheckOptions>();
      command.add_option("IMAGE", options->image, "Flash image file (.fls, .G1S, .bin)")->required();
      command.add_flag("--ignore-checksum", options->ignore_checksum, "Skip the check: the file is not read");
      command.add_flag("--ignore-main-memory", options->ignore_main_memory,
                       "Also print where the main-memory area of the image's OS lies");
      command.footer(kStatusTable);
      command.add_flag("--repository", options->repository,
                       "Register the image, and every unregistered .G1S or .FLS image beside it, in the "
                       "folder's IMAGEINFO.INI");
      command.callback([options, &context] { context.exit_status = RunCheck(*options, context); });
    }};

}  // namespace
