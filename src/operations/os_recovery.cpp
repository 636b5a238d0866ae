// OS recovery and upload-and-run.
//
// The recovery runs in phases, each of which either goes on or ends the operation with a
// reason: preparation and image check, link and identification, upload of the calculator
// program, the machine checks (GII-2, LCD contrast, OS/BIOS record, size and write limit,
// hardware, cable, a restart into the boot code with a second pass), the final checks
// (caller, type, calculator ID, the erase warning), erase, write and reboot. The end path
// (image file closed, session ended, logger released) runs on every exit, also when an
// error leaves the operation.
//
// Flash addressing: image offset o is flash address 0xA0000000 + o; sectors of 64 KiB;
// sector 0 is never erased or written; the block at 0xA0010000 (the OS header) is written
// last, so an interrupted write leaves no valid OS behind it.

#include "operations/os_recovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/small_file.h"
#include "base/text.h"
#include "env/app_env.h"
#include "env/logger.h"
#include "operations/flash_image_layout.h"
#include "operations/image_check.h"
#include "operations/image_reader.h"
#include "operations/link_session.h"
#include "protocol/message_wait.h"
#include "protocol/packet_codec.h"
#include "protocol/program_file.h"

namespace ostrel {

namespace {

using Clock = std::chrono::steady_clock;

const std::string kCrLf = "\r\n";
const std::string kPlainAck = AnswerHeader(kTypeAck, "00", '0');
constexpr std::uint32_t kFirstWrittenBlock = kFlashBaseAddress + 0x20000;
constexpr std::uint32_t kOsHeaderBlock = kFlashBaseAddress + kOsStart;
constexpr std::uint32_t kSmallLimit = 0x26;   // up to 0x270000: the storage memory is kept
constexpr std::uint32_t kLargeLimit = 0x3F;   // up to 0x400000: the storage memory is rewritten
constexpr std::uint32_t kFx7400Limit = 0x1F;  // 0x200000
constexpr std::uint64_t kSmallImage = 0x270000;
constexpr std::uint64_t kLargeImage = 0x400000;
constexpr std::uint64_t kFx7400Image = 0x200000;
constexpr std::uint16_t kBiosTypeFx7400 = 5;
// How long a calculator told to restart may take to drop off the USB bus.
constexpr std::chrono::milliseconds kRestartLeaveLimit{3000};
// Extra attempts to reach the boot code after the restart.
constexpr int kReconnectRetries = 2;

std::string Hex8(std::uint64_t value) { return IntToHex(value, 8); }

// The blocks written so far and the speed line "average/maximum/current" in bytes per
// second of the link.
struct WriteProgress {
  std::int64_t counter = 1;
  std::uint64_t total_bytes = 0;
  double total_seconds = 0;
  std::uint64_t maximum_speed = 0;

