// The settings file and the parameter file as start-up reads them.
//
// Input: the parameter file up to the first zero byte, the settings file after it.
// Parameter lines that hold "/" are left out, so that no path outside the scratch folder
// is ever named.
//
// What must hold, for the settings file: every key that a section lists reads back with
// the value its section's lines show (the first line of that key), a write adds or
// changes exactly one key and leaves every other section and value as it was, and
// deleting the key again restores every value. For start-up: it raises nothing but the
// system's own errors, and every ID that a parameter line sets with a value is locked.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "env/app_env.h"
#include "env/ini_file.h"
#include "fuzz_support.h"

namespace {

using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;

constexpr std::size_t kMaxNames = 24;
const char* const kNewKey = "FUZZ_NEW_KEY";

// Every key of the first sections, read one by one, checked against the section's lines.
Snapshot ReadAll(const ostrel::TIniFile& ini, const std::vector<std::string>& sections) {
  Snapshot values;
  for (std::size_t s = 0; s < sections.size() && s < kMaxNames; ++s) {
    const std::string& section = sections[s];
    const std::vector<std::string> lines = ini.ReadSectionValues(section);
    const std::vector<std::string> keys = ini.ReadSection(section);
    FUZZ_CHECK(lines.size() == keys.size(), section);
    for (std::size_t k = 0; k < keys.size() && k < kMaxNames; ++k) {
      if (values.count({ostrel::UpperCase(section), ostrel::UpperCase(keys[k])})) continue;  // a later duplicate
      std::string expected;
      for (const std::string& line : lines) {
        const std::size_t equals = line.find('=');
        if (ostrel::SameText(line.substr(0, equals), keys[k])) {
          expected = line.substr(equals + 1);
          break;
        }
      }
      const std::string value = ini.ReadString(section, keys[k], "\x01unset");
      FUZZ_CHECK(value == expected, "[" + section + "] " + keys[k] + "=" + value);
      values[{ostrel::UpperCase(section), ostrel::UpperCase(keys[k])}] = value;
    }
  }
  return values;
}

void CheckSettingsFile(const std::string& content) {
  const std::string path = ostrel::fuzz::ScratchFile("settings.INI");
  ostrel::fuzz::WriteFileBytes(path, std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
  const ostrel::TIniFile ini(path);
  const std::vector<std::string> sections = ini.ReadSections();
  const Snapshot before = ReadAll(ini, sections);
  if (sections.empty()) return;

  const std::string& section = sections.front();
  if (ostrel::IsBlank(section) || ini.ValueExists(section, kNewKey)) return;
  ini.WriteString(section, kNewKey, "written");
  FUZZ_CHECK(ini.ReadString(section, kNewKey, "") == "written", section);
  FUZZ_CHECK(ini.ReadSections() == sections, "a write keeps the sections");
  Snapshot after = ReadAll(ini, sections);
  after.erase({ostrel::UpperCase(section), kNewKey});
  FUZZ_CHECK(after == before, "a write changes only its own key");

  ini.DeleteKey(section, kNewKey);
  FUZZ_CHECK(!ini.ValueExists(section, kNewKey), section);
  FUZZ_CHECK(ReadAll(ini, sections) == before, "deleting the key restores the values");
}

void CheckStartup(const std::string& parameters) {
  std::string kept;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start <= parameters.size();) {
    std::size_t end = parameters.find('\n', start);
    if (end == std::string::npos) end = parameters.size();
    const std::string line = parameters.substr(start, end - start);
    if (line.find('/') == std::string::npos) {
      kept += line + "\n";
      lines.push_back(line);
    }
    start = end + 1;
  }
  const std::string parameter_file = ostrel::fuzz::ScratchFile("ostrel_PARAMETER.TXT");
  ostrel::fuzz::WriteFileBytes(parameter_file, std::span(reinterpret_cast<const std::uint8_t*>(kept.data()), kept.size()));

  ostrel::TStartupContext context;
  context.executable_path = ostrel::fuzz::ScratchFile("ostrel");
  context.current_dir = ostrel::fuzz::ScratchFolder();
  context.environment = [parameter_file](const std::string& name) -> std::string {
    if (name.ends_with("_PARAMETER")) return parameter_file;
    if (name == "OSTREL_REGISTRY") return ostrel::fuzz::ScratchFile("registry.ini");
    return "";
  };
  ostrel::ResetAppEnvForTesting(context);
  try {
    ostrel::PreLoadAppEnv({});
  } catch (const ostrel::Error&) {
    return;  // an ID the system does not know
  }
  for (std::string line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || ostrel::IsBlank(line.substr(equals + 1))) continue;
    const std::string name = ostrel::Trim(line.substr(0, equals));
    FUZZ_CHECK(ostrel::AppEnv().IsLocked(name), name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = std::min(input.find('\0'), input.size());
  ostrel::fuzz::ClearScratchFolder();
  try {
    CheckSettingsFile(input.substr(std::min(split + 1, input.size())));
  } catch (const ostrel::Error&) {
    // a section name that cannot be written (blank, or with a line break)
  }
  CheckStartup(input.substr(0, split));
  return 0;
}
