// The flash image check.
//
// Steps of FXCheckImage:
//  1. A diagnostics line "FXCheckImage <file>" (always sent).
//  2. A missing file: result 6, "File does not exist: <file>", nothing else.
//  3. Entry lines to the logger; the information is cleared.
//  4. OPT_IGNORE_CHECKSUM: result 0 without opening the file.
//  5. The file is opened; below 2 MiB: "Filesize error(1): <size>".
//  6. "CASIOWIN" at 0x10000, else "CASIOWIN error".
//  7.-9. The BIOS fields, the BIOS image type, the OS version and the system-call address.
// 10.-11. The OS layout class and the main-memory area; an unknown version gives result 1.
// 12.-15. Below the class minimum: "Filesize error(2): <size>"; else the OS checksum, summed
//     in 64 KiB blocks, and the stored OS date and checksum.
// 16. The file is closed on every path that opened it.
// 17. Result 0 or 4.
// 18. With the repository on, the image is registered; a check the user asked for then
//     checks (and so registers) every image of the folder that is not registered yet.
// 19. The information: the failure message, then the KEY=value lines.
//
// Notifications other than the first line go out only for a check the user asked for.

#include "operations/image_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/error.h"
#include "base/small_file.h"
#include "base/text.h"
#include "env/logger.h"
#include "operations/image_reader.h"
#include "operations/image_repository.h"
#include "operations/known_bios.h"
#include "protocol/fx9860sio.h"

namespace ostrel {

namespace {

constexpr std::uint32_t kBlockSize = kFlashSectorSize;
constexpr const char* kLineEnd = "\r\n";
// The largest flash of the family's calculators (32 MiB); a larger image is warned about.
constexpr std::uint64_t kLargestFlashSize = 0x2000000;
// An image of a 4 MiB flash with its storage memory.
constexpr std::uint32_t kLargestImageSize = 0x400000;

std::string Hex8(std::uint64_t value) { return IntToHex(value, 8); }

// A fixed-width text field: one character per byte. Control characters become "." so that
// a damaged field can never break the KEY=value line structure of the information.
std::string FieldText(const std::uint8_t* bytes, std::size_t width) {
  std::string text;
  for (std::size_t i = 0; i < width; ++i) {
    const std::uint8_t b = bytes[i];
    text += (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
  }
  return text;
}

bool IsDigitOrLetter(std::uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// "41423132 (AB12)": the word, then its bytes in file order as characters.
std::string TypeInfo1Text(std::uint32_t word) {
  std::string chars;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto b = static_cast<std::uint8_t>(word >> shift);
    chars += IsDigitOrLetter(b) ? static_cast<char>(b) : '.';
  }
  return Hex8(word) + " (" + chars + ")";
}

std::string TypeInfo2Text(std::uint32_t word) {
  const std::uint32_t upper = word >> 16;
  if (upper == 0xFFAA) return Hex8(word) + " (SD)";
  if (upper == 0x00AA) return Hex8(word) + " (NON-SD)";
  return Hex8(word);
}

// The message for a path that holds no image file: nothing there, or something that is not
// a file. Raises IoError when the path cannot even be looked at (a folder on the way that
// may not be read).
std::optional<std::string> MissingFileMessage(const std::string& path, std::string& kind) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG) return "File does not exist: " + path;
    throw IoError("Cannot open " + path + ": " + std::strerror(error));
  }
  // Told from the path's status alone: a FIFO or a device is never opened.
  if (!S_ISREG(status.st_mode)) {
    kind = NonFileKind(status.st_mode);
    return "File does not exist: " + path + " (" + kind + ", not a file)";
  }
  return std::nullopt;
}

class ImageCheck {
 public:
  ImageCheck(const TImageCheckRequest& request, TUserInterface ui) : request_(request), ui_(ui) {}

  TImageCheckReport Run();

 private:
  void Log(int indent, const std::string& text) {
    if (request_.logger) request_.logger->LogLine(std::string(static_cast<std::size_t>(indent), ' ') + text);
  }
  // Appends KEY=value to the information and logs it.
  void Collect(const std::string& key, const std::string& value) {
    report_.lines.push_back({key, value});
    Log(2, key + "=" + value);
  }
  // A notification for a check the user asked for only.
  template <typename T>
  void NotifyIfAsked(NotifyCode code, const T& value) {
    if (request_.check_repository) ui_.Notify(code, value);
  }
  void Fail(ImageCheckResult result, const std::string& message) {
    report_.result = result;
    report_.message = message;
  }
  template <std::size_t N>
  static std::array<std::uint8_t, N> ReadField(ImageReader& file, TImageField field) {
    return file.Read<N>(field.offset);
  }

