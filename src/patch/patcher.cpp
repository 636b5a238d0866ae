// The run loop, the reports, the target file and the commands that set state or move
// the position. The data commands are in patcher_data.cpp, the display image in
// patcher_display.cpp.

#include "patch/patcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "base/error.h"
#include "base/files.h"
#include "base/path_map.h"
#include "base/text.h"
#include "env/app_env.h"
#include "patch/date_time_format.h"
#include "patch/file_attributes.h"
#include "patch/script_numbers.h"
#include "patch/target_file.h"

namespace ostrel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kCopyChunk = 10000;
// %NAME% substitution in DIRECTORY gives up after this many rounds or this length.
constexpr int kMaxDirectoryRounds = 16;
constexpr std::size_t kMaxDirectoryLength = 4096;

std::string FlagText(bool flag) { return flag ? "TRUE" : "FALSE"; }

bool FlagValue(const std::string& value) { return UpperCase(value) == "TRUE"; }

std::string WithoutBlanks(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c != ' ' && c != '\t') result += c;
  }
  return result;
}

// The file name of a path written in either system's style.
std::string ScriptFileName(const std::string& path) {
  const std::string mapped = MapScriptPath(path);
  const std::size_t slash = mapped.rfind('/');
  return slash == std::string::npos ? mapped : mapped.substr(slash + 1);
}

// Console lines: CR LF inside a report text becomes this system's line end.
std::string ConsoleText(const std::string& text) { return ReplaceAll(text, "\r\n", "\n"); }

}  // namespace

// ---- construction

TPatcher::TPatcher(TUserInterface ui)
    : own_param_list_(std::make_unique<TParamlist>()), param_list_(own_param_list_.get()), ui_(ui) {}

TPatcher::TPatcher(TParamlist& params, TUserInterface ui) : param_list_(&params), ui_(ui) {}

TPatcher::~TPatcher() {
  try {
    CloseTarget(false);
  } catch (...) {
    // A failing close at destruction has nobody left to report to; the file stays.
  }
}

// ---- command table

const std::vector<TPatcher::CommandEntry>& TPatcher::Commands() {
  static const std::vector<CommandEntry> commands = {
      {"DIRECTORY", false, &TPatcher::CmdDirectory},
      {"SOURCEFILE", false, &TPatcher::CmdSourceFile},
      {"TARGETFILE", false, &TPatcher::CmdTargetFile},
      {"TARGETUNLOCK", false, &TPatcher::CmdTargetUnlock},
      {"TARGETLOCK", false, &TPatcher::CmdTargetLock},
      {"BIGENDIAN", false, &TPatcher::CmdBigEndian},
      {"REPORTALL", false, &TPatcher::CmdReportAll},
      {"INVERT", false, &TPatcher::CmdInvert},
      {"ADJUSTMENT", false, &TPatcher::CmdAdjustment},
      {"FILEOFFSET", false, &TPatcher::CmdFileOffset},
      {"CODEOFFSET", false, &TPatcher::CmdCodeOffset},
      {"MAXSIZE", false, &TPatcher::CmdMaxSize},
      {"DELIM", false, &TPatcher::CmdDelim},
      {"GOTO", true, &TPatcher::CmdGoto},
      {"FONTADDR", false, &TPatcher::CmdFontAddr},
      {"PRINTLIST", false, &TPatcher::CmdPrintList},
      {"VARIABLES", false, &TPatcher::CmdVariables},
      {"INSERTFILE", true, &TPatcher::CmdInsertFile},
      {"INSERTLIST", true, &TPatcher::CmdInsertList},
      {"INSERTSTRING", true, &TPatcher::CmdInsertString},
      {"INSERTTIME", true, &TPatcher::CmdInsertTime},
      {"INSERTCHAR", true, &TPatcher::CmdInsertChar},
      {"INSERTFILESIZE", true, &TPatcher::CmdInsertFileSize},
      {"COPY", true, &TPatcher::CmdCopy},
      {"PASTE", true, &TPatcher::CmdPaste},
      {"CHKSUM_INIT", true, &TPatcher::CmdChecksumInit},
      {"CHKSUM_CALC", true, &TPatcher::CmdChecksumCalc},
      {"CHKSUM_SAVE", true, &TPatcher::CmdChecksumSave},
      {"CHECKSTRING", true, &TPatcher::CmdCheckString},
      {"CHECKLIST", true, &TPatcher::CmdCheckList},
      {"DISPLAYADDR", true, &TPatcher::CmdDisplayAddr},
      {"PRINTSTRING", false, &TPatcher::CmdPrintString},
      {"TESTBITMAP", false, &TPatcher::CmdTestBitmap},
      {"MAKECSOURCE", true, &TPatcher::CmdMakeCSource},
  };
  return commands;
}

