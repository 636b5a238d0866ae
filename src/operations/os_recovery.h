#pragma once
// OS recovery: rewrites the calculator's flash from a checked flash image through the
// calculator program that upload-and-run starts, and the upload-and-run of a user's
// program through the same operation.
//
// FXOSRecovery gives the result byte the window maps to its messages (0 also for every
// early end whose cause was shown on the way). RunOSRecovery gives, besides that byte, an
// outcome that says whether the flash was rewritten completely (or, for upload-and-run,
// whether the program was sent) and, when not, why: the command line exits 0 only then.

#include <cstdint>
#include <string>

#include "env/operation_status.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"

namespace ostrel {

// Result bytes of FXOSRecovery.
enum RecoveryResult : std::uint8_t {
  rrDone = 0,               // rewritten; uploaded and started; or an early end already shown
  rrRamWriteNoAnswer = 1,   // a RAM write command got no answer
  rrChecksumError = 2,      // image check: checksum wrong
  rrProgramMissing = 3,     // the recovery program was not readable
  rrUploadFileMissing = 4,  // upload-and-run: the upload file was not readable
  rrOsVersionError = 5,     // image check: OS version unknown
  rrImageCheckFailed = 6,   // image check: any other failure
  rrImageMissing = 7,       // image check: the image file does not exist
};

// The LCD contrast values the recovery sets (from the settings, LCD_CONTRAST / ANY_MACHINE);
// any other value leaves the contrast as it is.
inline constexpr int kLowestLcdContrast = 32;
inline constexpr int kHighestLcdContrast = 240;

struct TRecoverySetup {
  TLinkTarget target;
  // The program that recovery uploads; empty: the settings value PROGRAM / RECOVERY_HELPER,
  // and when that is blank too, the carried program "@@MEMFILE@@".
  std::string helper_program;
};

struct TRecoveryOutcome {
  std::uint8_t result = rrDone;
  bool upload_and_run = false;
  bool flash_rewritten = false;  // every block written and acknowledged, the reboot sent
  bool program_started = false;  // upload-and-run: the program was sent
  std::string reason;            // why it ended before that (empty when it did not)
  // The calculator did not take the uploaded program (an error answer, no answer, the link
  // lost): the reason says which; receive mode and another try may help.
  bool upload_refused = false;
  // The error answer that refused the upload ("05": the calculator has no room for it at
  // its load address), empty when the refusal was no error answer.
  std::string upload_refusal_code;
  // The program file to upload was not there at all (rrUploadFileMissing, rrProgramMissing).
  bool program_file_absent = false;
  // The flash was partly erased or written when the recovery ended: the calculator has no
  // complete OS until a recovery runs through.
  bool flash_incomplete = false;
  // The recovery program was started on the calculator and the run ended before it told
  // the program to restart the calculator: the calculator stays in the program (it answers
  // no link command) until it is reset with the RESTART or the P button.
  bool program_left_running = false;

  bool Succeeded() const { return upload_and_run ? program_started : flash_rewritten; }
};

// The highest sector that may be erased and written, from the BIOS type, the option word
// and the image size; and whether the image size fits that machine at all.
std::uint32_t RecoveryWriteLimit(std::uint16_t bios_type, TOptionWord options, std::uint64_t image_size);
bool IsAcceptedImageSize(std::uint16_t bios_type, std::uint64_t image_size);

// True when the image's calculator ID (8 bytes at 0xFFD0) fits the record's BIOS identity:
// an image byte 0xFF matches anything. OPT_IGNORE_ID in `flags`: true without reading.
bool MatchBiosId(const std::string& image_file, const TOsBiosRecord& record, TOptionWord flags);

// The whole operation. `options` with OPT_UPLOAD_AND_RUN uploads `file` and starts it.
TRecoveryOutcome RunOSRecovery(const std::string& file, TOptionWord options, TUserInterface ui,
                               const TRecoverySetup& setup = {});
std::uint8_t FXOSRecovery(const std::string& file, TOptionWord options, TUserInterface ui,
                          const TRecoverySetup& setup = {});

// The error box text the window shows for a result byte (empty: no box).
std::string RecoveryResultMessage(std::uint8_t result, const std::string& file);
std::string UploadResultMessage(std::uint8_t result, const std::string& file);

}  // namespace ostrel