  std::string SpeedText(std::uint64_t block_bytes, double seconds) {
    total_seconds += seconds;
    total_bytes += block_bytes;
    const std::uint64_t current = seconds > 0 ? static_cast<std::uint64_t>(block_bytes / seconds) : 0;
    maximum_speed = std::max(maximum_speed, current);
    const std::uint64_t average =
        total_seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(total_bytes) / total_seconds) : 0;
    return std::to_string(average) + "/" + std::to_string(maximum_speed) + "/" + std::to_string(current);
  }
};

std::string CallerLine(std::uint16_t caller) {
  switch (caller) {
    case 0: return "invoked by BIOS";
    case 1: return "invoked by fx-9860 OS";
    case 2: return "invoked by fx-9750GII OS";
    case 3: return "invoked by fx-7400GII OS";
    case 4: return "invoked by fx-9750GII OS (FRANCE)";
    default: return "invoked by unknown system";
  }
}

enum class UpdaterCable { Usb, Serial, None };

struct BiosRow {
  const char* line;
  UpdaterCable cable;
};

BiosRow BiosRowOf(std::uint16_t bios_type) {
  static constexpr BiosRow kRows[] = {
      {"BIOS: G", UpdaterCable::Usb},      {"BIOS: slim", UpdaterCable::Usb},
      {"BIOS: 9860GII/9750GII", UpdaterCable::Usb}, {"BIOS: AU", UpdaterCable::Usb},
      {"BIOS: G (old)", UpdaterCable::Usb}, {"BIOS: 7400GII", UpdaterCable::Serial},
      {"BIOS: CG20", UpdaterCable::Serial}, {"BIOS: GII-2", UpdaterCable::Usb},
  };
  if (bios_type < std::size(kRows)) return kRows[bios_type];
  return {"BIOS: unknown", UpdaterCable::None};
}

// The lines for every hardware field with a value the recovery does not know.
std::string UnknownHardwareText(const TOsBiosRecord& record) {
  std::string text;
  if (record.flash_device != 0x7E0A00 && record.flash_device != 0x49) {
    text += "Flash device: " + Hex8(record.flash_device) + kCrLf;
  }
  if (record.flash_manufacturer != 1) text += "Flash manufacturer: " + Hex8(record.flash_manufacturer) + kCrLf;
  if (record.processor_version != 0x10300B00 && record.processor_version != 0) {
    text += "Processor version: " + Hex8(record.processor_version) + kCrLf;
  }
  if (record.product != 0x2C00 && record.product != 0) text += "Product: " + Hex8(record.product) + kCrLf;
  return text;
}

// A field of the device record without its 0xFF padding.
std::string RecordText(const TDeviceInfoRecord& record, std::size_t offset, std::size_t size) {
  std::string text;
  for (std::size_t i = offset; i < offset + size; ++i) {
    if (record[i] != 0xFF) text += static_cast<char>(record[i]);
  }
  return text;
}

// A decimal integer, or -1 for any other text.
long long ContrastValue(const std::string& text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return -1;
  std::size_t used = 0;
  try {
    const long long value = std::stoll(trimmed, &used, 10);
    return used == trimmed.size() ? value : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

// Why a program file could not be uploaded: "<file> missing!" when there is nothing at the
// path (or the carried program is absent; `absent` is set then), else a sentence that says
// what the path is or why it cannot be read.
std::string UnreadableProgramReason(const std::string& path, bool& absent) {
  struct stat status {};
  if (path == kBuiltInProgramName || ::stat(path.c_str(), &status) != 0) {
    const int error = errno;
    absent = path == kBuiltInProgramName || error == ENOENT || error == ENOTDIR;
    if (absent) return path + " missing!";
    return path + " cannot be looked at (" + std::strerror(error) + ").";
  }
  if (!S_ISREG(status.st_mode)) return path + " is " + NonFileKind(status.st_mode) + ", not a file.";
  if (::access(path.c_str(), R_OK) != 0) return path + " cannot be read (" + std::strerror(errno) + ").";
  return path + " cannot be read.";
}

class OsRecovery {
 public:
  OsRecovery(const std::string& file, TOptionWord options, TUserInterface ui, const TRecoverySetup& setup)
      : file_(file), options_(options), ui_(ui), setup_(setup) {
    outcome_.upload_and_run = (options & OPT_UPLOAD_AND_RUN) != 0;
  }

  TRecoveryOutcome Run();

 private:
  // ---- logging and ending ----
  void Log(const std::string& text) {
    if (logger_) logger_->LogLine(text);
  }
  void LogBlock(const std::string& title, const std::string& text) {
    if (!logger_) return;
    Log(title);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find(kCrLf, start);
      if (end == std::string::npos) end = text.size();
      Log("  " + text.substr(start, end - start));
      start = end + kCrLf.size();
    }
  }
  // Ends the operation early: the reason for the outcome. Always false.
  bool Stop(const std::string& reason) {
    if (outcome_.reason.empty()) outcome_.reason = reason;
    return false;
  }
  bool Failed(const std::string& reason, std::uint8_t result) {
    outcome_.result = result;
    return Stop(reason);
  }
  bool CommunicationFailed(const std::string& log_text, const std::string& reason) {
    Log(log_text);
    ui_.MessageBox(DialogKind::Error, "Communication failed!", DialogButtons::OK);
    return Stop(reason);
  }
  // The calculator did not take the uploaded `what`: the link says why.
  bool UploadRefused(const std::string& what) {
    outcome_.upload_refused = true;
    outcome_.upload_refusal_code = Link().UploadRefusalCode();
    const std::string& cause = Link().FailureCause();
    return Stop("the calculator did not accept " + what + (cause.empty() ? "" : ": " + cause));
  }
  // "Reboot and end".
  bool RebootAndStop(const std::string& reason) {
    SendForceReboot();
    Link().Report("Reboot the calculator!");
    return Stop(reason);
  }
  void EndPath();
  // Tells the program to restart the calculator (it leaves the program).
  void SendForceReboot() {
    Link().SendExtended(TExtendedCommand::ForceReboot);
    program_running_ = false;
  }

  // True while the user has not asked to stop; else the run ends with a reason that says
  // where it stopped and what became of the flash.
  bool GoOn(const char* phase) {
    if (StopRequest() == stopNone) return true;
    Log(std::string("external_cancel: ") + phase);
    return Stop(std::string("stopped ") + phase +
                (flash_touched_ ? " (the calculator needs a recovery)" : " (the flash was not touched)"));
  }
  // An answer that did not come because the user stopped: the run ends as a stop, without
  // the communication box.
  bool StoppedWhileWaiting(const TAnswer& answer, const char* phase) {
    if (answer.end != TLinkEnd::Stopped) return false;
    GoOn(phase);
    return true;
  }

  // ---- phases ----
  bool CheckUploadFile();
  bool LoadImage(const TImageCheckReport& report);
  void ReadSettings();
  bool CheckImage();
  bool OpenLink();
  bool Identify();
  bool Upload();
  bool MachineChecks();
  bool CheckGii2();
  bool SetContrast();
  bool QueryOsBios();
  bool CheckSizeAndLimit();
  bool CheckHardware();
  bool CheckCable();
  bool RestartIntoBios();
  bool FinalChecks();
  bool Erase();
  bool Write();
  bool WriteBlock(std::uint32_t address, std::span<const std::uint8_t> block, WriteProgress& progress);
  bool StageBlock(std::uint32_t address, std::span<const std::uint8_t> block, std::uint64_t& sent_bytes);
  bool SyncBeforeReboot();
  void Reboot();

  bool InKeptRegion(std::uint32_t address) const {
    return kept_start_ != 0 && address >= kept_start_ && address < kept_end_;
  }
  std::string ProgramToUpload() const;

  const std::string file_;
  const TOptionWord options_;
  const TUserInterface ui_;
  const TRecoverySetup& setup_;
  TRecoveryOutcome outcome_;

  std::unique_ptr<TMiniLogger> logger_;
  std::unique_ptr<TLinkSession> session_;
  TFX9860sio& Link() { return session_->Link(); }
  std::vector<std::uint8_t> image_bytes_;  // the checked image, read once before anything is erased
  bool flash_touched_ = false;  // the first erase command went out
  bool program_running_ = false;  // the recovery program runs and was not told to restart

  bool use_repository_ = false;
  long long contrast_ = -1;
  bool contrast_confirmed_ = false;
  std::string image_info_;
  std::int32_t bios_image_type_ = kBiosTypeUnknown;
  std::uint32_t kept_start_ = 0;
  std::uint32_t kept_end_ = 0;

  TDeviceInfoRecord device_{};
  std::string os_version_;
  std::string calculator_text_;
  TOsBiosRecord record_;
  std::string system_text_;
  std::uint64_t image_size_ = 0;
  Clock::duration longest_flash_write_{};
  std::uint32_t limit_ = 0;
  int pass_ = 1;
};

void OsRecovery::ReadSettings() {
  const TIniFile settings = SettingsFile();
  if (settings.ReadFlag("PROGRAM", "LOGGING", false)) {
    logger_ = std::make_unique<TMiniLogger>();
    logger_->enabled = true;
    logger_->program_dir = true;
  }
  use_repository_ = settings.ReadFlag("PROGRAM", "MAINT_IMAGE_REPOSITORY", false);
  contrast_ = ContrastValue(settings.ReadString("LCD_CONTRAST", "ANY_MACHINE", ""));
}

std::string OsRecovery::ProgramToUpload() const {
  if (outcome_.upload_and_run) return file_;
  if (!IsBlank(setup_.helper_program)) return setup_.helper_program;
  const std::string configured = SettingsFile().ReadString("PROGRAM", "RECOVERY_HELPER", "");
  if (!IsBlank(configured)) return configured;
  return std::string(kBuiltInProgramName);
}

TRecoveryOutcome OsRecovery::Run() {
  outcome_.result = rrDone;
  ReadSettings();
  Log("Start:FX9860_transfer_protocol.FXOSRecovery");
  // Upload'n'Run sends a program of the user's: nothing of a recovery is shown for it.
  ui_.Notify(nfStatus, std::string(outcome_.upload_and_run ? "Upload'n'Run" : "OS recovery"));
  ui_.ProcessMessages();
  try {
    if (CheckUploadFile() && CheckImage() && GoOn("before the link was opened") && OpenLink() &&
        GoOn("before the calculator was asked") && Identify()) {
      for (;;) {
        if (!GoOn("before the upload") || !Upload()) break;
        if (outcome_.upload_and_run) {
          // The calculator starts the program only after taking every block.
          outcome_.program_started = Link().UploadAccepted();
          if (!outcome_.program_started) UploadRefused("the upload");
          break;
        }
        if (!Link().UploadAccepted()) {
          // The program is not running: its commands would only time out one by one.
          UploadRefused("the recovery program");
          break;
        }
        program_running_ = true;
        if (!GoOn("after the upload") || !MachineChecks() || !GoOn("during the machine checks")) break;
        if (record_.caller_code >= 1 && record_.caller_code <= 4) {
          if (!RestartIntoBios()) break;
          ++pass_;
          continue;
        }
        if (FinalChecks() && GoOn("before the erase") && Erase() && Write() && SyncBeforeReboot()) Reboot();
        break;
      }
    }
  } catch (...) {
    try {
      EndPath();
    } catch (...) {
      // The first error is the one the caller needs to see.
    }
    throw;
  }
  EndPath();
  outcome_.flash_incomplete = flash_touched_ && !outcome_.flash_rewritten;
  outcome_.program_left_running = program_running_;
  return outcome_;
}

// Upload'n'Run: a program file that cannot be read ends the run before the calculator is
// contacted (the recovery's own program is looked at when it is uploaded).
bool OsRecovery::CheckUploadFile() {
  if (!outcome_.upload_and_run || OpenProgramFile(file_)) return true;
  ui_.Notify(nfStatus, file_ + " missing!");
  Log("fxsio.FXUploadAndRun failed");
  return Failed(UnreadableProgramReason(file_, outcome_.program_file_absent), rrUploadFileMissing);
}

// Ends the session on every path. The session flag goes back to 0, unless the flash was
// left partly erased or written: then it stays set, so that the window's stop report
// advises resetting the calculator.
void OsRecovery::EndPath() {
  if (session_) {
    if (flash_touched_ && !outcome_.flash_rewritten) session_->KeepFlagSet();
    Log(session_->IsOpen() ? "fxsio.FStop" : "fxsio.FXClosed");
    const std::unique_ptr<TLinkSession> ending = std::move(session_);
    Log("FreeAndNil3( fxsio )");
    if (ending->IsOpen()) ending->End();
  }
  Log("FreeAndNil3( ml )");
  FreeAndNil3(logger_);
}

bool OsRecovery::CheckImage() {
  if (outcome_.upload_and_run) {
    Log("fxUpload_n_Run");
  } else {
    Log("FXCheckImage");
    const TImageCheckReport report = CheckFlashImage({file_, options_, use_repository_, true, logger_.get()}, ui_);
    image_info_ = report.ImageInfo();
    if (report.bios_image_type) bios_image_type_ = *report.bios_image_type;
    if (report.result != icrOK) {
      std::uint8_t result = rrImageCheckFailed;
      if (report.result == icrOsVersionError) result = rrOsVersionError;
      if (report.result == icrChecksumError) result = rrChecksumError;
      if (report.result == icrFileDoesNotExist) result = rrImageMissing;
      Log("FXCheckImage Error: " + std::to_string(result));
      return Failed("the image check failed: " + ImageCheckVerdict(report, file_), result);
    }
    if (report.main_memory && report.main_memory->offset != 0) {
      kept_start_ = kFlashBaseAddress + report.main_memory->offset;
      kept_end_ = kept_start_ + report.main_memory->sectors * kFlashSectorSize;
    }
    if (!LoadImage(report)) return false;
  }
  Log("Imagename: " + file_);
  LogBlock("ImageInfo", image_info_);
  if (!outcome_.upload_and_run) ui_.Notify(nfImageData, "Imagename: " + kCrLf + file_ + kCrLf + image_info_);
  return true;
}

// Reads the checked image into memory once, before the calculator is touched: the erase
// and the writes then use exactly the bytes that passed the check. A file that changed
// since (another size, another OS checksum) ends the run here.
bool OsRecovery::LoadImage(const TImageCheckReport& report) {
  // More than any accepted image: the size check refuses it before anything is written.
  constexpr std::uint64_t kMostLoaded = 0x1000000;
  ImageReader file(file_);
  image_size_ = file.Size();
  image_bytes_.resize(static_cast<std::size_t>(std::min(image_size_, kMostLoaded)));
  const std::size_t got = file.ReadAt(0, image_bytes_.data(), image_bytes_.size());
  file.Close();
  std::string changed;
  if (got != image_bytes_.size() || (report.file_size && *report.file_size != image_size_)) {
    changed = std::to_string(got) + " bytes read now, " + std::to_string(report.file_size.value_or(0)) +
              " when it was checked";
  } else if (report.os_layout && report.os_checksum &&
             OsChecksum(image_bytes_, *report.os_layout) != *report.os_checksum) {
    changed = "its OS checksum is no longer the one the check computed";
  }
  if (changed.empty()) return true;
  return Stop("the image file " + file_ + " changed after its check (" + changed +
              "): nothing was sent; make sure no other program writes it and run the recovery again");
}

bool OsRecovery::OpenLink() {
  const LinkKind kind = CableLinkKind(options_);  // "Cable error" before a link exists
  Log(kind == LinkKind::Serial ? "Create sio" : "Create USB");
  session_ = std::make_unique<TLinkSession>(options_, ui_, setup_.target, true);
  Log("Create comm successful");
  Log("Start comm");
  if (!session_->Start(true, 0)) {
    const std::string& cause = session_->StartFailure();
    return Stop("no session with the calculator" + (cause.empty() ? std::string(" (is it in receive mode?)") : ": " + cause));
  }
  Log("Start comm successful");
  ui_.Notify(nfStatus, std::string("Checking system"));
  return true;
}

bool OsRecovery::Identify() {
  device_.fill(0);
  Log("fxcmdSTART");
  Link().Report("Trying to connect...stay put 5 seconds!");
  const TAnswer contact = Link().Exchange("00", {}, kTypeCheck, false, false);
  if (!contact.Is(kPlainAck) && !contact.Is(AnswerHeader(kTypeError, "04", '0'))) {
    ui_.MessageBox(DialogKind::Error, "Communication failed!", DialogButtons::OK);
    return Stop("the calculator did not answer the first check");
  }
  Log("fxcmdSTART successful");
  Log("fxcmdGETDEVICEINFO");
  Log(Link().GetDeviceInfo(device_) == 0 ? "fxcmdGETDEVICEINFO successful" : "fxcmdGETDEVICEINFO failed");
  os_version_ = RecordText(device_, 96, 16);
  Log("sOScodeversion " + os_version_);
  Log("sProcessorID " + RecordText(device_, 8, 16));
  calculator_text_ = DeviceInfoText(device_);
  ui_.Notify(nfCalcData, calculator_text_);
  LogBlock("Calculator data", calculator_text_);
  ui_.Notify(nfStatus, std::string("Loading..."));
  return true;
}

bool OsRecovery::Upload() {
  const std::string program = ProgramToUpload();
  Log("Before fxsio.FXUploadAndRun");
  // The program is read here, whole; the link only sends bytes.
  const std::optional<std::vector<std::uint8_t>> bytes = LoadProgramFile(program);
  if (bytes) Link().UploadAndRun(*bytes, program, "0");
  if (!bytes) {
    ui_.Notify(nfStatus, program + " missing!");
    Log("fxsio.FXUploadAndRun failed");
    const std::string reason = UnreadableProgramReason(program, outcome_.program_file_absent);
    return Failed(reason, outcome_.upload_and_run ? rrUploadFileMissing : rrProgramMissing);
  }
  Log("fxsio.FXUploadAndRun successful");
  return true;
}

bool OsRecovery::MachineChecks() {
  return CheckGii2() && SetContrast() && QueryOsBios() && CheckSizeAndLimit() && CheckHardware() && CheckCable();
}

bool OsRecovery::CheckGii2() {
  if (os_version_.substr(0, 6) == "02.02.") {
    ui_.MessageBox(DialogKind::Information,
                   "The connected machine seems to be a GII-2." + kCrLf +
                       "It is not possible to do a recovery from out of OS 2.02." + kCrLf +
                       "Start the primary OS updater and retry, please." + kCrLf + "(F2-AC/on-4-RESTART...9-x)" + kCrLf,
                   DialogButtons::OK);
    return Stop("a GII-2 running OS 2.02 cannot be recovered from its OS");
  }
  if (os_version_ == "00.10.0300") {
    Log("GII-2 => before try to reconnect");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ui_.MessageBox(DialogKind::Information,
                   "The connected machine seems to be a GII-2." + kCrLf +
                       "Wait until the calculator displays \"Waiting...\" and then hit OK.",
                   DialogButtons::OK);
    // The program re-initialises USB when it starts; a serial line stays as it is.
    if (Link().Kind() == LinkKind::Usb) Link().Open(Link().UsbConnection());
    Log("GII-2 => after try to reconnect");
  }
  return true;
}

bool OsRecovery::SetContrast() {
  if (contrast_ < kLowestLcdContrast || contrast_ > kHighestLcdContrast) return true;
  for (;;) {
    Log("fxEXcmdLCD_CONTRAST: " + Hex8(static_cast<std::uint32_t>(contrast_)));
    const TAnswer answer =
        Link().SendExtended(TExtendedCommand::LcdContrast, BigEndianWords({static_cast<std::uint32_t>(contrast_)}));
    if (!answer.Is(kPlainAck)) {
      return CommunicationFailed("fxEXcmdLCD_CONTRAST: Communication failed!", "the LCD contrast was not acknowledged");
    }
    if (contrast_confirmed_) return true;
    if (ui_.MessageBox(DialogKind::Confirmation, "LCD contrast OK?", DialogButtons::YesNo) != mrNo) {
      contrast_confirmed_ = true;
      return true;
    }
    const std::string shown = std::to_string(contrast_);
    const std::optional<std::string> entered =
        ui_.dialogs ? ui_.dialogs->InputBox("LCD contrast", "A value between 155 and 165 should be OK", shown)
                    : std::nullopt;
    if (!entered) {
      // A cancelled box keeps the value shown; asking again would never end where nobody
      // can answer, so the value counts as accepted.
      contrast_confirmed_ = true;
      return true;
    }
    contrast_ = ContrastValue(*entered);
    ui_.Notify(nfLCDContrast, static_cast<std::int64_t>(contrast_));
  }
}

bool OsRecovery::QueryOsBios() {
  Link().WaitForSilence();
  if (!GoOn("before the OS/BIOS query")) return false;
  Log("fxEXcmd_OS_BIOS");
  const TOsBiosQuery query = Link().QueryOsBios(record_);
  if (!GoOn("during the OS/BIOS query")) return false;
  switch (query) {
    case TOsBiosQuery::NoAnswer:
      Log("Calculator not responding!");
      ui_.MessageBox(DialogKind::Error, "Calculator not responding!" + kCrLf + "Check calculator messages.",
                     DialogButtons::OK);
      return Stop("the calculator program did not answer the OS/BIOS query");
    case TOsBiosQuery::Failed:
      Log("fxEXcmd_OS_BIOS failed");
      return Stop("the calculator program did not send its OS/BIOS record");
    case TOsBiosQuery::Received: break;
  }
  Log("fxEXcmd_OS_BIOS successful");
  calculator_text_ = DeviceInfoText(device_) + kCrLf + "PVR:" + Hex8(record_.processor_version) + kCrLf + "PRR:" +
                     Hex8(record_.product);
  ui_.Notify(nfCalcData, calculator_text_);
  LogBlock("Calculator data", calculator_text_);
  return true;
}

bool OsRecovery::CheckSizeAndLimit() {
  limit_ = RecoveryWriteLimit(record_.bios_type, options_, image_size_);
  if (!IsAcceptedImageSize(record_.bios_type, image_size_)) {
    ui_.MessageBox(DialogKind::Error, "Invalid filesize " + Hex8(image_size_), DialogButtons::OK);
    return Stop("the image size " + Hex8(image_size_) + " does not fit this calculator");
  }
  const std::uint64_t covered = (std::uint64_t{limit_} + 1) * kFlashSectorSize;
  if (covered < image_size_) {
    const std::string question = "Filesize " + Hex8(image_size_) + " exceeds the limit " + Hex8(covered) + "." + kCrLf +
                                 "The data written will be truncated. Proceed?";
    if (ui_.MessageBox(DialogKind::Warning, question, DialogButtons::YesNo) == mrNo) {
      return Stop("the truncation of the image was declined");
    }
  }
  return true;
}

bool OsRecovery::CheckHardware() {
  const std::string unknown = UnknownHardwareText(record_);
  if (IsBlank(unknown)) return true;
  Log("Unknown hardware:\r\n" + ReplaceAll(unknown, kCrLf, "//", false));
  if (ui_.MessageBox(DialogKind::Warning, "Unknown hardware:" + kCrLf + unknown + "Continue?", DialogButtons::YesNo) ==
      mrNo) {
    return Stop("unknown hardware: declined");
  }
  Log("Unknown hardware ignored");
  return true;
}

bool OsRecovery::CheckCable() {
  if (IsBlank(system_text_)) {
    system_text_ = CallerLine(record_.caller_code) + kCrLf + BiosRowOf(record_.bios_type).line + kCrLf;
  }
  const UpdaterCable needed = BiosRowOf(record_.bios_type).cable;
  const UpdaterCable used = Link().Kind() == LinkKind::Serial ? UpdaterCable::Serial : UpdaterCable::Usb;
  if (needed == used) return true;
  Log("lBadComType");
  system_text_ += "The cable selected does not work with this calculator's bootcode OS updater!" + kCrLf +
                  "Try the other cable-type!" + kCrLf;
  Link().Report(system_text_);
  SendForceReboot();
  Link().Report("Reboot the calculator!");
  ui_.Notify(nfStatus, std::string("Error encountered..."));
  ui_.Notify(nfErrorBox, system_text_);
  return Stop("the cable does not work with this calculator's boot code: try the other cable");
}

bool OsRecovery::RestartIntoBios() {
  if (pass_ > 1) {
    // The boot code would have reported caller 0; another restart could go on for ever.
    Link().Report("The calculator did not start its boot code.");
    return RebootAndStop("the calculator did not restart into its boot code");
  }
  Log("fxEXcmdBIOSSTARTUP");
  Link().SendExtended(TExtendedCommand::BiosStartup);
  program_running_ = false;  // the calculator restarts into its boot code
  Link().FStop();
  // Reconnecting before the calculator dropped the link would reach the program that is
  // just ending instead of the boot code.
  Link().WaitUntilCalculatorLeaves(kRestartLeaveLimit);
  if (ui_.MessageBox(DialogKind::Information, "Is the calculator showing the OS ERROR screen?",
                     DialogButtons::YesNo) == mrNo) {
    Link().Report("cancelled: no OS ERROR screen");
    Log("fxEXcmdBIOSSTARTUP:cancelled: no OS ERROR screen");
    return Stop("cancelled: no OS ERROR screen");
  }
  // The serial line does not show when the boot code is up: answered at once (--yes), the
  // question comes before it is, so a serial start gets extra attempts too.
  if (!session_->Reconnect(kReconnectRetries)) {
    Link().Report("fxEXcmdBIOSSTARTUP reconnect failed");
    Log("fxEXcmdBIOSSTARTUP reconnect failed");
    const std::string& cause = session_->StartFailure();
    return Stop("no session with the boot code after the restart" + (cause.empty() ? std::string() : ": " + cause));
  }
  Link().Report("fxEXcmdBIOSSTARTUP successful");
  Log("fxEXcmdBIOSSTARTUP successful");
  return true;
}

bool OsRecovery::FinalChecks() {
  LogBlock("Infoblock", system_text_);
  if (record_.caller_code >= 5) {
    Log("Unknown OS-version!");
    Link().Report("Unknown OS-version!");
    ui_.Notify(nfStatus, std::string("Error encountered..."));
    ui_.Notify(nfErrorBox, system_text_);
    return RebootAndStop("the program was started by an unknown system");
  }
  if (record_.bios_type != bios_image_type_) {
    Log("calculator type/image mismatch");
    if (ui_.Notify(nfWarningBox,
                   std::string("The calculator type and the image type do not coincide! Do you want to proceeed anyhow?")) !=
        mrOK) {
      return RebootAndStop("the calculator type and the image type differ: declined");
    }
    Log("calculator type/image mismatch: ignored");
  }
  if (!MatchBiosId(image_bytes_, record_, options_)) {
    Log("Calc-Id mismatch!");
    Link().Report("Calc-Id mismatch!");
    ui_.Notify(nfStatus, std::string("Error encountered..."));
    system_text_ += "Calc-Id mismatch!" + kCrLf;
    ui_.Notify(nfErrorBox, system_text_);
    Log("fxEXcmdFORCEREBOOT");
    return RebootAndStop("the image's calculator ID does not match this calculator");
  }
  const std::string warning = "Warning: Pressing OK starts flash erasure!";
  Log(warning);
  system_text_ += warning + kCrLf;
  if (ui_.Notify(nfWarningBox, system_text_) != mrOK) return RebootAndStop("the erase was declined");
  return true;
}

bool OsRecovery::Erase() {
  ui_.Notify(nfStatus, std::string("Erasing the flash..."));
  ui_.Notify(nfProgressPos, std::int64_t{0});
  ui_.Notify(nfProgressMax, static_cast<std::int64_t>(limit_));
  ui_.Notify(nfBlockProgressPos, std::int64_t{0});
  ui_.Notify(nfBlockProgressMax, std::int64_t{kFlashSectorSize});
  const std::uint32_t last = kFlashBaseAddress + limit_ * kFlashSectorSize;
  std::int64_t counter = 1;
  for (std::uint32_t address = kFlashBaseAddress + kFlashSectorSize; address <= last;
       address += kFlashSectorSize, ++counter) {
    if (!GoOn("while erasing the flash")) return false;
    if (InKeptRegion(address)) continue;
    ui_.Notify(nfFlashAddress, static_cast<std::int64_t>(address));
    ui_.Notify(nfProgressPos, counter);
    Log("fxEXcmdERASE_SECTOR: " + Hex8(address));
    flash_touched_ = true;  // from here on the calculator may have no complete OS
    const TAnswer answer = Link().SendExtended(TExtendedCommand::EraseSector, BigEndianWords({address}));
    if (StoppedWhileWaiting(answer, "while erasing the flash")) return false;
    if (!answer.Is(kPlainAck)) {
      return CommunicationFailed("fxEXcmdERASE_SECTOR: Communication failed!",
                                 "the erase of sector " + Hex8(address) + " was not acknowledged" +
                                     (Link().FailureCause().empty() ? "" : ": " + Link().FailureCause()));
    }
  }
  return GoOn("while erasing the flash");
}

bool OsRecovery::Write() {
  Log("Writing the flash...");
  ui_.Notify(nfStatus, std::string("Writing the flash..."));
  ui_.Notify(nfProgressPos, std::int64_t{0});
  ui_.Notify(nfProgressMax, static_cast<std::int64_t>(image_size_ / kFlashSectorSize) - 1);
  const std::uint64_t end_address = kFlashBaseAddress + image_size_;
  const std::uint32_t last = kFlashBaseAddress + limit_ * kFlashSectorSize;
  std::uint32_t address = kFirstWrittenBlock;
  std::uint64_t position = address - kFlashBaseAddress;
  WriteProgress progress;

  while (position < image_size_) {
    ui_.Notify(nfFlashAddress, static_cast<std::int64_t>(address));
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kFlashSectorSize, image_size_ - position));
    const std::span<const std::uint8_t> block(image_bytes_.data() + position, length);
    position += length;
    Log("BlockRead: " + Hex8(length));
    if (!InKeptRegion(address) && !WriteBlock(address, block, progress)) return false;
    // The next block: upwards to the end of the image or the write limit, then the OS
    // header block at 0xA0010000 last.
    if (address >= end_address - kFlashSectorSize) address = last;
    if (address >= kFirstWrittenBlock && address < last) {
      address += kFlashSectorSize;
    } else if (address == last) {
      address = kOsHeaderBlock;
      position = kOsStart;
    } else {
      break;  // the OS header block was the last one
    }
  }
  ui_.Notify(nfStatus, std::string("Ready!"));
  ui_.Notify(nfFlashAddress, std::int64_t{0});
  ui_.Notify(nfProgressPos, std::int64_t{0});
  ui_.Notify(nfRAMAddress, std::int64_t{0});
  ui_.Notify(nfBlockProgressPos, std::int64_t{0});
  ui_.ProcessMessages();
  return true;
}

