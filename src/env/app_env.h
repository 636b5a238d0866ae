#pragma once
// The application environment: one process-wide table of named text values (IDs such as
// IF, PN, FV, IN, OS, OS_MJV, UD, PD, CD, PL), filled at start-up and read by everyone.

#include <string>
#include <vector>

#include "env/ini_file.h"

namespace ostrel {

class TAppEnv {
 public:
  // Registers the IDs of the system and sets PD and CD.
  TAppEnv();

  // Fails with "BASE_00.TAppEnv.RegisterID: " + name + " already registered!".
  void RegisterID(const std::string& name);
  // Fails with "BASE_00.TAppEnv.PSetValue: " + name + " not registered!". A locked ID (in PL)
  // keeps its value. "@PROGRAMDIR@" and "@CURRENTDIR@" are replaced by PD and CD.
  void PSetValue(const std::string& name, const std::string& value);
  // The stored value, or the empty text.
  std::string PGetValue(const std::string& name) const;
  bool IsLocked(const std::string& name) const;

  // The lines "NAME=value" in the order the IDs were first set.
  std::vector<std::string> Lines() const;

 private:
  std::vector<std::string> registered_;
  std::vector<std::pair<std::string, std::string>> values_;
};

// The single instance, created on first call.
TAppEnv& AppEnv();

// Start-up: PreLoadAppEnv (parameter file, start parameters NAME=VALUE, the settings file's
// AppEnv section) and then the start-up defaults (IF, UD, OS, OS_MJV). `arguments` are the
// start parameters in their order.
void PreLoadAppEnv(const std::vector<std::string>& arguments);
void ApplyStartupDefaults();

// The process environment variable; if blank, the value NAME under section
// "SoftWare\<IN>" of the registry file (/etc/ostrel/registry.ini, or $OSTREL_REGISTRY).
std::string GetEnvOrRegValue(const std::string& name);

// ${XDG_CONFIG_HOME:-$HOME/.config}/ostrel/ + executable name up to its first dot + ".INI".
std::string DefaultIniFileName();

// The settings file named by IF.
TIniFile SettingsFile();

}  // namespace ostrel
