// The image repository of a folder.
//
// SaveImageInfo:
//  1. Diagnostics lines "_SaveImageInfo" and the image path.
//  2. "IMAGEINFO.INI" of the image's folder (a missing file is empty).
//  3. Purge: sections whose image file is gone are erased, pass after pass until a pass
//     erases nothing.
//  4. Clone search, only when the image's own section has as many lines as the new
//     information (so a new image and a clone entry are never searched): the sections in
//     file order, the own one included; the first that equals the information exactly, or
//     whose every value equals the new value of its key (CALCID aside), is the clone.
//  5. The own section: written in full when nothing matched; CLONE (and, for a match by
//     value, the own CALCID) when another section matched; untouched when it matched itself.
//  6. Both sorted copies are rewritten.
//  7. Progress back to 0.
//  8. Optionally, the ".G1S"/".FLS" images of the folder that have no section yet.

#include "operations/image_repository.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "env/ini_file.h"

namespace ostrel {

namespace {

constexpr const char* kLineEnd = "\r\n";

// One KEY=value line of the image information.
struct InfoLine {
  std::string key;
  std::string value;
};

InfoLine SplitInfoLine(const std::string& line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return {line, {}};
  return {line.substr(0, eq), line.substr(eq + 1)};
}

std::vector<InfoLine> SplitInfo(const std::string& info) {
  std::vector<InfoLine> lines;
  std::size_t start = 0;
  while (start < info.size()) {
    std::size_t end = info.find('\n', start);
    if (end == std::string::npos) end = info.size();
    std::string line = info.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(SplitInfoLine(line));
    start = end + 1;
  }
  return lines;
}

// The value of a key (compared without regard to case); a missing key gives "".
std::string ValueOf(const std::vector<InfoLine>& lines, const std::string& key) {
  for (const InfoLine& line : lines) {
    if (SameText(line.key, key)) return line.value;
  }
  return {};
}

std::string ValueOf(const std::vector<std::string>& section_lines, const std::string& key) {
  for (const std::string& line : section_lines) {
    InfoLine split = SplitInfoLine(line);
    if (SameText(Trim(split.key), key)) return split.value;
  }
  return {};
}

struct ImagePath {
  std::string folder;  // with its trailing separator, or empty for the current folder
  std::string name;
};

ImagePath SplitImagePath(const std::string& image_file) {
  const std::filesystem::path path(image_file);
  ImagePath result{path.parent_path().string(), path.filename().string()};
  if (!result.folder.empty() && result.folder.back() != '/') result.folder += '/';
  return result;
}

bool ImageExists(const std::string& folder, const std::string& name) {
  std::error_code ec;
  const auto status = std::filesystem::status(folder + name, ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// Step 3.
void PurgeDeletedImages(const TIniFile& ini, const std::string& folder) {
  std::vector<std::string> sections = ini.ReadSections();
  for (;;) {
    bool erased = false;
    for (const std::string& section : sections) {
      if (!ImageExists(folder, section)) {
        ini.EraseSection(section);
        erased = true;
      }
    }
    if (!erased) return;
    std::vector<std::string> remaining = ini.ReadSections();
    // A section that cannot be erased must not keep the purge going for ever.
    if (remaining.size() >= sections.size()) return;
    sections = std::move(remaining);
  }
}

struct CloneMatch {
  std::string section;  // blank: no match
  bool by_value = false;
};

bool MatchesByValue(const std::vector<std::string>& section_lines, const std::vector<InfoLine>& new_lines) {
  // An empty section would match anything; it is no image's information.
  if (section_lines.empty() || section_lines.size() > new_lines.size()) return false;
  for (const std::string& line : section_lines) {
    InfoLine split = SplitInfoLine(line);
    const std::string key = Trim(split.key);
    if (SameText(key, "CALCID")) continue;
    if (split.value != ValueOf(new_lines, key)) return false;
  }
  return true;
}

// Step 4.
CloneMatch FindClone(const TIniFile& ini, const std::string& own_section, const std::string& image_info,
                     const std::vector<InfoLine>& new_lines) {
  if (ini.ReadSectionValues(own_section).size() != new_lines.size()) return {};
  for (const std::string& section : ini.ReadSections()) {
    const std::vector<std::string> lines = ini.ReadSectionValues(section);
    std::string joined;
    for (const std::string& line : lines) joined += line + kLineEnd;
    if (joined == image_info) return {section, false};
    if (MatchesByValue(lines, new_lines)) return {section, true};
  }
  return {};
}

// Step 5.
void WriteOwnSection(const TIniFile& ini, const std::string& own_section, const CloneMatch& clone,
                     const std::vector<InfoLine>& new_lines) {
  if (IsBlank(clone.section)) {
    ini.EraseSection(own_section);
    for (const InfoLine& line : new_lines) ini.WriteString(own_section, line.key, line.value);
  } else if (!SameText(clone.section, own_section)) {
    ini.EraseSection(own_section);
    ini.WriteString(own_section, "CLONE", clone.section);
    if (clone.by_value) ini.WriteString(own_section, "CALCID", ValueOf(new_lines, "CALCID"));
  }
}

// Case-insensitive text order; equal texts that differ in case keep a fixed order too.
bool SortKeyLess(const std::string& a, const std::string& b) {
  const std::string ua = UpperCase(a);
  const std::string ub = UpperCase(b);
  if (ua != ub) return ua < ub;
  return a < b;
}

struct SortedCopy {
  const char* file_name;
  const char* first_key;
  const char* second_key;
};

// Step 6: one sorted copy.
void WriteSortedCopy(const SortedCopy& copy, const std::string& folder, const std::vector<std::string>& sections,
                     const std::map<std::string, std::vector<std::string>>& values, TUserInterface ui) {
  auto values_of = [&](const std::string& section) -> const std::vector<std::string>* {
    auto it = values.find(UpperCase(section));
    return it == values.end() ? nullptr : &it->second;
  };
  std::vector<std::string> keys;
  for (const std::string& section : sections) {
    const std::vector<std::string>* lines = values_of(section);
    std::string first = lines ? ValueOf(*lines, copy.first_key) : std::string();
    std::string second = lines ? ValueOf(*lines, copy.second_key) : std::string();
    keys.push_back(first + ";" + second + ";" + section);
  }
  std::stable_sort(keys.begin(), keys.end(), SortKeyLess);

  const std::string path = folder + copy.file_name;
  ui.Notify(nfLogLine, path);
  ui.Notify(nfProgressMax, static_cast<std::int64_t>(keys.size()));
  std::string text;
  std::int64_t i = 0;
  for (const std::string& key : keys) {
    ui.Notify(nfProgressPos, ++i);
    // The name is the third ";" field, so a name holding ";" is cut there.
    const std::string name = GetToken(key, 3, ";");
    text += "[" + name + "]" + kLineEnd;
    if (const std::vector<std::string>* lines = values_of(name)) {
      for (const std::string& line : *lines) text += line + kLineEnd;
    }
    text += kLineEnd;
  }
  ReplaceFileContent(path, text);
}

// Step 8.
std::string ListUnregisteredImages(const TIniFile& ini, const std::string& folder) {
  const std::vector<std::string> sections = ini.ReadSections();
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) throw IoError("Unable to list " + folder);
  std::sort(names.begin(), names.end());

  std::string result;
  for (const std::string& name : names) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4) continue;
    const std::string extension = UpperCase(name.substr(dot));
    if (extension != ".G1S" && extension != ".FLS") continue;
    const bool registered = std::any_of(sections.begin(), sections.end(),
                                        [&](const std::string& s) { return SameText(s, name); });
    if (!registered) result += folder + name + kLineEnd;
  }
  return result;
}

}  // namespace