  void CheckFile();
  void ReadImage(ImageReader& file);
  bool SumOs(ImageReader& file, const OsLayout& layout);
  void RepositoryPass();
  void Exit();

  const TImageCheckRequest& request_;
  const TUserInterface ui_;

  TImageCheckReport report_;
  // Filled once the whole OS has been read.
  bool os_read_ = false;
  std::uint32_t sum_ = 0;
  std::string os_date_;
  std::uint32_t saved_checksum_ = 0;
};

TImageCheckReport ImageCheck::Run() {
  const std::string& file_name = request_.image_file;
  ui_.Notify(nfLogLine, "FXCheckImage " + file_name);
  if (auto missing = MissingFileMessage(file_name, report_.not_a_file)) {
    report_.result = icrFileDoesNotExist;
    report_.message = *missing;
    return report_;
  }
  Log(0, "FX9860_transfer_protocol.FXCheckImage:entry");
  Log(0, file_name);
  Log(0, request_.check_repository ? "CheckRepository ON" : "CheckRepository off");

  try {
    if (request_.options & OPT_IGNORE_CHECKSUM) {
      report_.result = icrOK;
      Log(0, "fxIgnoreChk");
    } else {
      CheckFile();
      // A damaged image is registered too, with its differing checksums.
      if (request_.use_repository && (report_.result == icrOK || report_.result == icrChecksumError)) {
        RepositoryPass();
      }
    }
  } catch (...) {
    Exit();
    throw;
  }
  Exit();
  return report_;
}

void ImageCheck::Exit() { Log(0, "FX9860_transfer_protocol.FXCheckImage:exit"); }

void ImageCheck::CheckFile() {
  {
    ImageReader file(request_.image_file);
    try {
      ReadImage(file);
    } catch (...) {
      file.Close();
      Log(2, "closefile");
      throw;
    }
    file.Close();
    Log(2, "closefile");
  }
  if (!os_read_) return;  // a failure ended the check early

  Collect("OSDATE", os_date_);
  Collect("OSCHKCALC", Hex8(sum_));
  Collect("OSCHKSAVE", Hex8(saved_checksum_));
  report_.result = sum_ == saved_checksum_ ? icrOK : icrChecksumError;
  NotifyIfAsked(nfLogLine, std::string(report_.result == icrOK ? "Checksum OK!" : "Checksum NOT OK!"));
}

