// Flash and RAM backups.
//
// A backup runs one link session: it opens the link, lets the protocol object read the
// image into the file, measures the speed from before the link was opened, ends the
// session and frees the link. The session is ended on every path, also when an error
// leaves the operation, before the error goes on to the caller.

#include "operations/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#include "base/error.h"
#include "base/text.h"
#include "operations/backup_target.h"
#include "operations/link_session.h"
#include "operations/read_only_file.h"

namespace ostrel {

namespace {

using Clock = std::chrono::steady_clock;

// Both read-outs name the calculator's storage device.
constexpr const char* kStorageName = "fls0";

const std::string kLineBreak = "\r\n";

// Asks before a read-only target is overwritten. False when the user keeps the file.
bool ConfirmWritableTarget(const std::string& file, TUserInterface ui) {
  if (!IsReadOnlyFile(file)) return true;
  const std::string question = "File: " + file + kLineBreak + "is readonly!" + kLineBreak + "Unlock?";
  if (ui.MessageBox(DialogKind::Warning, question, DialogButtons::YesNo) != mrYes) return false;
  if (!UnlockReadOnlyFile(file)) {
    // Reported once; creating the file then fails with the system's own reason.
    ui.MessageBox(DialogKind::Error,
                  "File: " + file + kLineBreak + "is still readonly!" + kLineBreak +
                      "Unlock failed. Check access rights.",
                  DialogButtons::OK);
  }
  return true;
}

double BytesPerSecond(std::uint64_t bytes, Clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  return seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
}

// Overwrites the calculator ID of a written flash image with 0xFF bytes, leaving every
// other byte as it is. An image too short to hold the ID field (a read-out that stopped
// very early) is left alone: writing there would pad the file with bytes that never came
// from the calculator.
void BlankCalculatorId(const std::string& file) {
  int fd;
  do {
    fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw IoError("Cannot open file " + file + ": " + std::strerror(errno));

  std::array<std::uint8_t, kCalcIdField.width> blank;
  blank.fill(0xFF);
  const auto offset = static_cast<off_t>(kCalcIdField.offset);
  int error = 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (st.st_size >= offset + static_cast<off_t>(blank.size())) {
    ssize_t written;
    do {
      written = ::pwrite(fd, blank.data(), blank.size(), offset);
    } while (written < 0 && errno == EINTR);
    if (written < 0) error = errno;
    else if (written != static_cast<ssize_t>(blank.size())) error = ENOSPC;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) throw IoError("Cannot write file " + file + ": " + std::strerror(error));
}

// A read-out that ended before the image was complete: the user must not take the short
// file for a backup, and learns where the bytes are, why it ended and that the target
// was kept.
void ReportIfIncomplete(const TBackupDetails& details, const std::string& target, bool target_existed,
                        TUserInterface ui) {
  if (details.stage != BackupStage::ReadOut || details.bytes_written >= details.image_size) return;
  const std::string counts = std::to_string(details.bytes_written) + " of " + std::to_string(details.image_size);
  // A read-out that ended before its first block leaves no file behind to name.
  std::string text = details.file.empty()
                         ? "Backup incomplete: no file was written (" + counts + " bytes read)."
                         : "Backup incomplete: " + details.file + kLineBreak + "holds " + counts + " bytes.";
  if (!details.cause.empty()) text += kLineBreak + "Cause: " + details.cause + ".";
  if (target_existed) text += kLineBreak + target + " was left as it was.";
  ui.MessageBox(DialogKind::Error, text, DialogButtons::OK);
}

// The file a backup's later steps name and check: the one holding the bytes, or (when
// nothing was read) the partial file that does not exist.
std::string HeldFile(const TBackupDetails& details, const std::string& target) {
  return details.file.empty() ? PartialFileName(target) : details.file;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The read-out into the work file; an error that leaves it keeps what was read as the
// partial file and names it.
template <typename ReadOut>
int ReadIntoWorkFile(TFX9860sio& link, TBackupTarget& output, TBackupDetails& details, ReadOut read_out) {
  try {
    return read_out(link, output.WorkFile());
  } catch (const IoError& e) {
    const std::string partial = output.KeepPartial();
    throw IoError(ReplaceAll(e.Text(), output.WorkFile(), output.Target()) +
                  (partial.empty() ? std::string() : "; the bytes read are in " + partial));
  } catch (const Error&) {
    details.file = output.KeepPartial();
    details.bytes_written = link.BytesWritten();
    details.image_size = link.ImageSize();
    details.cause = link.FailureCause();
    throw;
  }
}

// What a backup does with a read-out that has a result, after the session ended: `finish`
// runs on the work file (complete or not); `accept` decides whether a complete image may
// take the target's name (none: it may).
struct TReadOutFinish {
  std::function<void(const std::string& work_file)> finish;
  std::function<bool(const std::string& work_file)> accept;
};

// Names the work file of a complete image: the target, unless `accept` refuses it while a
// file is at the target; the image then goes beside that file, which stays as it was. A
// check that cannot finish (an error leaves it) counts as a refusal, so the image is kept
// before the error goes on.
void NameCompleteImage(TBackupTarget& output, TBackupDetails& details, const TReadOutFinish& hooks) {
  bool accepted = true;
  try {
    if (hooks.accept) accepted = hooks.accept(output.WorkFile());
  } catch (...) {
    details.kept_beside = FileExists(output.Target());
    details.file = details.kept_beside ? output.CommitAs(UnverifiedFileName(output.Target())) : output.Commit();
    throw;
  }
  details.kept_beside = !accepted && FileExists(output.Target());
  details.file = details.kept_beside ? output.CommitAs(UnverifiedFileName(output.Target())) : output.Commit();
}

// One backup session: opens the link, runs the read-out into a work file beside `file`,
// takes its figures and ends the session. With a result, the speed line (measured from
// before the link was opened) comes before the end of the session and the "Backup: " line
// (naming the file that holds the bytes) after it. The result is the read-out's own.
template <typename ReadOut>
TBackupDetails RunReadOutSession(const std::string& file, TOptionWord options, TUserInterface ui,
                                 const TLinkTarget& target, bool posts_session_flag, ReadOut read_out,
                                 const TReadOutFinish& hooks = {}) {
  TBackupDetails details;
  const auto start = Clock::now();
  const bool target_existed = FileExists(file);
  TLinkSession session(options, ui, target, posts_session_flag);
  details.stage = BackupStage::NotConnected;
  if (!session.Start()) {
    details.cause = session.StartFailure();
    return details;
  }
  details.stage = BackupStage::ReadOut;
  TFX9860sio& link = session.Link();

  TBackupTarget output(file);
  try {
    details.result = ReadIntoWorkFile(link, output, details, read_out);
  } catch (const IoError&) {
    throw;
  } catch (const Error&) {
    if (details.bytes_written > 0) session.KeepFlagSet();
    ReportIfIncomplete(details, file, target_existed, ui);
    throw;
  }
  details.bytes_written = link.BytesWritten();
  details.image_size = link.ImageSize();
  if (details.result == 0 || details.bytes_written < details.image_size) {
    details.cause = link.FailureCause();
    // Broken off between blocks: the calculator may still be in the middle of its transfer.
    if (details.bytes_written > 0) session.KeepFlagSet();
  }
  if (details.result != 0) {
    details.bytes_per_second = BytesPerSecond(link.TransferredTotal(), Clock::now() - start);
    link.Report(TransferSpeedText(details.bytes_per_second));
  }
  session.End();
  if (details.result != 0 && hooks.finish) hooks.finish(output.WorkFile());
  if (details.Complete()) {
    NameCompleteImage(output, details, hooks);
  } else {
    details.file = output.KeepPartial();
  }
  if (details.result != 0) link.Report("Backup: " + HeldFile(details, file));
  ReportIfIncomplete(details, file, target_existed, ui);
  return details;
}

// The flash backup; `accept` (optional) checks a complete image before it takes its name.
TBackupDetails FlashBackupDetails(const std::string& file, TOptionWord options, TUserInterface ui,
                                  const TLinkTarget& target, std::function<bool(const std::string&)> accept) {
  ui.Notify(nfStatus, std::string("Backing up the flash..."));  // lets pending messages run
  if (!ConfirmWritableTarget(file, ui)) return {};

  TReadOutFinish hooks;
  hooks.finish = [options](const std::string& written) {
    if (options & OPT_IGNORE_ID) BlankCalculatorId(written);
  };
  hooks.accept = std::move(accept);
  TBackupDetails details = RunReadOutSession(
      file, options, ui, target, true,
      [&](TFX9860sio& link, const std::string& work_file) {
        TDeviceInfoRecord record{};
        std::optional<std::uint32_t> flash_size;
        if (link.GetDeviceInfo(record) == 0) {
          ui.Notify(nfCalcData, DeviceInfoText(record));
          flash_size = FlashCapacity(record);
        }
        return link.ReceiveFlashImage(kStorageName, work_file, options, flash_size);
      },
      hooks);
  if (details.result != 0) details.result = 1;  // any read-out that ran to its end, also one that was stopped
  return details;
}

// The box of a failed verification: the message for the result, and where the image went
// when it did not replace the older file.
void ShowVerificationFailure(ImageCheckResult result, const TBackupDetails& backup, const std::string& target,
                             TUserInterface ui) {
  std::string text = VerificationMessage(result, backup.file);
  if (backup.kept_beside) {
    text += kLineBreak + "The image was saved as " + backup.file + ";" + kLineBreak + target + " was left as it was.";
  }
  ui.MessageBox(DialogKind::Error, text, DialogButtons::OK);
  ui.Notify(nfStatus, std::string("Idle..."));
}

}  // namespace

std::string TransferSpeedText(double bytes_per_second) {
  char text[64];
  std::snprintf(text, sizeof text, "Transfer-speed: %10.0f bytes/sec", bytes_per_second);
  return text;
}

TBackupDetails BackupFlashDetails(const std::string& file, TOptionWord options, TUserInterface ui,
                                  const TLinkTarget& target) {
  return FlashBackupDetails(file, options, ui, target, {});
}

int BackupFlash(const std::string& file, TOptionWord options, TUserInterface ui, const TLinkTarget& target) {
  return BackupFlashDetails(file, options, ui, target).result;
}

TBackupDetails BackupRAMDetails(const std::string& file, TOptionWord options, TUserInterface ui,
                                const TLinkTarget& target) {
  ui.Notify(nfStatus, std::string("Backing up the RAM..."));  // lets pending messages run
  return RunReadOutSession(file, options, ui, target, false, [](TFX9860sio& link, const std::string& work_file) {
    return link.ReceiveRamImage(kStorageName, work_file);
  });
}

int BackupRAM(const std::string& file, TOptionWord options, TUserInterface ui, const TLinkTarget& target) {
  return BackupRAMDetails(file, options, ui, target).result;
}

std::string VerificationMessage(ImageCheckResult result, const std::string& file) {
  switch (result) {
    case icrOK: return "";
    case icrOsVersionError: return "OS-version of the written image NOT OK!";
    case icrFileSizeError: return "Filesize of the written image NOT OK!";
    case icrChecksumError: return "Checksum of the written image NOT OK!";
    case icrCasioWinError: return "\"CASIOWIN\" missing at 0x10000!";
    case icrFileDoesNotExist: return "File" + kLineBreak + "  " + file + kLineBreak + "does not exist!";
    default: return "An unknown error occured!";
  }
}

ImageCheckResult VerifyFlashBackup(const std::string& file, TOptionWord options, TUserInterface ui) {
  const ImageCheckResult result = CheckFlashImage({file, options, false, true, nullptr}, ui).result;
  if (result != icrOK) {
    ui.MessageBox(DialogKind::Error, VerificationMessage(result, file), DialogButtons::OK);
    ui.Notify(nfStatus, std::string("Idle..."));
  }
  return result;
}

TFlashBackupOutcome RunFlashBackup(const std::string& file, TOptionWord options, TUserInterface ui,
                                   const TLinkTarget& target) {
  TFlashBackupOutcome outcome;
  const auto check_before_naming = [&](const std::string& work_file) {
    outcome.check_report = CheckFlashImage({work_file, options, false, true, nullptr}, ui);
    outcome.check = outcome.check_report.result;
    return *outcome.check == icrOK;
  };
  outcome.backup = FlashBackupDetails(file, options, ui, target, check_before_naming);
  if (outcome.check) {
    if (*outcome.check != icrOK) ShowVerificationFailure(*outcome.check, outcome.backup, file, ui);
  } else if (outcome.backup.result != 0) {
    // A read-out that ended early: its partial file is checked as it is.
    outcome.check_report = CheckFlashImage({HeldFile(outcome.backup, file), options, false, true, nullptr}, ui);
    outcome.check = outcome.check_report.result;
    if (*outcome.check != icrOK) ShowVerificationFailure(*outcome.check, outcome.backup, file, ui);
  }
  return outcome;
}

TRamBackupOutcome RunRamBackup(const std::string& file, TOptionWord options, TUserInterface ui,
                               const TLinkTarget& target) {
  return TRamBackupOutcome{BackupRAMDetails(file, options, ui, target)};
}

}  // namespace ostrel
