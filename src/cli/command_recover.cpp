// `ostrel recover IMAGE`: rewrites the calculator's flash from a flash image through the
// uploaded calculator program; `ostrel upload-run FILE`: uploads a program into the
// calculator's RAM and starts it.
//
// Questions (truncation, unknown hardware, type mismatch, the erase warning, the LCD
// contrast) are asked on the terminal, answered Yes by --yes, and No / Cancel without a
// terminal. Ctrl-C stops the erase or the write after the current sector or block.
// Exit status: 0 only when the flash was rewritten completely (upload-run: when the
// program was sent and started), 130 when stopped with Ctrl-C, 1 otherwise; the last line
// on standard error then says why.

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/cable_options.h"
#include "cli/cli_common.h"
#include "env/app_env.h"
#include "operations/os_recovery.h"
#include "protocol/program_file.h"

namespace {

using ostrel::cli::TCliContext;

struct RecoverOptions {
  std::string file;
  bool include_smem = false;
  bool delete_smem = false;
  bool ignore_main_memory = false;
  bool ignore_id = false;
  bool ignore_checksum = false;
  std::optional<int> lcd_contrast;
  std::string helper;
  ostrel::cli::TCableOptions cable;
};

// What the user can do when the program to upload could not be read (`reason` names it).
std::string UnreadableProgramRemedy(const ostrel::TRecoveryOutcome& outcome) {
  if (outcome.result == ostrel::rrUploadFileMissing) {
    return outcome.program_file_absent ? " The file cannot be read: check its name."
                                       : " Name a readable program file (.BIN, .SH3, .SH4).";
  }
  if (outcome.result != ostrel::rrProgramMissing) return "";
  if (outcome.reason.starts_with(ostrel::kBuiltInProgramName)) {
    return " This build carries no calculator program: build it with the SuperH cross tools installed "
           "(scripts/install-deps.sh), or name a program file with --helper FILE.";
  }
  return " The calculator program file cannot be read: name a readable one with --helper FILE or in the "
         "settings (PROGRAM, RECOVERY_HELPER).";
}

// What to do after a link failure that the reason names: another try, and after a flash
// that was partly rewritten, a recovery from the boot code.
std::string LinkFailureAdvice(const ostrel::TRecoveryOutcome& outcome) {
  if (outcome.flash_incomplete) {
    return "; the flash is now incomplete: reset the calculator, put it into receive mode (the boot code's OS "
           "update mode) and run the same recover command again";
  }
  if (outcome.program_left_running) {
    return "; the recovery program is still running on the calculator and answers no link command until the "
           "calculator is reset: press its RESTART button (or the P button on the back), then put it into receive "
           "mode again";
  }
  if (outcome.upload_refused && outcome.upload_refusal_code == "05") {
    // Another try takes the same room: the program itself must change.
    return outcome.upload_and_run
               ? "; the calculator has no room for the program where its header says to load it: upload a program "
                 "built for this calculator (.BIN, .SH3, .SH4) that fits its RAM"
               : "; the calculator has no room for the calculator program where its header says to load it: name "
                 "another one with --helper FILE";
  }
  if (outcome.upload_refused) return std::string(ostrel::cli::kRepeatAdvice);
  return "";
}

// Runs the operation in the frame of a link command and reports how it ended. A contrast
// given goes into the settings, where the recovery reads it, as it starts (as the window
// does): a command that ends before leaves the settings as they were.
int RunRecovery(TCliContext& context, const ostrel::cli::TCableOptions& cable_options, const std::string& file,
                ostrel::TOptionWord extra_bits, const std::string& helper,
                std::optional<int> lcd_contrast = std::nullopt) {
  ostrel::cli::TTerminalUi terminal(context.TerminalOptions());
  ostrel::cli::TCableChoice cable(cable_options, context.trace_file);
  if (const auto* simulator = cable.Simulator(); simulator && !context.quiet) {
    std::cerr << "Simulated calculator at " << simulator->Endpoint() << '\n';
  }
  const bool upload_and_run = (extra_bits & ostrel::OPT_UPLOAD_AND_RUN) != 0;
  return ostrel::cli::RunLinkOperation(terminal, [&](std::string& failure_line) {
    ostrel::TRecoverySetup setup;
    setup.target = cable.Target();
    setup.helper_program = helper;
    if (lcd_contrast) {
      ostrel::SettingsFile().WriteString("LCD_CONTRAST", "ANY_MACHINE", std::to_string(*lcd_contrast));
    }
    const ostrel::TRecoveryOutcome outcome =
        ostrel::RunOSRecovery(file, cable.CableBits() | extra_bits, terminal.Ui(), setup);
    terminal.FinishProgress();
    const std::string message = upload_and_run ? ostrel::UploadResultMessage(outcome.result, file)
                                               : ostrel::RecoveryResultMessage(outcome.result, file);
    if (!message.empty()) terminal.Ui().MessageBox(ostrel::DialogKind::Error, message, ostrel::DialogButtons::OK);
    if (outcome.Succeeded()) {
      std::cout << (upload_and_run ? "Uploaded and started: " : "Flash rewritten from: ") << file << '\n';
    } else {
      failure_line = std::string("ostrel: ") + (upload_and_run ? "program not started: " : "flash not rewritten: ") +
                     (outcome.reason.empty() ? "the operation ended early" : outcome.reason) +
                     UnreadableProgramRemedy(outcome) + LinkFailureAdvice(outcome);
    }
    return outcome.Succeeded();
  });
}

void RunRecoverCommand(const RecoverOptions& options, TCliContext& context) {
  ostrel::TOptionWord bits = 0;
  if (options.include_smem) bits |= ostrel::OPT_INCLUDE_SMEM;
  if (options.delete_smem) bits |= ostrel::OPT_DELETE_SMEM;
  if (options.ignore_main_memory) bits |= ostrel::OPT_IGNORE_MAIN_MEMORY;
  if (options.ignore_id) bits |= ostrel::OPT_IGNORE_ID;
  if (options.ignore_checksum) bits |= ostrel::OPT_IGNORE_CHECKSUM;
  context.exit_status = RunRecovery(context, options.cable, options.file, bits, options.helper, options.lcd_contrast);
}

const ostrel::cli::TCommandRegistration recover_registration{
    "recover", "Rewrite the calculator's flash from a flash image (OS recovery)",
    [](CLI::App& command, TCliContext& context) {
      auto options = std::make_shared<RecoverOptions>();
      command.add_option("IMAGE", options->file, "Flash image file (.fls, .G1S, .bin)")->required();
      command.add_flag("--include-smem", options->include_smem,
                       "The image may hold the storage memory (0x400000 bytes)");
      command.add_flag("--delete-smem", options->delete_smem, "Erase the storage memory");
      command.add_flag("--ignore-main-memory", options->ignore_main_memory,
                       "Keep the main-memory area of the image's OS as it is in the calculator");
      command.add_flag("--ignore-id", options->ignore_id, "Do not compare the calculator ID");
      command.add_flag("--ignore-checksum", options->ignore_checksum, "Skip the image check");
      command
          .add_option("--lcd-contrast", options->lcd_contrast,
                      "LCD contrast to set (32..240; stored in the settings as the window does)")
          ->check(CLI::Range(ostrel::kLowestLcdContrast, ostrel::kHighestLcdContrast));
      command.add_option("--helper", options->helper,
                         "Calculator program to upload instead of the built-in one (settings: PROGRAM / "
                         "RECOVERY_HELPER)");
      ostrel::cli::AddCableOptions(command, options->cable);
      command.footer(
          "Exit status: 0 only when the flash was rewritten completely, 130 stopped with Ctrl-C, 1 otherwise.");
      command.callback([options, &context] { RunRecoverCommand(*options, context); });
    }};

struct UploadOptions {
  std::string file;
  ostrel::cli::TCableOptions cable;
};

const ostrel::cli::TCommandRegistration upload_registration{
    "upload-run", "Upload a program (.BIN, .SH3, .SH4) into the calculator's RAM and start it",
    [](CLI::App& command, TCliContext& context) {
      auto options = std::make_shared<UploadOptions>();
      command.add_option("FILE", options->file, "Program file")->required();
      ostrel::cli::AddCableOptions(command, options->cable);
      command.footer("Exit status: 0 when the program was sent and started, 130 stopped with Ctrl-C, 1 otherwise.");
      command.callback([options, &context] {
        context.exit_status =
            RunRecovery(context, options->cable, options->file, ostrel::OPT_UPLOAD_AND_RUN, std::string());
      });
    }};

}  // namespace
