#include "env/app_env.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "base/error.h"
#include "base/small_file.h"
#include "base/text.h"

namespace ostrel {

namespace {

const char* const kSystemIds[] = {"PD", "CD", "PL", "FV", "PN", "IN", "IF", "UD", "OS", "OS_MJV"};

std::string ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

// A directory without its trailing "/" (one character, as a path ends in at most one).
std::string WithoutTrailingSlash(std::string dir) {
  if (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string CollapseSlashes(std::string text) {
  for (auto at = text.find("//"); at != std::string::npos; at = text.find("//", at)) text.erase(at, 1);
  return text;
}

// ${<xdg_variable>:-$HOME/<home_relative>}/ostrel
std::string XdgDir(const TStartupContext& context, const char* xdg_variable, const char* home_relative) {
  std::string base = context.environment(xdg_variable);
  if (IsBlank(base)) {
    std::string home = context.environment("HOME");
    base = (IsBlank(home) ? context.current_dir : WithoutTrailingSlash(home)) + "/" + home_relative;
  }
  return WithoutTrailingSlash(base) + "/ostrel";
}

// Folder of the default settings file and of the parameter file.
std::string ConfigDir(const TStartupContext& context) { return XdgDir(context, "XDG_CONFIG_HOME", ".config"); }

std::string DataDir(const TStartupContext& context) { return XdgDir(context, "XDG_DATA_HOME", ".local/share"); }

std::mutex& InstanceMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unique_ptr<TAppEnv>& InstanceSlot() {
  static std::unique_ptr<TAppEnv> instance;
  return instance;
}

// The largest parameter file that is read: a few lines NAME=VALUE.
constexpr std::uintmax_t kMaxParameterFileSize = 1u << 20;

// The lines of the parameter file (CR LF or LF ended). A file that cannot be opened has
// none; anything but a regular file, or a file beyond the cap, raises IoError.
std::vector<std::string> ReadLines(const std::string& path) {
  std::optional<std::string> text = ReadSmallRegularFile(path, kMaxParameterFileSize, "Parameter file");
  if (!text) return {};
  std::vector<std::string> lines = SplitLines(*text);
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

// The consumable parameter file: the file named by the environment lookup of
// IN + "_PARAMETER", else IN + "_PARAMETER.TXT" in the configuration folder, which is
// renamed to ".OLD" (replacing an older one) before it is read, so that it applies once.
// A file that cannot be renamed is not read. `path` receives the path of the file read.
std::vector<std::string> ParameterFileLines(const TAppEnv& env, std::string& path) {
  std::string in_name = env.PGetValue("IN");
  std::string named = GetEnvOrRegValue(in_name + "_PARAMETER");
  if (!IsBlank(named)) {
    path = named;
    return ReadLines(named);
  }

  std::string stem = ConfigDir(env.Context()) + "/" + in_name + "_PARAMETER";
  std::string fresh = stem + ".TXT";
  std::string consumed = stem + ".OLD";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fresh, ec)) return {};
  std::filesystem::rename(fresh, consumed, ec);
  if (ec) return {};
  path = consumed;
  return ReadLines(consumed);
}

// One start parameter NAME=VALUE: set and locked; `from_parameters` applies the rules of
// the parameter file and the command line ("/" names skipped, UD ends with one "/").
void ApplyParameterLine(TAppEnv& env, const std::string& line, bool from_parameters) {
  auto eq = line.find('=');
  if (eq == std::string::npos) return;
  std::string name = Trim(line.substr(0, eq));
  std::string value = line.substr(eq + 1);
  if (IsBlank(value)) return;
  if (from_parameters && !name.empty() && name[0] == '/') return;
  if (from_parameters && SameText(name, "UD")) value = CollapseSlashes(value + "/");
  env.PSetValue(name, value);
  env.Lock(name);
}

}  // namespace

TStartupContext TStartupContext::FromProcess() {
  TStartupContext context;
  std::error_code ec;
  context.executable_path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  context.current_dir = std::filesystem::current_path(ec).string();
  context.environment = ProcessEnvironment;
  utsname names{};
  if (::uname(&names) == 0) {
    context.os_name = names.sysname;
    context.os_release = names.release;
  }
  return context;
}

TAppEnv::TAppEnv() : TAppEnv(TStartupContext::FromProcess()) {}

TAppEnv::TAppEnv(TStartupContext context) : context_(std::move(context)) {
  if (!context_.environment) context_.environment = ProcessEnvironment;
  for (const char* id : kSystemIds) RegisterID(id);
  StoreValue("PD", WithoutTrailingSlash(std::filesystem::path(context_.executable_path).parent_path().string()));
  StoreValue("CD", WithoutTrailingSlash(context_.current_dir));
}

const std::string* TAppEnv::RegisteredSpelling(const std::string& name) const {
  for (const std::string& id : registered_) {
    if (SameText(id, name)) return &id;
  }
  return nullptr;
}

void TAppEnv::RegisterID(const std::string& name) {
  if (RegisteredSpelling(name)) throw Error("BASE_00.TAppEnv.RegisterID: " + name + " already registered!");
  registered_.push_back(name);
}

void TAppEnv::PSetValue(const std::string& name, const std::string& value) {
  if (!RegisteredSpelling(name)) throw Error("BASE_00.TAppEnv.PSetValue: " + name + " not registered!");
  if (IsLocked(name)) return;
  std::string expanded = ReplaceAll(value, "@PROGRAMDIR@", PGetValue("PD"));
  expanded = ReplaceAll(expanded, "@CURRENTDIR@", PGetValue("CD"));
  StoreValue(name, expanded);
}

std::string TAppEnv::PGetValue(const std::string& name) const {
  for (const auto& [id, value] : values_) {
    if (SameText(id, name)) return value;
  }
  return "";
}

bool TAppEnv::IsLocked(const std::string& name) const { return ListIndex(PGetValue("PL"), name, ",") > 0; }

void TAppEnv::Lock(const std::string& name) {
  const std::string* registered = RegisteredSpelling(name);
  StoreValue("PL", ListAdd(PGetValue("PL"), registered ? *registered : name, ","));
}

std::vector<std::string> TAppEnv::Lines() const {
  std::vector<std::string> lines;
  for (const auto& [id, value] : values_) lines.push_back(id + "=" + value);
  return lines;
}

void TAppEnv::StoreValue(const std::string& name, const std::string& value) {
  for (auto& [id, stored] : values_) {
    if (SameText(id, name)) {
      stored = value;
      return;
    }
  }
  const std::string* registered = RegisteredSpelling(name);
  values_.emplace_back(registered ? *registered : name, value);
}

TAppEnv& AppEnv() {
  std::lock_guard<std::mutex> guard(InstanceMutex());
  auto& instance = InstanceSlot();
  if (!instance) instance = std::make_unique<TAppEnv>();
  return *instance;
}

void ResetAppEnvForTesting(TStartupContext context) {
  std::lock_guard<std::mutex> guard(InstanceMutex());
  InstanceSlot() = std::make_unique<TAppEnv>(std::move(context));
}

void PreLoadAppEnv(const std::vector<std::string>& arguments) {
  TAppEnv& env = AppEnv();

  // Version data of the build.
  std::string version = OSTREL_VERSION;
  if constexpr (!OSTREL_RELEASE_BUILD) version += "\xC3\x9F";  // "ß": not a release build
  env.PSetValue("FV", version);
  env.PSetValue("PN", OSTREL_PRODUCT_NAME);
  std::string internal_name = OSTREL_INTERNAL_NAME;
  env.PSetValue("IN", IsBlank(internal_name) ? ProgramBaseName() : internal_name);

  // The parameter file first: the first line naming an ID wins through the lock.
  std::string parameter_file;
  std::vector<std::string> lines = ParameterFileLines(env, parameter_file);
  const std::size_t from_file = lines.size();
  lines.insert(lines.end(), arguments.begin(), arguments.end());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    try {
      ApplyParameterLine(env, lines[i], true);
    } catch (const Error& e) {
      if (i >= from_file) {
        throw Error(e.Text() + " (the start parameter " + lines[i] +
                    " on the command line: correct the name; `ostrel env` lists the names)");
      }
      throw Error(e.Text() + " (" + parameter_file + ", line " + std::to_string(i + 1) +
                  ": remove the line or correct the name)");
    }
  }