// One block of the image into the flash sector at `address`: copied into the staging RAM,
// the speed shown, then written from there. False when the recovery has to stop.
bool OsRecovery::WriteBlock(std::uint32_t address, std::span<const std::uint8_t> block, WriteProgress& progress) {
  const auto block_start = Clock::now();
  std::uint64_t block_bytes = 0;
  if (!StageBlock(address, block, block_bytes)) return false;
  if (!GoOn("while writing the flash")) return false;
  if (outcome_.result != rrDone) {
    Log("result <> NONE");
    return Stop("a RAM write for block " + Hex8(address) + " got no answer" +
                (Link().FailureCause().empty() ? "" : ": " + Link().FailureCause()));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - block_start).count();
  ui_.Notify(nfSpeed, progress.SpeedText(block_bytes, seconds));
  ui_.Notify(nfProgressPos, progress.counter);
  ++progress.counter;
  ui_.ProcessMessages();

  Log("fxEXcmdWRITE_FLASH: " + Hex8(address));
  const auto write_start = Clock::now();
  const TAnswer written =
      Link().SendExtended(TExtendedCommand::WriteFlash, BigEndianWords({address, kFlashSectorSize, kStagingAddress}));
  longest_flash_write_ = std::max(longest_flash_write_, Clock::now() - write_start);
  if (StoppedWhileWaiting(written, "while writing the flash")) return false;
  if (!written.Is(kPlainAck)) {
    return CommunicationFailed("Communication failed!", "the flash write of block " + Hex8(address) +
                                                            " was not acknowledged" +
                                                            (Link().FailureCause().empty() ? "" : ": " + Link().FailureCause()));
  }
  return true;
}