const TPatcher::CommandEntry* TPatcher::FindCommand(std::string_view upper_name) {
  for (const CommandEntry& entry : Commands()) {
    if (entry.name == upper_name) return &entry;
  }
  return nullptr;
}

// ---- the run

namespace {
constexpr std::uint64_t kMaxScriptSize = 16u << 20;
}  // namespace

bool TPatcher::RunPatchScript(const std::string& script_path) {
  const auto start = std::chrono::steady_clock::now();
  const std::string script_name = ScriptFileName(script_path);
  ReportLine("Start! " + script_name, true, true);

  TTextFile script(FilePath(script_path), kModeRead);
  if (!script.POpen()) {
    throw IoError("Cannot open the script " + script_path + ": " + script.ResultText());
  }
  // Read line by line, a huge file (a flash image, a sparse file) would fill the memory.
  if (script.Size() > kMaxScriptSize) {
    throw IoError("Cannot read the script " + script_path + ": it is larger than 16 MiB, which no patch script is; name the script file");
  }
  line_no_ = 0;
  try {
    std::string line;
    while (script.ReadLine(line)) {
      ++line_no_;
      ExecuteLine(line);
      if (!IsBlank(error_text_)) break;
    }
    if (!script.CheckResult()) {
      throw IoError("Cannot read the script " + script_path + ": " + script.ResultText());
    }
    if (IsBlank(error_text_)) CommitCopy();
  } catch (...) {
    script.Close();
    DeleteTargetMadeByCopy();
    throw;
  }
  script.Close();

  std::string summary;
  if (IsBlank(error_text_)) {
    summary = std::to_string(line_no_) + " lines processed.";
  } else {
    summary = "Error at lineNo: " + std::to_string(line_no_) + std::string(kLineEnd) + error_text_;
    const bool made_by_copy = target_made_by_copy_;
    CloseTarget(made_by_copy);
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  ReportLine(summary + std::string(kLineEnd) + "Ready! " + script_name + " " + FormatElapsedTime(elapsed.count()),
             false, true);
  return IsBlank(error_text_);
}

void TPatcher::DeleteTargetMadeByCopy() {
  if (!target_made_by_copy_) return;
  try {
    CloseTarget(true);
  } catch (...) {
    // The exception that ended the run is the one the caller must see.
  }
}

void TPatcher::ExecuteLine(const std::string& line) {
  current_line_ = param_list_->Expand(line, false);
  const std::size_t equals = current_line_.find('=');
  const std::string name = current_line_.substr(0, equals);
  command_name_ = UpperCase(name);
  const CommandEntry* entry = FindCommand(command_name_);
  if (entry == nullptr) {
    ExecuteOtherLine();
    return;
  }
  if (entry->needs_target) RequireTarget();
  const Command command{equals == std::string::npos ? std::string() : current_line_.substr(equals + 1), name};
  const std::string result = (this->*entry->handler)(command);
  if (!IsBlank(result)) ReportLine(line + result, false, false);
}

void TPatcher::ExecuteOtherLine() {
  if (current_line_.starts_with("//")) {
    if (!IsBlank(std::string_view(current_line_).substr(2))) ReportLine(current_line_, false, false);
    return;
  }
  if (IsBlank(current_line_)) return;
  const std::size_t equals = current_line_.find('=');
  const std::string name = current_line_.substr(0, equals);
  if (IsDeclaredVariable(name)) {
    Assign(name, equals == std::string::npos ? std::string() : current_line_.substr(equals + 1));
    return;
  }
  ReportLine("Unknown command at lineNo: " + std::to_string(line_no_) + "(ignored)" + std::string(kLineEnd) +
                 current_line_,
             false, true);
}

// A name is declared by the parameter list's VARIABLES value (","-separated items,
// trimmed, any case). The name itself is taken as written: "VER =1" is no assignment.
bool TPatcher::IsDeclaredVariable(const std::string& name) const {
  if (IsBlank(name)) return false;
  const std::string declared = param_list_->Get("VARIABLES");
  const int count = TokenCount(declared, ",");
  for (int i = 1; i <= count; ++i) {
    if (SameText(Trim(GetToken(declared, i, ",")), name)) return true;
  }
  return false;
}

void TPatcher::Assign(const std::string& name, const std::string& value) {
  param_list_->Set(name, value);
  ReportLine("variable: " + current_line_, false, false);
}

// ---- reports

void TPatcher::ReportLine(const std::string& text, bool clear, bool force) {
  if (on_report_) on_report_(text + std::string(kLineEnd), false);
  if (console_) {
    std::cout << ConsoleText(text) << '\n' << std::flush;
    return;
  }
  if (clear) ui_.Notify(nfLogClear, 0);
  if (force || report_all_) ui_.Notify(nfLogLineRaw, text);
  ui_.ProcessMessages();
}

// ---- fields, numbers, positions

std::string TPatcher::Field(const Command& command, int n) const { return GetToken(command.value, n, delim_); }

int TPatcher::FieldCount(const Command& command) const {
  if (delim_.empty()) return 1;
  int count = 1;
  for (std::size_t pos = command.value.find(delim_); pos != std::string::npos;
       pos = command.value.find(delim_, pos + delim_.size())) {
    ++count;
  }
  return count;
}

std::string TPatcher::Fail(const std::string& message) {
  error_text_ = message;
  return {};
}

std::string TPatcher::FailWithLine(const std::string& message) { return Fail(message + current_line_); }

std::int64_t TPatcher::StrictPosition(std::string_view text) const {
  return static_cast<std::int64_t>(StrictNumber(text)) + file_offset_ - code_offset_;
}

std::int64_t TPatcher::PositionExpression(std::string_view text) const {
  if (text == "FILESIZE") return TargetSize() + adjustment_;
  return StrictPosition(text);
}

std::int64_t TPatcher::TargetPosition() const { return target_ ? target_->Position() : 0; }

std::int64_t TPatcher::TargetSize() const { return target_ ? target_->Size() : 0; }

std::string TPatcher::FilePath(const std::string& script_path) { return MapScriptPath(script_path); }

// ---- the target

void TPatcher::RequireTarget() const {
  if (!target_) throw Error("TargetFile not open", ErrorKind::TargetNotOpen);
}

void TPatcher::CloseTarget(bool delete_file) {
  const std::string path = FilePath(target_file_);
  const bool copy_pending = !pending_copy_.empty();
  if (target_) {
    std::unique_ptr<TTargetFile> target = std::move(target_);
    if (delete_file && copy_pending) {
      // The copy goes; a file that had the target's name before the run stays as it was.
      target.reset();
      std::remove(pending_copy_.c_str());
      pending_copy_.clear();
      target_made_by_copy_ = false;
      return;
    }
    target->Close();
    if (copy_pending) CommitCopy();
    if (unlock_target_ && target_was_read_only_) lock_target_ = true;
    if (lock_target_) {
      const auto now = FilePermissions(path);
      SetReadOnly(path, target_existed_ ? target_mode_ : now.value_or(0444));
    }
  }
  if (delete_file && !IsBlank(target_file_)) {
    std::remove(path.c_str());
    target_made_by_copy_ = false;
  }
}

std::string TPatcher::OpenTarget() {
  const std::string path = FilePath(target_file_);
  const bool copy = !IsBlank(source_file_);
  target_made_by_copy_ = false;
  target_was_read_only_ = false;
  const auto permissions = FilePermissions(path);
  target_existed_ = permissions.has_value();
  target_mode_ = permissions.value_or(0);
  if (permissions) {
    if (IsReadOnlyMode(*permissions)) {
      if (!unlock_target_) return Fail("Target readonly! Not unlocked!" + std::string(kLineEnd) + target_file_);
      target_was_read_only_ = true;
      // A copy replaces the file as a whole; only a target patched in place needs the
      // write permission (a failure shows when it is opened for writing).
      if (!copy) RemoveReadOnly(path);
    }
  } else if (!copy) {
    return Fail("Target missing and Source not defined!" + std::string(kLineEnd) + target_file_);
  } else if (!FilePermissions(FilePath(source_file_))) {
    return Fail("Target and Source missing!" + std::string(kLineEnd) + target_file_ + std::string(kLineEnd) +
                source_file_);
  }

  try {
    target_ = copy ? CopySource(path) : std::make_unique<TTargetFile>(path, TTargetFile::Access::ReadWrite);
  } catch (const Error& error) {
    return Fail("Target not opened!" + std::string(kLineEnd) + error.Text());
  }
  target_made_by_copy_ = copy;
  return std::string(kLineEnd) + (copy ? " copy " : " reset ") + target_file_;
}

// Copies at most MAXSIZE bytes of the source into a new file beside the target and
// gives it open for patching. The copy takes the target's name only when the run has
// ended without error (CommitCopy): until then a file of that name stays as it was,
// and a failed copy or run leaves nothing behind.
std::unique_ptr<TTargetFile> TPatcher::CopySource(const std::string& target_path) {
  TTargetFile source(FilePath(source_file_), TTargetFile::Access::ReadOnly);
  const std::string temporary = target_path + ".ostrel-" + std::to_string(::getpid()) + ".tmp";
  std::remove(temporary.c_str());
  try {
    auto copy = std::make_unique<TTargetFile>(temporary, TTargetFile::Access::CreateNewReadWrite);
    std::int64_t left = std::max<std::int32_t>(max_size_, 0);
    std::vector<std::uint8_t> chunk(kCopyChunk);
    while (left > 0) {
      const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyChunk));
      const std::size_t got = source.Read(std::span(chunk.data(), wanted));
      if (got == 0) break;
      copy->Write(std::span(chunk.data(), got));
      left -= static_cast<std::int64_t>(got);
    }
    copy->Seek(0);
    if (target_existed_ && ::chmod(temporary.c_str(), static_cast<mode_t>(target_mode_ | S_IWUSR)) != 0) {
      throw IoError("Cannot set the permissions of " + temporary + ": " + std::strerror(errno));
    }
    pending_copy_ = temporary;
    return copy;
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
}

