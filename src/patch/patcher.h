#pragma once
// The patch script interpreter: runs a text script, one command per line, against one
// target file. A script names the target (optionally made as a fresh copy of a source),
// moves a position through it, writes bytes, strings, numbers and other files, stores
// and verifies checksums and contents, prints into a 128x64 display image inside the
// target, and writes derived files (a test bitmap, an assembler source, insert lists).
//
// Owners:
// - a bugfix run uses the first constructor (its own parameter list) and, on the
//   command line, console mode;
// - a project's bind step uses the second constructor with the project's parameter list
//   and installs the project log as the report callback.
//
// Errors found by commands end the run with a summary ("Error at lineNo: "); a malformed
// strict number, "TargetFile not open" and input/output errors raise exceptions
// (ostrel::Error and its kin) that leave RunPatchScript. A target made by copying the
// source is patched as a new file beside it that takes the target's name only when the
// run ends without error; after an error or an exception it is deleted, so nothing
// half-patched remains that looks complete, and a file that had the target's name before
// stays as it was. A target patched in place is left as it is.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/object.h"
#include "base/paramlist.h"
#include "env/operation_status.h"

namespace ostrel {

class TTargetFile;

// Receives every report line followed by CR LF, with show off: the shape of a project
// log's Log (text, show).
using TPatchReportCallback = std::function<void(const std::string& text, bool show)>;

class TPatcher : public TObject {
 public:
  // The most bytes one command may write, copy or append (INSERTCHAR, INSERTFILE, COPY,
  // GOTO with AUTOEXPAND): far beyond any calculator image, far below a disk filled by
  // accident.
  static constexpr std::int64_t kMaxBytesPerCommand = 64 * 1024 * 1024;

  // With its own parameter list. Report lines that are not written to the console go
  // to `ui`'s notifier (the diagnostics memo); a null notifier shows nothing.
  explicit TPatcher(TUserInterface ui = {});
  // Shares `params`, which stays the caller's and must outlive this object.
  explicit TPatcher(TParamlist& params, TUserInterface ui = {});
  // Closes the target without deleting it.
  ~TPatcher() override;
  TPatcher(const TPatcher&) = delete;
  TPatcher& operator=(const TPatcher&) = delete;

  // Set by the owner before the run.
  // Console mode: report lines go to standard output (one line each, CR LF written as
  // line ends) instead of the notifier.
  void SetConsole(bool console) { console_ = console; }
  void SetOnReport(TPatchReportCallback callback) { on_report_ = std::move(callback); }

  // Runs the script. True when the run ended without an error text. Exceptions pass to
  // the caller after the script is closed (and a target made by copying is deleted).
  bool RunPatchScript(const std::string& script_path);

  // Executes one script line (as read, before expansion) as the run loop does.
  void ExecuteLine(const std::string& line);
  // Sends one report line: to the callback, then to the console, or else to the
  // notifier (clear empties the memo first; the line is shown when force is set or
  // REPORTALL is on).
  void ReportLine(const std::string& text, bool clear, bool force);
  // Raises "TargetFile not open" when no target is open.
  void RequireTarget() const;
  // Closes the target, locks it when asked (or when it was read-only before an unlock),
  // and deletes the file with delete_file.
  void CloseTarget(bool delete_file);

  // State, for owners and tests.
  TParamlist& ParamList() { return *param_list_; }
  const std::string& ErrorText() const { return error_text_; }
  int LineNo() const { return line_no_; }
  bool TargetOpen() const { return target_ != nullptr; }
  const std::string& TargetFileName() const { return target_file_; }
  // The target's position and size (0 when no target is open).
  std::int64_t TargetPosition() const;
  std::int64_t TargetSize() const;
  std::uint32_t Checksum() const { return checksum_; }
  std::int64_t DisplayAddr() const { return display_addr_; }

  // Prints into the display image (used by PRINTSTRING; public for the glyph tests).
  void PrintString(int x, int y, std::string_view text);
  void PrintChar(int& x, int& y, std::uint8_t code);
  // Writes the display image as a 128x64 1-bit bitmap; nothing for a blank path.
  void WriteTestBitmap(const std::string& path);

 private:
  // One command line after expansion: the value (the text after the first "=") and the
  // command name as written.
  struct Command {
    std::string value;
    std::string name;
  };
  using CommandHandler = std::string (TPatcher::*)(const Command&);
  struct CommandEntry {
    std::string_view name;
    bool needs_target;
    CommandHandler handler;
  };
  static const std::vector<CommandEntry>& Commands();
  static const CommandEntry* FindCommand(std::string_view upper_name);