// The bytes of `block` into the staging RAM, in chunks of at most kMaxRamWriteChunk;
// `sent_bytes` counts them with their address words. A chunk without an answer sets the
// outcome and ends the copy; false when one was not acknowledged.
bool OsRecovery::StageBlock(std::uint32_t address, std::span<const std::uint8_t> block, std::uint64_t& sent_bytes) {
  std::uint32_t ram_address = kStagingAddress;
  std::size_t offset = 0;
  while (offset < block.size()) {
    const std::size_t chunk = std::min<std::size_t>(kMaxRamWriteChunk, block.size() - offset);
    std::vector<std::uint8_t> data = BigEndianWords({ram_address, static_cast<std::uint32_t>(chunk)});
    data.insert(data.end(), block.begin() + static_cast<std::ptrdiff_t>(offset),
                block.begin() + static_cast<std::ptrdiff_t>(offset + chunk));
    sent_bytes += chunk + 8;
    const TAnswer answer = Link().SendExtended(TExtendedCommand::WriteRam, data);
    if (StoppedWhileWaiting(answer, "while writing the flash")) return false;
    if (answer.kind == TAnswerKind::None) {
      Log("fxEXcmdWRITE_RAM failed!");
      outcome_.result = rrRamWriteNoAnswer;
      return true;
    }
    if (!answer.Is(kPlainAck)) {
      return CommunicationFailed("Communication failed!",
                                 "a RAM write for block " + Hex8(address) + " was not acknowledged" +
                                     (Link().FailureCause().empty() ? "" : ": " + Link().FailureCause()));
    }
    const std::size_t remaining = block.size() - offset;
    ui_.Notify(nfRAMAddress, static_cast<std::int64_t>(kStagingAddress + kFlashSectorSize - remaining));
    ui_.Notify(nfBlockProgressPos, static_cast<std::int64_t>(kFlashSectorSize - remaining));
    offset += chunk;
    ram_address += static_cast<std::uint32_t>(chunk);
  }
  return true;
}