// Puts the finished copy in the target's place. When that fails the copy stays
// pending, so that the run's clean-up removes it.
void TPatcher::CommitCopy() {
  if (pending_copy_.empty()) return;
  const std::string path = FilePath(target_file_);
  if (std::rename(pending_copy_.c_str(), path.c_str()) != 0) {
    throw IoError("Cannot replace " + path + ": " + std::strerror(errno));
  }
  pending_copy_.clear();
}

// ---- commands that set state or move the position

std::string TPatcher::CmdDirectory(const Command& command) {
  std::string directory = RemoveQuotes(command.value);
  for (int round = 0;; ++round) {
    const std::string name = GetToken(directory, 2, "%");
    if (IsBlank(name)) break;
    const std::string replaced = ReplaceAll(directory, "%" + name + "%", GetEnvOrRegValue(name));
    // A lone "%" names nothing that occurs: the text stays as it is.
    if (replaced == directory) break;
    if (round >= kMaxDirectoryRounds || replaced.size() > kMaxDirectoryLength) {
      return FailWithLine("Directory variables nest too deep! ");
    }
    directory = replaced;
  }
  directory_ = directory;
  return std::string(kLineEnd) + " -> " + directory_;
}

std::string TPatcher::CmdSourceFile(const Command& command) {
  source_file_ = directory_ + RemoveQuotes(command.value);
  return std::string(kLineEnd) + " -> " + source_file_;
}