  // Comments, blank lines, variable assignments and unknown commands.
  void ExecuteOtherLine();
  bool IsDeclaredVariable(const std::string& name) const;
  void Assign(const std::string& name, const std::string& value);
  std::string Field(const Command& command, int n) const;
  int FieldCount(const Command& command) const;
  // Sets the error text; the result of the line is then suppressed by returning "".
  std::string Fail(const std::string& message);
  std::string FailWithLine(const std::string& message);
  void FinishRun(const std::string& summary);
  void DeleteTargetMadeByCopy();

  // Numbers and positions.
  std::int64_t StrictPosition(std::string_view text) const;   // strict + offsets
  std::int64_t PositionExpression(std::string_view text) const;  // FILESIZE or strict + offsets
  // Maps a script path to this file system.
  static std::string FilePath(const std::string& script_path);
  // Writes a 32-bit value in the target's byte order at the position.
  std::string Write32(std::uint32_t value);

  // Commands that set state or move the position.
  std::string CmdDirectory(const Command& command);
  std::string CmdSourceFile(const Command& command);
  std::string CmdTargetFile(const Command& command);
  std::string CmdTargetUnlock(const Command& command);
  std::string CmdTargetLock(const Command& command);
  std::string CmdBigEndian(const Command& command);
  std::string CmdReportAll(const Command& command);
  std::string CmdInvert(const Command& command);
  std::string CmdAdjustment(const Command& command);
  std::string CmdFileOffset(const Command& command);
  std::string CmdCodeOffset(const Command& command);
  std::string CmdMaxSize(const Command& command);
  std::string CmdDelim(const Command& command);
  std::string CmdGoto(const Command& command);
  std::string CmdFontAddr(const Command& command);
  std::string CmdPrintList(const Command& command);
  std::string CmdVariables(const Command& command);
  // Data commands.
  std::string CmdInsertFile(const Command& command);
  std::string CmdInsertList(const Command& command);
  std::string CmdInsertString(const Command& command);
  std::string CmdInsertTime(const Command& command);
  std::string CmdInsertChar(const Command& command);
  std::string CmdInsertFileSize(const Command& command);
  std::string CmdCopy(const Command& command);
  std::string CmdPaste(const Command& command);
  std::string CmdChecksumInit(const Command& command);
  std::string CmdChecksumCalc(const Command& command);
  std::string CmdChecksumSave(const Command& command);
  std::string CmdCheckString(const Command& command);
  std::string CmdCheckList(const Command& command);
  std::string CmdDisplayAddr(const Command& command);
  std::string CmdPrintString(const Command& command);
  std::string CmdTestBitmap(const Command& command);
  std::string CmdMakeCSource(const Command& command);

  // Target opening (TARGETFILE).
  std::string OpenTarget();
  std::unique_ptr<TTargetFile> CopySource(const std::string& target_path);
  void CommitCopy();
  void WriteInsertList(const std::string& path, const std::vector<std::uint8_t>& bytes);
  void WriteAssemblerSource(const std::string& path, std::int32_t address, std::int32_t size);

  std::unique_ptr<TParamlist> own_param_list_;
  TParamlist* param_list_;
  TUserInterface ui_;
  bool console_ = false;
  TPatchReportCallback on_report_;

  std::string current_line_;  // the line being executed, after expansion
  std::string command_name_;  // its command name in upper case
  std::string directory_;
  std::string source_file_;
  std::string target_file_;
  std::unique_ptr<TTargetFile> target_;
  bool target_existed_ = false;
  std::uint32_t target_mode_ = 0;       // permission bits of an existing target when opened
  bool target_was_read_only_ = false;
  bool target_made_by_copy_ = false;
  std::string pending_copy_;  // the copy being patched, until it takes the target's name
  bool unlock_target_ = false;
  bool lock_target_ = false;
  bool big_endian_ = true;
  bool invert_ = false;
  bool report_all_ = false;
  std::int32_t adjustment_ = 0;
  std::int32_t file_offset_ = 0;
  std::int32_t code_offset_ = 0;
  std::int32_t max_size_ = 0x7FFFFFFF;
  std::string delim_ = ",";
  std::uint32_t checksum_ = 0;
  std::int64_t display_addr_ = -1;
  std::vector<std::uint8_t> copy_buffer_;
  std::string list_file_;
  std::string error_text_;
  int line_no_ = 0;
};

}  // namespace ostrel