// Before the reboot: the line must stay quiet for a while after the last write's
// acknowledge. A packet now is the answer to a write that came after an earlier answer
// sent twice, so the acknowledges were not the writes' own and the flash cannot be taken
// as written: the reboot is not sent, and the calculator stays in the program, where a
// recovery can run again. The wait covers twice the longest write seen.
bool OsRecovery::SyncBeforeReboot() {
  const auto quiet = std::clamp<Clock::duration>(2 * longest_flash_write_ + std::chrono::milliseconds(50),
                                                 std::chrono::milliseconds(100), std::chrono::seconds(2));
  WaitWithMessages(ui_, std::chrono::duration_cast<std::chrono::milliseconds>(quiet));
  if (!GoOn("after the flash was written")) return false;
  const std::vector<std::uint8_t> late = Link().TakeStaleBytes();
  if (late.empty()) return true;
  Log("late answer: " + ReadableBytes(std::span<const std::uint8_t>(late).first(std::min<std::size_t>(late.size(), 32))));
  return Stop("the calculator sent " +
              ReadableBytes(std::span<const std::uint8_t>(late).first(std::min<std::size_t>(late.size(), 32))) +
              " after the last write was acknowledged: an answer came twice or out of turn, so the writes' "
              "acknowledges cannot be trusted and the calculator was not rebooted");
}

