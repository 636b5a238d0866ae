#pragma once
// The project builder: runs a project script (".PRJ"), a make-like list of lines that set
// variables, collect tool options and run the build steps (EXECUTE, TOOLS, SYSCALL,
// UPDATEHEADERFILES, BIND, BMP256TOCGI), each deciding by file dates whether it has work
// to do. Everything the build does is written to the project log; what the user should
// see goes to the notification interface as diagnostics lines (nfLogLineRaw).
//
// Paths: the build joins a directory variable and a file name with "/"; paths written with
// "\" or a drive letter are mapped where files are touched. Tool command lines are passed
// to the command interpreter as they are.
//
// A stop request (Cancel, Ctrl-C) ends a running tool and the build after the current
// line. A script that cannot be read, a project log that cannot be written, a missing
// system-call template, a patch run's exception and expansion loops raise ostrel::Error
// (or IoError) out of RunScript.

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/base_stack.h"
#include "base/object.h"
#include "base/paramlist.h"
#include "env/operation_status.h"
#include "project/tool_runner.h"

namespace ostrel {

// The option lists, in the fixed order PUSH saves them.
enum TOptionListId : int {
  olSetEnv,
  olOption,
  olLibOpt,
  olLibModOpt,
  olAsmOpt,
  olDependency,
  olMessageToIgnore,
  kOptionListCount
};

// One option list: entries in the order added, each at most once (compared without
// regard to case).
class TOptionList : public TObject {
 public:
  void Add(const std::string& entry);
  const std::vector<std::string>& Entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

// The project log of this program: its name up to the first dot + ".LOG", in the
// program's folder, or in the user data folder when that is not writable.
std::string DefaultProjectLogPath();

class TProject : public TObject {
 public:
  // Creates the project log anew (IoError when it cannot). `ui` receives the lines shown
  // and pumps messages while tools run.
  explicit TProject(TUserInterface ui, std::string log_path = DefaultProjectLogPath());
  ~TProject() override;
  TProject(const TProject&) = delete;
  TProject& operator=(const TProject&) = delete;

  // Runs a script file, or a direct command: "/BIND:" + patch script or
  // "/BMP256TOCGI:" + bitmap spec (prefixes in any letter case) run that step with
  // MAKEALL=TRUE. False when the script file does not exist.
  bool RunScript(const std::string& argument);

  // Runs one tool; RunCommand (through the command interpreter) unless a harness puts a
  // runner of its own in place, so that a script can run without starting any tool.
  using TToolRunner = std::function<TToolRun(const std::string& command_line, const std::string& working_dir,
                                             const std::vector<std::string>* environment, const TUserInterface& ui)>;
  void SetToolRunner(TToolRunner runner) { tool_runner_ = std::move(runner); }

  // Writes the text to the project log, indented by the nesting depth; with show also to
  // the notification interface as a diagnostics line (one trailing CR LF removed, one
  // "." per nesting level in front).
  void Log(const std::string& text, bool show);

  // State, for front ends and tests.
  const std::string& LogPath() const { return log_path_; }
  TParamlist& Variables() { return variables_; }
  // The list, or nullptr while it is absent.
  const TOptionList* OptionList(TOptionListId id) const { return option_lists_[id].get(); }
  int Depth() const { return depth_; }
  const std::string& CurrentScript() const { return current_script_; }
  std::uint32_t StepCounter() const { return step_counter_; }
  std::size_t StackCount() const { return stack_.Count(); }
  // Tools started (or refused), and those that could not start or ended with an exit
  // code other than 0.
  int ToolRuns() const { return tool_runs_; }
  int FailedTools() const { return failed_tools_; }
  // Patch runs that ended with an error and bitmaps that were not converted.
  int FailedSteps() const { return failed_steps_; }
  // True once a stop request ended the build.
  bool Stopped() const { return stopped_; }

 private:
  // What a line asks of the loop that reads the script.
  enum class TLineOutcome { Next, SkipNextLine, EndScript };

  bool RunScriptFile(const std::string& path);
  void ReadScriptLines(const std::string& path);
  TLineOutcome ExecuteLine(const std::string& line);
  TLineOutcome ExecuteCommand(const std::string& name, const std::string& argument);
  void AddToOptionList(TOptionListId id, const std::string& entry);
  void Push();
  void Pop();
  void SetProjectDirs(const std::string& script_path);
  bool StopRequested();

  // Build steps.
  std::string Value(const std::string& name) const { return variables_.ExpandValue(name, true); }
  bool IsUpToDate();
  // Logs the skip; true when there was a message (the step then ends at once).
  bool ReportSkip();
  void StepExecute(const std::string& argument);
  void StepTools();
  void StepSyscall();
  void StepUpdateHeaderFiles();
  void StepBind();
  void StepBitmapToCgi();
  void LibraryPart(const std::string& name, bool is_syscall);
  // Writes WORKDIR/TEMP.TXT from the lists (absent lists add nothing) and logs it.
  void WriteOptionFile(const std::vector<TOptionListId>& lists);
  // Writes WORKDIR/TEMP.TXT with one line of its own.
  void WriteOptionFileLine(const std::string& line);
  void WriteOptionFileLines(const std::vector<std::string>& lines);
  // The header list file of a header: H + ".TMP", H in HEADERDIR unless it names a folder.
  std::string HeaderListPath(const std::string& header) const;
  // Adds the prototype to the header list file unless present; true when the file was
  // created.
  bool UpdateHeaderList(const std::string& prototype, const std::string& header);
  void GenerateSyscallSource(const std::string& name, const std::string& number);

  // The tool run.
  void RunTool(const std::string& command_line);
  void ShowFileFiltered(const std::string& path);

  TUserInterface ui_;
  TToolRunner tool_runner_ = RunCommand;
  int depth_ = -1;
  std::string current_script_;
  TParamlist variables_;
  std::string log_path_;
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> log_;
  std::array<std::unique_ptr<TOptionList>, kOptionListCount> option_lists_;
  TBaseStack<TObject> stack_;
  std::string up_to_date_message_;
  std::string tool_label_;
  std::uint32_t step_counter_ = 0;
  int tool_runs_ = 0;
  int failed_tools_ = 0;
  int failed_steps_ = 0;
  bool stopped_ = false;
};

// The name a prototype declares: the text between the first "(" and the nearest "*" or
// blank before it ("int *Foo(int a)" gives "Foo"); empty without "(".
std::string PrototypeName(const std::string& prototype);

}  // namespace ostrel