  std::string settings = env.PGetValue("IF");
  if (!IsBlank(settings)) {
    for (const TIniFile::TNumberedLine& line : TIniFile(settings).ReadNumberedSectionValues("AppEnv")) {
      try {
        ApplyParameterLine(env, line.text, false);
      } catch (const Error& e) {
        // The start still ends with the message, which now says where to mend it.
        throw Error(e.Text() + " (" + settings + ", section AppEnv, line " + std::to_string(line.line) +
                    ": remove the line or correct the name)");
      }
    }
  }
}

void ApplyStartupDefaults() {
  TAppEnv& env = AppEnv();
  env.PSetValue("IF", DefaultIniFileName());

  std::string appdata = GetEnvOrRegValue("APPDATA");
  if (!IsBlank(appdata)) {
    env.PSetValue("UD", appdata.back() == '/' ? appdata : appdata + "/");
  } else {
    env.PSetValue("UD", DataDir(env.Context()) + "/");
  }

  const TStartupContext& context = env.Context();
  std::string os_name = IsBlank(context.os_name) ? GetEnvOrRegValue("OS") : context.os_name;
  TOsText os = OsText(os_name, context.os_release);
  env.PSetValue("OS", os.text);
  env.PSetValue("OS_MJV", os.major);
}

std::string GetEnvOrRegValue(const std::string& name) {
  const TAppEnv& env = AppEnv();
  std::string value = env.Context().environment(name);
  if (!IsBlank(value)) return value;
  std::string registry = env.Context().environment("OSTREL_REGISTRY");
  if (IsBlank(registry)) registry = "/etc/ostrel/registry.ini";
  return TIniFile(registry).ReadString("SoftWare\\" + env.PGetValue("IN"), name, "");
}

// The internal name, not the executable's: the window and the command line keep their
// settings (cable, port, last files, contrast) in one file.
std::string DefaultIniFileName() { return ConfigDir(AppEnv().Context()) + "/" + AppEnv().PGetValue("IN") + ".INI"; }

TIniFile SettingsFile() { return TIniFile(AppEnv().PGetValue("IF")); }

std::string ProgramFileName() {
  return std::filesystem::path(AppEnv().Context().executable_path).filename().string();
}

std::string ProgramBaseName() {
  std::string name = ProgramFileName();
  return name.substr(0, name.find('.'));
}

std::string ProgramOrDataDir() {
  std::string program_dir = AppEnv().PGetValue("PD");
  if (!IsBlank(program_dir) && ::access(program_dir.c_str(), W_OK) == 0) return program_dir;
  std::string data_dir = AppEnv().PGetValue("UD");
  if (IsBlank(data_dir)) return "";
  return WithoutTrailingSlash(data_dir);
}

TOsText OsText(const std::string& os_name, const std::string& os_release) {
  std::size_t i = 0;
  std::string major;
  std::string minor;
  while (i < os_release.size() && std::isdigit(static_cast<unsigned char>(os_release[i]))) major += os_release[i++];
  if (i < os_release.size() && os_release[i] == '.') {
    ++i;
    while (i < os_release.size() && std::isdigit(static_cast<unsigned char>(os_release[i]))) minor += os_release[i++];
  }
  if (major.empty()) major = "0";
  if (minor.empty()) minor = "0";
  return {os_name + " " + major + "." + minor, major};
}

}  // namespace ostrel
