// The build steps: the up-to-date test, the option file, EXECUTE, TOOLS, SYSCALL with its
// stub template, the library part, the header list files, BIND and BMP256TOCGI.

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/compare_files.h"
#include "base/error.h"
#include "base/files.h"
#include "base/path_map.h"
#include "base/text.h"
#include "imaging/bmp_to_cgi.h"
#include "patch/patcher.h"
#include "project/file_dates.h"
#include "project/project.h"

namespace ostrel {

namespace {

constexpr const char* kOptionFileName = "TEMP.TXT";
constexpr const char* kSubOption = " -SUB=TEMP.TXT";
constexpr const char* kSyscallTemplateName = "SYSCALL_TEMPLATE.SRC";
constexpr std::uint32_t kExecuteStep = 0x100;
constexpr std::uint32_t kSyscallStep = 0x1;
constexpr std::uint32_t kToolsStep = 0x10000;

// A directory and a name; a blank directory leaves the name alone.
std::string JoinPath(const std::string& dir, const std::string& name) {
  if (IsBlank(dir)) return name;
  return dir.ends_with('/') || dir.ends_with('\\') ? dir + name : dir + "/" + name;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool HasDirectoryPart(const std::string& path) { return path.find_first_of("/\\") != std::string::npos; }

// The file name of a path up to its first dot.
std::string BaseNameUpToDot(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.substr(0, name.find('.'));
}

void WriteLinesTo(const std::string& path, const std::vector<std::string>& lines, int mode) {
  TTextFile file(MapScriptPath(path), mode);
  bool ok = file.POpen();
  for (std::size_t i = 0; ok && i < lines.size(); ++i) ok = file.WriteLine(lines[i]);
  if (!ok) throw IoError("Cannot write " + path + ": " + file.ResultText());
}

}  // namespace

std::string PrototypeName(const std::string& prototype) {
  const std::size_t open = prototype.find('(');
  if (open == std::string::npos) return {};
  const std::size_t before = prototype.find_last_of("* ", open == 0 ? 0 : open - 1);
  const std::size_t start = (open == 0 || before == std::string::npos) ? 0 : before + 1;
  return prototype.substr(start, open - start);
}

// ---- up-to-date test

bool TProject::IsUpToDate() {
  up_to_date_message_.clear();
  if (Value("MAKEALL") == "TRUE" || Value("FORCEUPDATE") == "TRUE") return false;
  const std::string dependant = Value("DEPENDANT");
  if (IsBlank(dependant)) return true;
  if (!FileExists(dependant)) return false;
  const std::string dependency = Value("DEPENDENCY");
  if (!FileExists(dependency)) {
    up_to_date_message_ = "Dependency: " + Quoted(dependency) + " does not exist!";
    return true;
  }
  TFileTime newest = LastWriteTime(dependency);
  if (const TOptionList* list = OptionList(olDependency)) {
    for (const std::string& entry : list->Entries()) {
      newest = std::max(newest, LastWriteTime(variables_.Expand(entry, true)));
    }
  }
  return LastWriteTime(dependant) >= newest;
}

bool TProject::ReportSkip() {
  if (up_to_date_message_.empty()) {
    Log("No news!\r\n", false);
    return false;
  }
  Log(up_to_date_message_ + "\r\n", true);
  return true;
}

// ---- option file

void TProject::WriteOptionFileLines(const std::vector<std::string>& lines) {
  WriteLinesTo(JoinPath(Value("WORKDIR"), kOptionFileName), lines, kModeCreate);
}

void TProject::WriteOptionFile(const std::vector<TOptionListId>& lists) {
  Log("options:\r\n", false);
  std::vector<std::string> lines;
  for (TOptionListId id : lists) {
    if (!OptionList(id)) continue;
    for (const std::string& entry : OptionList(id)->Entries()) {
      lines.push_back(variables_.Expand(entry, false));
      Log(lines.back() + "\r\n", false);
    }
  }
  WriteOptionFileLines(lines);
}

void TProject::WriteOptionFileLine(const std::string& line) {
  Log(line + "\r\n", false);
  WriteOptionFileLines({line});
}

// ---- EXECUTE

void TProject::StepExecute(const std::string& argument) {
  step_counter_ += kExecuteStep;
  if (IsUpToDate()) {
    ReportSkip();
    return;
  }
  const TOptionListId list = argument.find("ASM_CMD") != std::string::npos ? olAsmOpt : olOption;
  if (OptionList(list)) {
    WriteOptionFile({list});
  } else {
    WriteOptionFileLine("FOption[ optXXX ] not assigned.");
  }
  tool_label_ = Value("PROG");
  RunTool(Quoted(Value("EXECUTE")) + kSubOption);
}

// ---- header list files

std::string TProject::HeaderListPath(const std::string& header) const {
  return (HasDirectoryPart(header) ? header : JoinPath(Value("HEADERDIR"), header)) + ".TMP";
}

bool TProject::UpdateHeaderList(const std::string& prototype, const std::string& header) {
  const std::string path = HeaderListPath(header);
  TTextFile list(MapScriptPath(path), kModeRead);
  bool created = false;
  bool present = false;
  if (list.POpen()) {
    std::string line;
    while (!present && list.ReadLine(line)) present = line.find(prototype) != std::string::npos;
    list.Close();
  } else {
    WriteLinesTo(path, {}, kModeCreate);
    created = true;
  }
  if (!present) WriteLinesTo(path, {prototype + ";"}, kModeAppend);
  return created;
}

void TProject::StepUpdateHeaderFiles() {
  const std::string dir = MapScriptPath(Value("UPDATEHEADERFILES"));
  std::error_code ec;
  std::vector<std::filesystem::path> lists;
  for (const auto& entry : std::filesystem::directory_iterator(dir.empty() ? "." : dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(ec) && name.size() > 4 && name.ends_with(".TMP")) lists.push_back(entry.path());
  }
  for (const std::filesystem::path& list : lists) {
    std::filesystem::path header = list;
    header.replace_extension();
    if (CompareFiles(list.string(), header.string(), true).empty()) {
      std::filesystem::remove(list, ec);
    } else {
      // The rename replaces the old header in one step.
      std::filesystem::rename(list, header, ec);
      if (ec) throw IoError("Cannot replace the header " + header.string() + ": " + ec.message());
    }
  }
}

// ---- TOOLS

void TProject::StepTools() {
  step_counter_ += kToolsStep;
  const std::string argument = Value("TOOLS");
  const std::string prototype = GetToken(argument, 1, ";");
  const std::string header = GetToken(argument, 2, ";");
  const std::string name = PrototypeName(prototype);
  if (name.empty()) return;
  if (!IsBlank(prototype) && !IsBlank(header)) UpdateHeaderList(prototype, header);

  const std::string source_dir = Value("SOURCEDIR");
  struct TCandidate {
    std::string file;
    bool compiled;
  };
  const TCandidate candidates[] = {{name + ".CPP", true},
                                   {BaseNameUpToDot(header) + ".CPP", true},
                                   {name + ".ASM", false},
                                   {name + ".SRC", false}};
  std::string source;
  bool compiled = false;
  for (const TCandidate& candidate : candidates) {
    if (candidate.file == ".CPP") continue;
    const std::string path = JoinPath(source_dir, candidate.file);
    if (FileExists(path)) {
      source = path;
      compiled = candidate.compiled;
      break;
    }
  }
  if (source.empty()) {
    Log("Missing " + Quoted(JoinPath(source_dir, name)) + "\r\n", true);
    return;
  }
  const std::string tool = Quoted(Value(compiled ? "COMPILE_CMD" : "ASM_CMD"));
  const std::string object = JoinPath(Value("OBJECTDIR"), name + ".OBJ");
  variables_.Set("SOURCEFILE", source);
  variables_.Set("DEPENDENCY", source);
  variables_.Set("TARGETFILE", object);
  variables_.Set("DEPENDANT", object);
  variables_.Set("PROG", name);
  if (IsUpToDate()) {
    if (ReportSkip()) return;
  } else {
    WriteOptionFile({compiled ? olOption : olAsmOpt});
    tool_label_ = name;
    RunTool(tool + kSubOption);
  }
  LibraryPart(name, false);
}

// ---- SYSCALL

void TProject::GenerateSyscallSource(const std::string& name, const std::string& number) {
  const std::string template_path = JoinPath(Value("TEMPLATEDIR"), kSyscallTemplateName);
  TTextFile stub_template(MapScriptPath(template_path), kModeRead);
  if (!stub_template.POpen()) {
    throw IoError("Cannot open the system-call template " + template_path + ": " +
                  stub_template.ResultText());
  }
  std::vector<std::string> lines;
  std::string line;
  while (stub_template.ReadLine(line)) {
    lines.push_back(ReplaceAll(ReplaceAll(line, "<name>", name), "<number>", number));
  }
  if (!stub_template.CheckResult()) {
    throw IoError("Cannot read the system-call template " + template_path + ": " +
                  stub_template.ResultText());
  }
  WriteLinesTo(JoinPath(Value("SOURCEDIR"), name + ".SRC"), lines, kModeCreate);
}

void TProject::StepSyscall() {
  step_counter_ += kSyscallStep;
  const std::string tool = Quoted(Value("ASM_CMD"));
  const std::string argument = Value("SYSCALL");
  const std::string number = GetToken(argument, 1, ";");
  if (IsBlank(number)) return;
  const std::string prototype = GetToken(argument, 2, ";");
  const std::string header = GetToken(argument, 3, ";");
  const std::string name = PrototypeName(prototype);
  if (name.empty()) return;
  if (!IsBlank(prototype) && !IsBlank(header) && UpdateHeaderList(prototype, header)) {
    Log("created:" + HeaderListPath(header) + "\r\n", false);
  }

  variables_.Set("SOURCEFILE", Quoted(JoinPath(Value("SOURCEDIR"), name + ".SRC")));
  variables_.Set("TARGETFILE", Quoted(JoinPath(Value("OBJECTDIR"), name + ".OBJ")));
  const bool newer = DateStampIsLater(GetToken(argument, 4, ";"), Value("CONSTANT_DEPENDENCY_FILEDATE"));
  variables_.Set("FORCEUPDATE", newer ? "TRUE" : "FALSE");
  variables_.Set("PROG", name);
  if (IsUpToDate()) {
    if (ReportSkip()) return;
  } else {
    GenerateSyscallSource(name, number);
    if (OptionList(olAsmOpt)) {
      WriteOptionFile({olAsmOpt});
    } else {
      WriteOptionFileLine("FOption[ optOPT ] not assigned.");
    }
    tool_label_ = number + " " + name;
    RunTool(tool + kSubOption);
  }
  LibraryPart(name, true);
}

// ---- library part

void TProject::LibraryPart(const std::string& name, bool is_syscall) {
  const std::string tool = Quoted(Value("LNK_CMD"));
  if (IsBlank(Value("LIBRARY"))) {
    Log("Missing library.\r\n", true);
    return;
  }
  const std::string library = JoinPath(Value("LIBDIR"), Value("LIBRARY") + ".LIB");
  const bool library_exists = FileExists(library);
  if (!library_exists) variables_.Set("LIBNEW", "TRUE");
  variables_.Set("DEPENDENCY", JoinPath(Value("OBJECTDIR"), name + ".OBJ"));
  variables_.Set("DEPENDANT", library);
  auto remove_step_variables = [&] {
    variables_.Set("DEPENDENCY", "");
    variables_.Set("DEPENDANT", "");
    if (is_syscall) variables_.Set("FORCEUPDATE", "");
  };
  if (IsUpToDate() && Value("LIBNEW") != "TRUE") {
    if (!ReportSkip()) remove_step_variables();
    return;
  }
  std::string command = tool;
  if (library_exists) {
    WriteOptionFile({olLibModOpt, olLibOpt});
  } else {
    // A new library gets its first object on the command line.
    command += " " + Quoted(variables_.Expand("$(OBJECTDIR)/$(PROG).OBJ", true));
    WriteOptionFile({olLibOpt});
  }
  RunTool(command + kSubOption);
  remove_step_variables();
}

// ---- BIND and BMP256TOCGI

void TProject::StepBind() {
  if (IsUpToDate()) {
    ReportSkip();
    return;
  }
  TPatcher patcher(variables_, ui_);
  patcher.SetOnReport([this](const std::string& text, bool show) { Log(text, show); });
  if (!patcher.RunPatchScript(Value("BIND"))) ++failed_steps_;
}

void TProject::StepBitmapToCgi() {
  if (IsUpToDate()) {
    ReportSkip();
    return;
  }
  const std::string spec = Value("BMP256TOCGI");
  if (ConvertBmp8ToCgi(spec) || ConvertBmp24ToCgi(spec)) return;
  ++failed_steps_;
  Log("Not converted: " + spec + " is no 92x64 bitmap with an 8-bit palette or 24-bit colours.\r\n", true);
}

}  // namespace ostrel
