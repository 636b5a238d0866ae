// `ostrel check IMAGE`: checks a flash image, prints its information on standard output
// and ends with the result code of the check as the exit status (0 OK, 1 unknown OS
// version, 3 file too short, 4 checksum error, 5 no OS signature, 6 no such file), or with
// 7 when the file could not be read.

#include <iostream>
#include <memory>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "cli/cli_common.h"
#include "operations/image_check.h"
#include "operations/known_bios.h"
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

// The information holds the failure message directly followed by the KEY=value lines
// (CR LF ended); printed as a line each. A missing file has the message alone.
void PrintImageInfo(const std::string& info, ostrel::ImageCheckResult result, std::ostream& out) {
  if (result == ostrel::icrFileDoesNotExist) {
    out << info << '\n';
    return;
  }
  std::string lines = info;
  const std::size_t first_key = info.find("FILESIZE=");
  if (first_key != std::string::npos && first_key > 0) {
    out << info.substr(0, first_key) << '\n';
    lines = info.substr(first_key);
  }
  std::size_t start = 0;
  while (start < lines.size()) {
    std::size_t end = lines.find("\r\n", start);
    if (end == std::string::npos) end = lines.size();
    out << lines.substr(start, end - start) << '\n';
    start = end + 2;
  }
}

int RunCheck(const CheckOptions& options, ostrel::cli::TCliContext& context) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  ostrel::TOptionWord option_word = 0;
  if (options.ignore_checksum) option_word |= ostrel::OPT_IGNORE_CHECKSUM;
  if (options.ignore_main_memory) option_word |= ostrel::OPT_IGNORE_MAIN_MEMORY;

  std::string info;
  std::int32_t bios_image_type = ostrel::kBiosTypeUnknown;
  std::uint32_t main_memory_offset = 0;
  std::uint32_t main_memory_sectors = 0;
  ostrel::ImageCheckResult result = ostrel::icrUnknown;
  try {
    result = ostrel::FXCheckImage(options.image, option_word, &main_memory_offset, options.repository, true,
                                  nullptr, info, bios_image_type, &main_memory_sectors, terminal.Ui());
  } catch (const ostrel::IoError& e) {
    terminal.FinishProgress();
    std::cout.flush();
    std::cerr << "ostrel: " << e.Text() << '\n';
    return kReadFailureStatus;
  }
  terminal.FinishProgress();

  PrintImageInfo(info, result, std::cout);
  if (options.ignore_main_memory) {
    std::cout << "MAINMEMORYOFFSET=" << ostrel::IntToHex(main_memory_offset, 8) << '\n'
              << "MAINMEMORYSECTORS=" << main_memory_sectors << '\n';
  }
  return result;
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
                       "Register the image, and every unregistered image beside it, in the folder's "
                       "IMAGEINFO.INI");
      command.callback([options, &context] { context.exit_status = RunCheck(*options, context); });
    }};

}  // namespace