void ImageCheck::ReadImage(ImageReader& file) {
  const std::uint64_t size = file.Size();
  report_.file_size = size;
  if (size < request_.geometry.minimum_image_size) {
    report_.required_size = request_.geometry.minimum_image_size;
    Fail(icrFileSizeError, "Filesize error(1): " + Hex8(size));
    return;
  }
  Collect("FILESIZE", Hex8(size));
  if (size > kLargestFlashSize && request_.check_repository) {
    ui_.MessageBox(DialogKind::Warning,
                   request_.image_file + " is " + std::to_string(size) + " bytes, more than any calculator's flash holds (" +
                       std::to_string(kLargestFlashSize / 0x100000) + " MiB): it is probably not a flash image.",
                   DialogButtons::OK);
  }

  const auto signature = ReadField<kSignatureField.width>(file, kSignatureField);
  if (std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()) != kOsSignature) {
    Fail(icrCasioWinError, "CASIOWIN error");
    return;
  }
  Log(2, FieldText(signature.data(), signature.size()));

  const auto bios_date = ReadField<kBiosDateField.width>(file, kBiosDateField);
  const auto calc_id = ReadField<kCalcIdField.width>(file, kCalcIdField);
  const std::uint32_t bios_checksum = ReadBigEndianWord(ReadField<4>(file, kBiosChecksumField).data());
  const std::uint32_t type_info1 = ReadBigEndianWord(ReadField<4>(file, kTypeInfo1Field).data());
  const std::uint32_t type_info2 = ReadBigEndianWord(ReadField<4>(file, kTypeInfo2Field).data());
  Collect("BIOSDATE", FieldText(bios_date.data(), bios_date.size()));
  Collect("CALCID", IsErasedCalcId(calc_id) ? std::string("***deactivated***")
                                            : FieldText(calc_id.data(), calc_id.size()));
  Collect("BIOSCHK", Hex8(bios_checksum));
  Collect("TYPEINFO1", TypeInfo1Text(type_info1));
  Collect("TYPEINFO2", TypeInfo2Text(type_info2));

  // The raw date bytes are compared, so a damaged field can never match a known build.
  const std::string raw_bios_date(bios_date.begin(), bios_date.end());
  const std::int32_t bios_image_type = FindBiosImageType(bios_checksum, raw_bios_date);
  report_.bios_image_type = bios_image_type;
  Collect("BIOSIMAGETYPE", BiosTypeName(static_cast<std::uint32_t>(bios_image_type)));

  const auto version = ReadField<kOsVersionField.width>(file, kOsVersionField);
  const std::string version_text = FieldText(version.data(), version.size());
  NotifyIfAsked(nfImageData, version_text);
  Collect("OSVERSION", version_text);
  Collect("SYSCALLADR", Hex8(ReadBigEndianWord(ReadField<4>(file, kSyscallAddressField).data())));

  const std::optional<OsLayout> layout = ChooseOsLayout(
      std::string_view(reinterpret_cast<const char*>(version.data()), version.size()), bios_image_type,
      request_.geometry.layouts);
  if (!layout) {
    if (request_.check_repository) {
      ui_.MessageBox(DialogKind::Error, "OS-version at offset 0x10020 unknown!", DialogButtons::OK);
    }
    report_.result = icrOsVersionError;
    return;
  }
  if (request_.options & OPT_IGNORE_MAIN_MEMORY) {
    report_.main_memory = TMainMemoryArea{layout->main_memory_offset, layout->main_memory_sectors};
  } else {
    report_.main_memory = TMainMemoryArea{};
  }

  NotifyIfAsked(nfProgressPos, std::int64_t{0});
  Log(2, "calculate checksum:start (os:" + std::to_string(layout->os_class) + ")");
  NotifyIfAsked(nfProgressMax, std::int64_t{layout->os_end});
  if (size < layout->minimum_size) {
    report_.required_size = layout->minimum_size;
    Fail(icrFileSizeError, "Filesize error(2): " + Hex8(size));
    return;
  }
  if (!SumOs(file, *layout)) {
    // The file ended before the OS did: it shrank while it was being checked.
    report_.file_size = file.Size();
    report_.required_size = layout->minimum_size;
    Fail(icrFileSizeError, "Filesize error(2): " + Hex8(*report_.file_size));
    return;
  }
  const auto os_date = ReadField<kBiosDateLength>(file, layout->OsDateField());
  os_date_ = FieldText(os_date.data(), os_date.size());
  saved_checksum_ = ReadBigEndianWord(ReadField<4>(file, layout->OsChecksumField()).data());
  Log(2, "calculate checksum:end");
  os_read_ = true;
}

// Sums the OS in 64 KiB blocks up to the OS end, without its last 8 bytes. Returns false
// when the file ends before the OS does.
bool ImageCheck::SumOs(ImageReader& file, const OsLayout& layout) {
  std::vector<std::uint8_t> block(kBlockSize);
  std::uint32_t offset = kOsStart;
  std::uint32_t sum = 0;
  while (offset < layout.os_end) {
    NotifyIfAsked(nfProgressPos, std::int64_t{offset});
    if (offset >= layout.gap_start && offset < layout.gap_end) offset = layout.gap_end;
    const std::size_t got = file.ReadAt(offset, block.data(), block.size());
    if (got < block.size()) return false;
    offset += kBlockSize;
    std::size_t count = got;
    if (offset == layout.os_end) count -= layout.os_end - layout.ChecksumEnd();
    sum += ByteSum(std::span<const std::uint8_t>(block).first(count));
  }
  sum_ = sum;
  return true;
}

// Registers the image. A check the user asked for also checks every image of the folder
// that is not registered yet, which registers it.
void ImageCheck::RepositoryPass() {
  const std::string info = report_.ImageInfo();  // no message: the check got past every failure
  if (!request_.check_repository) {
    SaveImageInfo(request_.image_file, info, false, ui_);
    return;
  }
  const std::string listed = SaveImageInfo(request_.image_file, info, true, ui_);
  std::vector<std::string> files;
  for (int i = 1, n = TokenCount(listed, kLineEnd); i <= n; ++i) {
    std::string path = GetToken(listed, i, kLineEnd);
    if (!path.empty()) files.push_back(path);
  }
  const std::size_t count = files.size();
  for (std::size_t i = 0; i < count; ++i) {
    ui_.Notify(nfLogLine, "Image-Repository:" + std::to_string(i + 1) + " of " + std::to_string(count));
    ui_.Notify(nfLogLine, files[i]);
    TImageCheckRequest nested_request = request_;
    nested_request.image_file = files[i];
    nested_request.check_repository = false;
    ImageCheckResult nested = icrUnknown;
    try {
      nested = ImageCheck(nested_request, ui_).Run().result;
    } catch (const Error& e) {
      // One unreadable neighbour must not turn the check of this image into a failure.
      ui_.Notify(nfLogLine, "Error: " + e.Text());
      ui_.ProcessMessages();
      continue;
    }
    if (nested != icrOK) ui_.Notify(nfLogLine, "Error: " + ImageCheckResultName(nested));
    ui_.ProcessMessages();
  }
}

}  // namespace