std::string SaveImageInfo(const std::string& image_file, const std::string& image_info,
                          bool list_unregistered, TUserInterface ui) {
  ui.Notify(nfLogLine, "_SaveImageInfo");
  ui.Notify(nfLogLine, image_file);
  ui.ProcessMessages();

  const ImagePath image = SplitImagePath(image_file);
  const TIniFile ini(image.folder + kRepositoryFileName);
  const std::vector<InfoLine> new_lines = SplitInfo(image_info);

  PurgeDeletedImages(ini, image.folder);
  const CloneMatch clone = FindClone(ini, image.name, image_info, new_lines);
  WriteOwnSection(ini, image.name, clone, new_lines);

  const std::vector<std::string> sections = ini.ReadSections();
  std::map<std::string, std::vector<std::string>> values;
  for (const std::string& section : sections) {
    values.emplace(UpperCase(section), ini.ReadSectionValues(section));
  }
  static constexpr SortedCopy kCopies[] = {
      {kSortedByOsDateFileName, "OSDATE", "BIOSDATE"},
      {kSortedByBiosDateFileName, "BIOSDATE", "OSDATE"},
  };
  for (const SortedCopy& copy : kCopies) WriteSortedCopy(copy, image.folder, sections, values, ui);
  ui.Notify(nfProgressPos, std::int64_t{0});

  if (!list_unregistered) return {};
  return ListUnregisteredImages(ini, image.folder);
}

}  // namespace ostrel