void OsRecovery::Reboot() {
  Log("fxEXcmdREBOOT");
  Link().SendExtended(TExtendedCommand::Reboot);
  program_running_ = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  outcome_.flash_rewritten = true;
}

}  // namespace

std::uint32_t RecoveryWriteLimit(std::uint16_t bios_type, TOptionWord options, std::uint64_t image_size) {
  if (bios_type == kBiosTypeFx7400) return kFx7400Limit;
  if (options & OPT_INCLUDE_SMEM) {
    if (image_size > kSmallImage || (options & OPT_DELETE_SMEM)) return kLargeLimit;
    return kSmallLimit;
  }
  return (options & OPT_DELETE_SMEM) ? kLargeLimit : kSmallLimit;
}

bool IsAcceptedImageSize(std::uint16_t bios_type, std::uint64_t image_size) {
  if (bios_type == kBiosTypeFx7400) return image_size == kFx7400Image;
  return image_size == kSmallImage || image_size == kLargeImage;
}

namespace {

// An image byte 0xFF matches anything.
bool IdFieldMatches(std::span<const std::uint8_t> id, const TOsBiosRecord& record) {
  for (std::size_t i = 0; i < id.size() && i < record.bios_id.size(); ++i) {
    if (id[i] != 0xFF && id[i] != record.bios_id[i]) return false;
  }
  return true;
}

}  // namespace

