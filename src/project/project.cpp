// The script interpreter: script files, lines, variables, option lists, the stack and the
// project log. The build steps are in build_steps.cpp, the tool run in project_tool.cpp.

#include "project/project.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/error.h"
#include "base/files.h"
#include "base/path_map.h"
#include "base/text.h"
#include "env/app_env.h"
#include "project/file_dates.h"

namespace ostrel {

namespace {

constexpr const char* kSeparatorLine = "--- --- ---\r\n";
constexpr std::uint64_t kMaxProjectScriptSize = 16u << 20;

// Option list of a command name (exact, upper case), or kOptionListCount for none.
TOptionListId OptionListOf(const std::string& name) {
  static const char* const kNames[kOptionListCount] = {"SETENV", "OPTION", "LIB_OPT", "LIB_MOD_OPT",
                                                       "ASM_OPT", "DEPENDENCY", "MESSAGE_TO_IGNORE"};
  for (int id = 0; id < kOptionListCount; ++id) {
    if (name == kNames[id]) return static_cast<TOptionListId>(id);
  }
  return kOptionListCount;
}

// The text after a prefix compared without regard to case, or nothing.
bool StripPrefix(const std::string& text, const std::string& prefix, std::string& rest) {
  if (text.size() < prefix.size() || !SameText(text.substr(0, prefix.size()), prefix)) return false;
  rest = text.substr(prefix.size());
  return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

void TOptionList::Add(const std::string& entry) {
  for (const std::string& known : entries_) {
    if (SameText(known, entry)) return;
  }
  entries_.push_back(entry);
}

std::string DefaultProjectLogPath() {
  const std::string folder = ProgramOrDataDir();
  const std::string name = ProgramBaseName() + ".LOG";
  return folder.empty() ? name : folder + "/" + name;
}

TProject::TProject(TUserInterface ui, std::string log_path) : ui_(ui), log_path_(std::move(log_path)) {
  log_.reset(std::fopen(log_path_.c_str(), "wb"));
  if (!log_) throw IoError("Cannot create the project log " + log_path_ + ": " + std::strerror(errno));
}

TProject::~TProject() = default;

void TProject::Log(const std::string& text, bool show) {
  const std::string indent(depth_ > 0 ? static_cast<std::size_t>(depth_) : 0, ' ');
  const std::string line = indent + text;
  if (std::fwrite(line.data(), 1, line.size(), log_.get()) != line.size() || std::fflush(log_.get()) != 0) {
    throw IoError("Cannot write the project log " + log_path_ + ": " + std::strerror(errno));
  }
  if (!show) return;
  std::string shown = text.ends_with("\r\n") ? text.substr(0, text.size() - 2) : text;
  ui_.Notify(nfLogLineRaw, std::string(depth_ > 0 ? static_cast<std::size_t>(depth_) : 0, '.') + shown);
}

// ---- scripts

bool TProject::RunScript(const std::string& argument) {
  std::string rest;
  if (StripPrefix(argument, "/BIND:", rest)) {
    variables_.Set("MAKEALL", "TRUE");
    variables_.Set("BIND", rest);
    StepBind();
    return true;
  }
  if (StripPrefix(argument, "/BMP256TOCGI:", rest)) {
    variables_.Set("MAKEALL", "TRUE");
    variables_.Set("BMP256TOCGI", rest);
    StepBitmapToCgi();
    return true;
  }
  return RunScriptFile(argument);
}

void TProject::SetProjectDirs(const std::string& script_path) {
  std::error_code ec;
  std::filesystem::path script = std::filesystem::absolute(MapScriptPath(script_path), ec);
  if (ec) script = MapScriptPath(script_path);
  const std::filesystem::path dir = script.lexically_normal().parent_path();
  variables_.Set("PROJECTDIR", Quoted(dir.string()));
  variables_.Set("SDKDIR", Quoted(dir.parent_path().string()));
}

bool TProject::RunScriptFile(const std::string& path) {
  const int outer_depth = depth_;
  ++depth_;
  current_script_ = path;
  if (IsBlank(variables_.Get("PROJECTDIR"))) SetProjectDirs(path);
  if (!FileExists(path)) {
    Log("Missing " + Quoted(path) + "\r\nUse Pelvost (File - Full setup - Save) to create the project scripts.",
        true);
    depth_ = outer_depth;
    return false;
  }
  try {
    ReadScriptLines(path);
  } catch (...) {
    depth_ = outer_depth;
    throw;
  }
  Log(kSeparatorLine, false);
  Log("Script closed.\r\n", false);
  depth_ = outer_depth;
  return true;
}

void TProject::ReadScriptLines(const std::string& path) {
  TTextFile script(MapScriptPath(path), kModeRead);
  if (!script.POpen()) {
    const std::string why = script.ResultText();
    Log("Error opening " + Quoted(path) + "\r\n", true);
    throw IoError("Cannot open the project script " + path + ": " + why);
  }
  // Read line by line, a huge file (a flash image, a sparse file) would fill the memory.
  if (script.Size() > kMaxProjectScriptSize) {
    throw IoError("Cannot read the project script " + path + ": it is larger than 16 MiB, which no project script is; name the script file");
  }
  std::string line;
  bool skip_next = false;
  while (script.ReadLine(line)) {
    if (skip_next) {
      skip_next = false;
      continue;
    }
    const TLineOutcome outcome = ExecuteLine(line);
    if (StopRequested() || outcome == TLineOutcome::EndScript) break;
    skip_next = outcome == TLineOutcome::SkipNextLine;
  }
  if (!script.CheckResult()) {
    throw IoError("Cannot read the project script " + path + ": " + script.ResultText());
  }
}

bool TProject::StopRequested() {
  if (stopped_) return true;
  const std::uint8_t reason = StopRequest().load();
  if (reason == stopNone) return false;
  stopped_ = true;
  Log("Build stopped: " + StopReasonText(reason) + "\r\n", true);
  return true;
}

TProject::TLineOutcome TProject::ExecuteLine(const std::string& line) {
  if (line.starts_with("//") || line.starts_with("\\\\")) return TLineOutcome::Next;
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return TLineOutcome::Next;
  const std::string name = line.substr(0, equals);
  const std::string argument = line.substr(equals + 1);
  const std::string trimmed = Trim(name);
  if (!SameText(trimmed, "OPTION") && !SameText(trimmed, "SETENV")) {
    Log(kSeparatorLine, false);
    Log(variables_.Expand(line, true) + "\r\n", false);
  }
  return ExecuteCommand(name, argument);
}

TProject::TLineOutcome TProject::ExecuteCommand(const std::string& name, const std::string& argument) {
  if (name == "EXIT_IF") {
    if (Value(argument) == "TRUE") {
      Log("Already invoked.\r\n", false);
      return TLineOutcome::EndScript;
    }
    return TLineOutcome::Next;
  }
  if (name == "CONSTANT_DEPENDENCY_FILE") {
    if (IsBlank(argument)) {
      variables_.Set("CONSTANT_DEPENDENCY_FILEDATE", "");
    } else {
      variables_.Set("CONSTANT_DEPENDENCY_FILEDATE", FileDateStamp(variables_.Expand(argument, true)));
    }
    return TLineOutcome::Next;
  }
  if (name == "CHKENV") {
    const std::size_t semicolon = argument.find(';');
    const std::string variable = argument.substr(0, semicolon);
    const std::string expected = semicolon == std::string::npos ? "" : argument.substr(semicolon + 1);
    return SameText(GetEnvOrRegValue(variable), expected) ? TLineOutcome::Next : TLineOutcome::SkipNextLine;
  }
  if (name == "INCLUDE") {
    RunScript(variables_.Expand(argument, true));
    return TLineOutcome::Next;
  }

  variables_.Set(name, argument);
  if (name == "EXECUTE") {
    StepExecute(argument);
  } else if (name == "TOOLS") {
    StepTools();
  } else if (name == "SYSCALL") {
    StepSyscall();
  } else if (name == "UPDATEHEADERFILES") {
    StepUpdateHeaderFiles();
  } else if (name == "BIND") {
    StepBind();
  } else if (name == "BMP256TOCGI") {
    StepBitmapToCgi();
  } else if (name == "DELFILE") {
    std::error_code ignored;
    std::filesystem::remove(MapScriptPath(variables_.Expand(argument, true)), ignored);
  } else if (name == "PUSH") {
    Push();
  } else if (name == "POP") {
    Pop();
  } else if (name == "SETENV") {
    AddToOptionList(olSetEnv, variables_.Expand(argument, true));
  } else if (const TOptionListId id = OptionListOf(name); id != kOptionListCount) {
    AddToOptionList(id, argument);
  }
  return TLineOutcome::Next;
}

void TProject::AddToOptionList(TOptionListId id, const std::string& entry) {
  if (entry.empty()) {
    option_lists_[id].reset();
    return;
  }
  if (!option_lists_[id]) option_lists_[id] = std::make_unique<TOptionList>();
  option_lists_[id]->Add(entry);
}

// ---- the stack: the variables, then every option list (or an empty entry for an absent
// one), eight entries per PUSH.

void TProject::Push() {
  stack_.Push(std::make_unique<TParamlist>(variables_));
  for (const auto& list : option_lists_) {
    stack_.Push(list ? std::make_unique<TOptionList>(*list) : nullptr);
  }
}

void TProject::Pop() {
  if (stack_.Count() < kOptionListCount + 1) return;
  for (int id = kOptionListCount - 1; id >= 0; --id) {
    const std::unique_ptr<TObject> saved = stack_.Pop();
    const auto* list = dynamic_cast<const TOptionList*>(saved.get());
    // A saved list replaces the content of a list that exists; an absent one at either
    // time leaves the list as it is.
    if (list && option_lists_[id]) *option_lists_[id] = *list;
  }
  const std::unique_ptr<TObject> saved = stack_.Pop();
  if (const auto* variables = dynamic_cast<const TParamlist*>(saved.get())) variables_ = *variables;
}

}  // namespace ostrel
