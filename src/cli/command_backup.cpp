// `ostrel backup-flash FILE` and `ostrel backup-ram FILE`: copy the calculator's flash or
// RAM into a file. A flash backup is checked right after it was written.
//
// Progress, device information, questions and messages go to standard error (the terminal
// user interface); the results (speed, bytes held, verification) to standard output.
// Exit status: 0 for a complete (and, for flash, verified) backup, 130 when stopped with
// Ctrl-C, 1 otherwise.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cable_options.h"
#include "cli/cli_common.h"
#include "operations/backup.h"
#include "operations/backup_target.h"

namespace {

using ostrel::cli::TCliContext;

struct BackupOptions {
  std::string file;
  bool include_smem = false;
  bool ignore_id = false;
  ostrel::cli::TCableOptions cable;
};

// The summary of a read-out on standard output; a backup that never started leaves its
// failure line instead.
void PrintReadOutSummary(const ostrel::TBackupDetails& backup, const std::string& file, std::string& failure_line) {
  switch (backup.stage) {
    case ostrel::BackupStage::Declined:
      failure_line = "ostrel: no backup made: " + file + " is read-only and was kept";
      return;
    case ostrel::BackupStage::NotConnected:
      failure_line = "ostrel: no backup made: no session with the calculator" +
                     (backup.cause.empty() ? std::string() : ": " + backup.cause);
      return;
    case ostrel::BackupStage::ReadOut: break;
  }
  if (backup.result != 0) std::cout << ostrel::TransferSpeedText(backup.bytes_per_second) << '\n';
  // A read-out that ended before its first block left no file.
  const std::string held = backup.file.empty() ? "no file written" : backup.file;
  std::cout << "Backup: " << held << " (" << backup.bytes_written << " of " << backup.image_size << " bytes)\n";
}

// The last line of a backup that did not deliver the whole image: why, where the bytes
// are, and what became of the target (`target_existed`: a file was there before).
void IncompleteCause(const ostrel::TBackupDetails& backup, const std::string& file, bool target_existed,
                     std::string& failure_line) {
  if (backup.stage != ostrel::BackupStage::ReadOut || backup.Complete() || backup.cause.empty()) return;
  failure_line = "ostrel: backup incomplete: " + backup.cause;
  if (!backup.file.empty()) {
    failure_line += "; the " + std::to_string(backup.bytes_written) + " bytes read are in " + backup.file;
  }
  failure_line += "; " + file + (target_existed ? " was not changed" : " was not created");
}

// The last line of a complete image that failed its check: what is wrong, where the image
// went, and what to do.
void FailedCheckCause(const ostrel::TFlashBackupOutcome& outcome, const std::string& file, std::string& failure_line) {
  if (!outcome.backup.Complete() || !outcome.check || *outcome.check == ostrel::icrOK) return;
  const ostrel::TImageCheckFinding finding = ostrel::ImageCheckFinding(outcome.check_report);
  failure_line = "ostrel: the flash image read from the calculator failed its check: " + finding.problem +
                 "; it was saved as " + outcome.backup.file +
                 (outcome.backup.kept_beside ? " and " + file + " was left as it was" : std::string()) +
                 "; repeat the backup: when the check fails again, the calculator's flash holds no intact OS, "
                 "which a recovery from a good image repairs";
}

bool TargetExists(const std::string& file) {
  std::error_code error;
  return std::filesystem::exists(file, error);
}

// Runs one backup with the chosen cable in the frame of a link operation.
template <typename Operation>
void RunBackup(TCliContext& context, const ostrel::cli::TCableOptions& cable_options, Operation operation) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  ostrel::cli::TCableChoice cable(cable_options, context.trace_file);
  if (const auto* simulator = cable.Simulator(); simulator && !context.quiet) {
    std::cerr << "Simulated calculator at " << simulator->Endpoint() << '\n';
  }
  context.exit_status = ostrel::cli::RunLinkOperation(
      terminal, [&](std::string& failure_line) { return operation(cable, terminal, failure_line); });
}

void RunFlashCommand(const BackupOptions& options, TCliContext& context) {
  RunBackup(context, options.cable, [&](const ostrel::cli::TCableChoice& cable, ostrel::cli::TTerminalUi& terminal,
                                        std::string& failure_line) {
    const bool target_existed = TargetExists(options.file);
    ostrel::TOptionWord word = cable.CableBits();
    if (options.include_smem) word |= ostrel::OPT_INCLUDE_SMEM;
    if (options.ignore_id) word |= ostrel::OPT_IGNORE_ID;
    const ostrel::TFlashBackupOutcome outcome =
        ostrel::RunFlashBackup(options.file, word, terminal.Ui(), cable.Target());
    terminal.FinishProgress();
    PrintReadOutSummary(outcome.backup, options.file, failure_line);
    if (outcome.check) std::cout << "Verification: " << ostrel::ImageCheckResultName(*outcome.check) << '\n';
    IncompleteCause(outcome.backup, options.file, target_existed, failure_line);
    FailedCheckCause(outcome, options.file, failure_line);
    return outcome.Succeeded();
  });
}

void RunRamCommand(const BackupOptions& options, TCliContext& context) {
  RunBackup(context, options.cable, [&](const ostrel::cli::TCableChoice& cable, ostrel::cli::TTerminalUi& terminal,
                                        std::string& failure_line) {
    const bool target_existed = TargetExists(options.file);
    const ostrel::TRamBackupOutcome outcome =
        ostrel::RunRamBackup(options.file, cable.CableBits(), terminal.Ui(), cable.Target());
    terminal.FinishProgress();
    PrintReadOutSummary(outcome.backup, options.file, failure_line);
    IncompleteCause(outcome.backup, options.file, target_existed, failure_line);
    return outcome.Succeeded();
  });
}

const ostrel::cli::TCommandRegistration flash_registration{
    "backup-flash", "Read the calculator's flash into an image file and check the image",
    [](CLI::App& command, TCliContext& context) {
      auto options = std::make_shared<BackupOptions>();
      command.add_option("FILE", options->file, "Flash image file to write (.fls, .G1S, .bin)")->required();
      command.add_flag("--include-smem", options->include_smem,
                       "Include the storage memory (0x400000 bytes instead of 0x270000)");
      command.add_flag("--ignore-id", options->ignore_id, "Erase the calculator ID in the written image");
      ostrel::cli::AddCableOptions(command, options->cable);
      command.footer("Exit status: 0 complete and verified, 130 stopped with Ctrl-C, 1 otherwise.");
      command.callback([options, &context] { RunFlashCommand(*options, context); });
    }};

const ostrel::cli::TCommandRegistration ram_registration{
    "backup-ram", "Read the calculator's RAM into a file",
    [](CLI::App& command, TCliContext& context) {
      auto options = std::make_shared<BackupOptions>();
      command.add_option("FILE", options->file, "RAM image file to write (.RAM)")->required();
      ostrel::cli::AddCableOptions(command, options->cable);
      command.footer("Exit status: 0 complete, 130 stopped with Ctrl-C, 1 otherwise.");
      command.callback([options, &context] { RunRamCommand(*options, context); });
    }};

}  // namespace
