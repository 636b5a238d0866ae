#pragma once
// Flash and RAM backups: one link session each that copies the calculator's flash or RAM
// into a file, and the check of a written flash image.
//
// BackupFlash and BackupRAM give the plain result codes the front ends have always used;
// the *Details variants return the same code together with what the read-out achieved,
// and RunFlashBackup / RunRamBackup add the verification and a single verdict, which is
// what a front end turns into its final message or exit status.

#include <cstdint>
#include <optional>
#include <string>

#include "env/operation_status.h"
#include "operations/image_check.h"
#include "env/options.h"
#include "protocol/fx9860sio.h"

namespace ostrel {

// How far a backup got.
enum class BackupStage {
  Declined,      // the user kept a read-only target: nothing was touched
  NotConnected,  // the session did not open (no calculator, or a stop while waiting)
  ReadOut,       // the read-out ran (completely or not)
};

struct TBackupDetails {
  int result = 0;  // the value BackupFlash / BackupRAM return
  BackupStage stage = BackupStage::Declined;
  std::uint64_t bytes_written = 0;  // bytes the read-out put into the file
  std::uint64_t image_size = 0;     // bytes a complete image has
  double bytes_per_second = 0;      // the figure of the speed line (read-outs with a result only)
  // The file that holds the bytes read: the target for a complete image, else the partial
  // file beside it (target + ".partial"); empty when nothing was read.
  std::string file;
  // Why the read-out broke off (no answer, link lost, a block out of order, ...); empty
  // when it ran to its end.
  std::string cause;
  // A complete image that failed its check while an older file was at the target: the
  // image went to UnverifiedFileName(target) (named in `file`), the older file stayed.
  bool kept_beside = false;

  // The read-out delivered the whole image.
  bool Complete() const {
    return stage == BackupStage::ReadOut && result != 0 && image_size != 0 && bytes_written == image_size;
  }
};

// The flash image into `file`. Returns 1 when the read-out ran to its end (this includes a
// stop during the transfer), 0 when the user kept a read-only file, the link did not open
// or the read-out was refused or broken off. An image that ends early is reported with an
// error box (bytes held of bytes expected, and why). Raises "Cable error" when `options`
// names no cable; file and link errors leave after the session has been ended.
//
// The read-out writes a new file beside `file`, which takes the name `file` only when the
// image is complete; an older file there is never lost. An incomplete read-out is kept as
// `file` + ".partial" (the details and messages name it).
int BackupFlash(const std::string& file, TOptionWord options, TUserInterface ui, const TLinkTarget& target = {});
TBackupDetails BackupFlashDetails(const std::string& file, TOptionWord options, TUserInterface ui,
                                  const TLinkTarget& target = {});

// The RAM image into `file`. Returns the read-out's own result (not 0 when its loop ran to
// its end), 0 when the link did not open or the read-out was refused or broken off.
int BackupRAM(const std::string& file, TOptionWord options, TUserInterface ui, const TLinkTarget& target = {});
TBackupDetails BackupRAMDetails(const std::string& file, TOptionWord options, TUserInterface ui,
                                const TLinkTarget& target = {});

// Checks a flash image that a backup has just written (no repository, no main-memory
// area). Any result but OK is shown in an error box. Returns the check's result.
ImageCheckResult VerifyFlashBackup(const std::string& file, TOptionWord options, TUserInterface ui);
// The error box text for a verification result (empty for OK).
std::string VerificationMessage(ImageCheckResult result, const std::string& file);

struct TFlashBackupOutcome {
  TBackupDetails backup;
  std::optional<ImageCheckResult> check;  // set when the verification ran
  TImageCheckReport check_report;         // its report (what is wrong), when it ran
  // A complete image that passed the check.
  bool Succeeded() const { return backup.Complete() && check && *check == icrOK; }
};

struct TRamBackupOutcome {
  TBackupDetails backup;
  bool Succeeded() const { return backup.Complete(); }
};

// BackupFlash, then the verification (of the file that holds the bytes) whenever it
// returned nonzero. A complete image is checked before it takes the target's name: one
// that fails its check never replaces an older file there, but goes beside it under
// UnverifiedFileName (with no older file it takes the target's name, as the only copy).
TFlashBackupOutcome RunFlashBackup(const std::string& file, TOptionWord options, TUserInterface ui,
                                   const TLinkTarget& target = {});
TRamBackupOutcome RunRamBackup(const std::string& file, TOptionWord options, TUserInterface ui,
                               const TLinkTarget& target = {});

// "Transfer-speed: %10.0f bytes/sec".
std::string TransferSpeedText(double bytes_per_second);

}  // namespace ostrel