std::string ImageCheckResultName(std::uint8_t code) {
  switch (code) {
    case icrOK: return "OK";
    case icrOsVersionError: return "OSVERSION_ERROR";
    case icrUnknown: return "UNKNOWN";
    case icrFileSizeError: return "FILESIZE_ERROR";
    case icrChecksumError: return "CHECKSUM_ERROR";
    case icrCasioWinError: return "CASIOWIN_ERROR";
    case icrFileDoesNotExist: return "FILE_DOES_NOT_EXIST";
    default: return "undefined";
  }
}

std::string TImageCheckReport::Value(std::string_view key) const {
  for (const TImageInfoLine& line : lines) {
    if (line.key == key) return line.value;
  }
  return "";
}

TImageCheckFinding ImageCheckFinding(const TImageCheckReport& report) {
  constexpr const char* kFlashImageAdvice = "name a flash image file (.fls, .G1S, .bin)";
  constexpr const char* kOtherImageAdvice = "take a new backup or use another image";
  const auto hex = [](std::uint64_t value) { return "0x" + IntToHex(value, 6); };
  const std::string size =
      std::to_string(report.file_size.value_or(0)) + " bytes (" + hex(report.file_size.value_or(0)) + ")";
  switch (report.result) {
    case icrOK: return {};
    case icrOsVersionError:
      return {"unknown OS version " + report.Value("OSVERSION") +
                  " at 0x10020: the image cannot be checked or recovered (known OS versions: 01.xx.xxxx, 02.00.0000 "
                  "to 03.01.0000)",
              "use an image of a known OS"};
    case icrFileSizeError: {
      std::string problem = "the file is " + size + " long, ";
      if (report.required_size > kMinimumImageSize) {
        problem += "too short for its OS " + report.Value("OSVERSION") + ", which needs " +
                   hex(report.required_size) + " bytes: the image is cut off";
      } else {
        problem += "too short for a flash image (a flash image is " + hex(kMinimumImageSize) + ", " +
                   hex(kOsLayouts[1].minimum_size) + " or, with the storage memory, " + hex(kLargestImageSize) +
                   " bytes long)";
      }
      return {problem, kOtherImageAdvice};
    }
    case icrChecksumError:
      return {"the OS checksum is wrong (stored " + report.Value("OSCHKSAVE") + ", computed " +
                  report.Value("OSCHKCALC") + "): the image is damaged",
              kOtherImageAdvice};
    case icrCasioWinError:
      return {"no OS signature (" + std::string(kOsSignature) + ") at 0x" + IntToHex(kOsStart, 5) +
                  ": this is not a flash image of an fx-9860G-family calculator",
              kFlashImageAdvice};
    case icrFileDoesNotExist:
      return {report.not_a_file.empty() ? std::string("no such file") : report.not_a_file + ", not a file",
              kFlashImageAdvice, ": "};
    default: return {"the check did not finish (result " + ImageCheckResultName(report.result) + ")", ""};
  }
}

std::string ImageCheckVerdict(const TImageCheckReport& report, const std::string& image_file) {
  const TImageCheckFinding finding = ImageCheckFinding(report);
  if (finding.problem.empty()) return "";
  return image_file + ": " + finding.problem + (finding.advice.empty() ? "" : finding.joint + finding.advice);
}

std::string TImageCheckReport::ImageInfo() const {
  std::string info = message;
  for (const TImageInfoLine& line : lines) info += line.key + "=" + line.value + kLineEnd;
  return info;
}

TImageCheckReport CheckFlashImage(const TImageCheckRequest& request, TUserInterface ui) {
  return ImageCheck(request, ui).Run();
}

ImageCheckResult FXCheckImage(const std::string& image_file, TOptionWord options,
                              std::uint32_t* main_memory_offset, bool use_repository,
                              bool check_repository, TMiniLogger* logger, std::string& image_info,
                              std::int32_t& bios_image_type, std::uint32_t* main_memory_sectors,
                              TUserInterface ui) {
  const TImageCheckReport report =
      CheckFlashImage({image_file, options, use_repository, check_repository, logger}, ui);
  image_info = report.ImageInfo();
  if (report.bios_image_type) bios_image_type = *report.bios_image_type;
  if (report.main_memory) {
    if (main_memory_offset) *main_memory_offset = report.main_memory->offset;
    if (main_memory_sectors) *main_memory_sectors = report.main_memory->sectors;
  }
  return report.result;
}

}  // namespace ostrel