std::string TPatcher::CmdTargetFile(const Command& command) {
  // One run has one target: a second TARGETFILE closes the first.
  CloseTarget(false);
  target_file_ = directory_ + RemoveQuotes(command.value);
  return OpenTarget();
}

std::string TPatcher::CmdTargetUnlock(const Command& command) {
  unlock_target_ = FlagValue(command.value);
  return " -> " + FlagText(unlock_target_);
}

std::string TPatcher::CmdTargetLock(const Command& command) {
  lock_target_ = FlagValue(command.value);
  return " -> " + FlagText(lock_target_);
}

std::string TPatcher::CmdBigEndian(const Command& command) {
  big_endian_ = FlagValue(command.value);
  return " -> " + FlagText(big_endian_);
}

std::string TPatcher::CmdReportAll(const Command& command) {
  report_all_ = FlagValue(command.value);
  return " -> " + FlagText(report_all_);
}

std::string TPatcher::CmdInvert(const Command& command) {
  invert_ = FlagValue(command.value);
  return " -> " + FlagText(invert_);
}

std::string TPatcher::CmdAdjustment(const Command& command) {
  const std::string value = WithoutBlanks(command.value);
  const auto negative_hex = value.starts_with("-$") ? ParseScriptNumber(value.substr(1)) : std::nullopt;
  if (negative_hex) {
    adjustment_ = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(*negative_hex));
  } else {
    adjustment_ = LenientNumber(value, 0);
  }
  return " -> " + std::to_string(adjustment_);
}