bool MatchBiosId(const std::string& image_file, const TOsBiosRecord& record, TOptionWord flags) {
  if (flags & OPT_IGNORE_ID) return true;
  ImageReader image(image_file);
  std::array<std::uint8_t, kCalcIdField.width> id{};
  if (image.ReadAt(kCalcIdField.offset, id.data(), id.size()) != id.size()) {
    throw IoError("Cannot read " + image_file + ": too short for a calculator ID");
  }
  return IdFieldMatches(id, record);
}

bool MatchBiosId(std::span<const std::uint8_t> image, const TOsBiosRecord& record, TOptionWord flags) {
  if (flags & OPT_IGNORE_ID) return true;
  if (image.size() < kCalcIdField.offset + kCalcIdField.width) throw IoError("the image is too short for a calculator ID");
  return IdFieldMatches(image.subspan(kCalcIdField.offset, kCalcIdField.width), record);
}

TRecoveryOutcome RunOSRecovery(const std::string& file, TOptionWord options, TUserInterface ui,
                               const TRecoverySetup& setup) {
  return OsRecovery(file, options, ui, setup).Run();
}

std::uint8_t FXOSRecovery(const std::string& file, TOptionWord options, TUserInterface ui,
                          const TRecoverySetup& setup) {
  return RunOSRecovery(file, options, ui, setup).result;
}

std::string RecoveryResultMessage(std::uint8_t result, const std::string& file) {
  const std::string impossible = "Recovery is not possible!" + kCrLf;
  switch (result) {
    case rrChecksumError: return "Checksum of the selected image NOT OK!" + kCrLf + impossible;
    case rrProgramMissing: return "OSRECOVER.SH4 missing!" + kCrLf + impossible;
    case rrOsVersionError: return "OS-version of the selected image NOT known!" + kCrLf + impossible;
    case rrImageMissing: return "File" + kCrLf + "  " + file + kCrLf + "does not exist!" + kCrLf + impossible;
    default: return "";
  }
}

std::string UploadResultMessage(std::uint8_t result, const std::string& file) {
  if (result != rrUploadFileMissing) return "";
  return "Invalid uploadfile " + file + "!" + kCrLf + "Upload is not possible!" + kCrLf;
}

}  // namespace ostrel
