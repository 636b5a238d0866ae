#pragma once
// The application environment: one process-wide table of named text values (IDs such as
// IF, PN, FV, IN, OS, OS_MJV, UD, PD, CD, PL), filled at start-up and read by everyone.

#include <functional>
#include <string>
#include <vector>

#include "env/ini_file.h"

namespace ostrel {

// What start-up takes from the running process. Tests build their own; the default is the
// real process (FromProcess).
struct TStartupContext {
  std::string executable_path;  // the program file (/proc/self/exe)
  std::string current_dir;      // the current directory at start
  // The process environment: the variable's value, or the empty text when unset.
  std::function<std::string(const std::string&)> environment;
  // Operating system name and release as uname() gives them ("Linux", "6.1.0-18-amd64").
  std::string os_name;
  std::string os_release;

  static TStartupContext FromProcess();
};

class TAppEnv {
 public:
  // Registers the IDs of the system and sets PD and CD, from the real process.
  TAppEnv();
  explicit TAppEnv(TStartupContext context);

  // Fails with "BASE_00.TAppEnv.RegisterID: " + name + " already registered!".
  void RegisterID(const std::string& name);
  // Fails with "BASE_00.TAppEnv.PSetValue: " + name + " not registered!". A locked ID (in PL)
  // keeps its value. "@PROGRAMDIR@" and "@CURRENTDIR@" are replaced by PD and CD.
  void PSetValue(const std::string& name, const std::string& value);
  // The stored value, or the empty text.
  std::string PGetValue(const std::string& name) const;
  bool IsLocked(const std::string& name) const;
  // Adds an ID to the lock list PL (once, compared without regard to case).
  void Lock(const std::string& name);

  // The lines "NAME=value" in the order the IDs were first set.
  std::vector<std::string> Lines() const;

  const TStartupContext& Context() const { return context_; }

 private:
  // The ID as it was registered, or null when it is not.
  const std::string* RegisteredSpelling(const std::string& name) const;
  // Stores without the lock and the replacements (creation, the lock list itself).
  void StoreValue(const std::string& name, const std::string& value);

  TStartupContext context_;
  std::vector<std::string> registered_;
  std::vector<std::pair<std::string, std::string>> values_;
};

// The single instance, created on first call.
TAppEnv& AppEnv();
// Replaces the single instance by a new one made from `context` (tests only).
void ResetAppEnvForTesting(TStartupContext context);

// Start-up: PreLoadAppEnv (parameter file, start parameters NAME=VALUE, the settings file's
// AppEnv section) and then the start-up defaults (IF, UD, OS, OS_MJV). `arguments` are the
// start parameters in their order.
void PreLoadAppEnv(const std::vector<std::string>& arguments);
void ApplyStartupDefaults();

// The process environment variable; if blank, the value NAME under section
// "SoftWare\<IN>" of the registry file (/etc/ostrel/registry.ini, or $OSTREL_REGISTRY).
std::string GetEnvOrRegValue(const std::string& name);

// ${XDG_CONFIG_HOME:-$HOME/.config}/ostrel/ + the internal name (IN) + ".INI": one file for
// the window and the command line.
std::string DefaultIniFileName();

// The settings file named by IF.
TIniFile SettingsFile();

// The program's file name ("ostrel") and that name up to its first dot.
std::string ProgramFileName();
std::string ProgramBaseName();
// The folder for files that belong in the program's directory: PD when it is writable,
// else UD (without the trailing "/"); the empty text when neither is known.
std::string ProgramOrDataDir();

// "Linux 6.1" and "6" from uname's name and release.
struct TOsText {
  std::string text;
  std::string major;
};
TOsText OsText(const std::string& os_name, const std::string& os_release);

}  // namespace ostrel