std::string TPatcher::CmdFileOffset(const Command& command) {
  file_offset_ = LenientNumber(command.value, 0);
  return " -> " + IntToHex(static_cast<std::uint32_t>(file_offset_), 8);
}

std::string TPatcher::CmdCodeOffset(const Command& command) {
  code_offset_ = LenientNumber(command.value, 0);
  return " -> " + IntToHex(static_cast<std::uint32_t>(code_offset_), 8);
}

std::string TPatcher::CmdMaxSize(const Command& command) {
  max_size_ = LenientNumber(command.value, 0);
  return " -> " + IntToHex(static_cast<std::uint32_t>(max_size_), 8);
}

std::string TPatcher::CmdDelim(const Command& command) {
  delim_ = command.value;
  return " -> \"" + delim_ + "\"";
}

std::string TPatcher::CmdGoto(const Command& command) {
  const std::int64_t position = PositionExpression(Field(command, 1));
  if (position > max_size_) return FailWithLine("Position exceeds max allowed size! ");
  if (position < 0) return FailWithLine("Position below 0! ");
  const std::int64_t size = target_->Size();
  if (size < position) {
    target_->Seek(size);
    if (param_list_->Get("AUTOEXPAND") == "TRUE") {
      const std::int64_t growth = position + 1 - size;
      if (growth > kMaxBytesPerCommand) return FailWithLine("Expansion exceeds 64 MiB! ");
      target_->WriteRepeated(0, growth);
    }
  }
  target_->Seek(position);
  return " -> " + IntToHex(static_cast<std::uint64_t>(position), 8);
}

std::string TPatcher::CmdFontAddr(const Command&) { return "FONTADDR: obsolete."; }

std::string TPatcher::CmdPrintList(const Command&) { return {}; }

std::string TPatcher::CmdVariables(const Command& command) {
  Assign(command.name, command.value);
  return {};
}

}  // namespace ostrel
