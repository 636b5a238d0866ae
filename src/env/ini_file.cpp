#include "env/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "base/error.h"
#include "base/small_file.h"
#include "base/text.h"

namespace ostrel {

// The file is handled as a list of lines, so that a write keeps everything it does not
// touch (comments, blank lines, unknown lines) exactly as it was.
//
// A line whose trimmed text begins with "[" and holds a "]" is a section header (its name
// runs to the "]" that ends the line, else to the first one); a line
// with "=" inside a section is a key line (key trimmed, value as written after the first
// "="); a line beginning with ";" is a comment; lines before the first header are
// ignored. When a hand-edited file repeats a section header, the first occurrence is the
// section: reads and writes use it, later ones are ignored (EraseSection removes them
// all). Likewise the first occurrence of a key within its section counts.

namespace {

struct TLine {
  std::string text;
  enum Kind { Other, Section, Key } kind = Other;
  std::string name;  // section or key name
  std::string value;
};

using TLines = std::vector<TLine>;

TLine ClassifyLine(std::string text) {
  TLine line;
  // The line is stored back exactly as read, with the carriage return of a CRLF line
  // ending; only its meaning is taken without it. Stripping it from the stored text would
  // make a value that ends in "\r" lose one character at every rewrite of the file.
  line.text = text;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  std::string trimmed = Trim(text);
  if (trimmed.empty() || trimmed[0] == ';') return line;
  if (trimmed[0] == '[') {
    // A header that ends with "]" closes there, so that a name may hold "]" itself (image
    // file names such as "x[1].fls" name sections); one followed by other text closes at
    // its first "]".
    auto close = trimmed.back() == ']' ? trimmed.size() - 1 : trimmed.find(']');
    if (close != std::string::npos) {
      line.kind = TLine::Section;
      line.name = Trim(trimmed.substr(1, close - 1));
      return line;
    }
  }
  auto eq = text.find('=');
  if (eq != std::string::npos) {
    line.kind = TLine::Key;
    line.name = Trim(text.substr(0, eq));
    line.value = text.substr(eq + 1);
  }
  return line;
}

// A missing or unreadable file has no lines. A path that names no regular file, or a file
// beyond the cap, raises IoError.
TLines LoadLines(const std::string& path) {
  TLines lines;
  std::optional<std::string> text = ReadSmallRegularFile(path, kMaxSettingsFileSize, "Settings file");
  if (!text) return lines;
  for (std::string& line : SplitLines(*text)) lines.push_back(ClassifyLine(std::move(line)));
  return lines;
}

// Lines [begin, end) of the first occurrence of a section: begin is the header line.
struct TRange {
  std::size_t begin;
  std::size_t end;
};

std::optional<TRange> FindSection(const TLines& lines, const std::string& section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == TLine::Section && SameText(lines[i].name, section)) {
      std::size_t end = i + 1;
      while (end < lines.size() && lines[end].kind != TLine::Section) ++end;
      return TRange{i, end};
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const TLines& lines, const TRange& range, const std::string& key) {
  for (std::size_t i = range.begin + 1; i < range.end; ++i) {
    if (lines[i].kind == TLine::Key && SameText(lines[i].name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> FindValue(const std::string& path, const std::string& section, const std::string& key) {
  TLines lines = LoadLines(path);
  auto range = FindSection(lines, section);
  if (!range) return std::nullopt;
  auto at = FindKey(lines, *range, key);
  if (!at) return std::nullopt;
  return lines[*at].value;
}

void CheckName(const std::string& what, const std::string& name) {
  if (IsBlank(name) || name.find_first_of("\r\n") != std::string::npos ||
      (what == "key" && (name.find('=') != std::string::npos || Trim(name)[0] == '[' || Trim(name)[0] == ';'))) {
    throw Error("Invalid settings " + what + " name \"" + name + "\"");
  }
}

// A value is one line: line breaks would split it and could forge other keys.
std::string OneLine(const std::string& value) {
  std::string result = value;
  for (char& c : result) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return result;
}

// The file a write replaces: a symbolic link is followed, so that the link stays.
std::string WriteTarget(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    auto target = std::filesystem::canonical(path, ec);
    if (!ec) return target.string();
  }
  return path;
}

// The file-creation mask, read without changing it (umask() would, for a moment, for every
// thread of the process).
mode_t ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

void ThrowWriteError(const std::string& path) { throw IoError("Unable to write to " + path); }

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void StoreLines(const std::string& path, const TLines& lines) {
  std::string content;
  for (const TLine& line : lines) content += line.text + "\n";
  ReplaceFileContent(path, content);
}

TLine KeyLine(const std::string& key, const std::string& value) {
  return ClassifyLine(key + "=" + OneLine(value));
}

// Adds the name unless the list holds it already (compared without regard to case); true
// when it was added. A repeated section or key counts once, at its first occurrence.
bool AddFirstOccurrence(std::vector<std::string>& names, const std::string& name) {
  for (const std::string& known : names) {
    if (SameText(known, name)) return false;
  }
  names.push_back(name);
  return true;
}

}  // namespace

// The content goes to a temporary file in the same folder, which is flushed to the disk
// and then renamed over the old file. On any failure the temporary file is removed and the
// old file stays as it was.
void ReplaceFileContent(const std::string& path, const std::string& content) {
  std::string target = WriteTarget(path);
  // The content takes the name by a rename: a folder, a FIFO or a device there would be
  // replaced by a regular file.
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    throw IoError("Unable to write to " + path + ": it is " + NonFileKind(existing.st_mode) +
                  ", not a regular file; name a file");
  }
  std::filesystem::path folder = std::filesystem::path(target).parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
  }

  std::string temp = target + ".tmpXXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) ThrowWriteError(path);

  struct stat old_stat {};
  mode_t mode = (::stat(target.c_str(), &old_stat) == 0) ? (old_stat.st_mode & 07777) : (0666 & ~ProcessUmask());
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    ThrowWriteError(path);
  }
  // Make the rename itself durable.
  int dir_fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& default_value) const {
  return FindValue(path_, section, key).value_or(default_value);
}

long long TIniFile::ReadInteger(const std::string& section, const std::string& key, long long default_value) const {
  auto value = FindValue(path_, section, key);
  if (!value) return default_value;
  std::string text = Trim(*value);
  if (text.empty()) return default_value;
  errno = 0;
  char* end = nullptr;
  long long result = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return default_value;
  return result;
}

bool TIniFile::ReadFlag(const std::string& section, const std::string& key, bool default_value) const {
  auto value = FindValue(path_, section, key);
  if (!value) return default_value;
  return ParseFlagText(*value, default_value);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) const {
  CheckName("section", section);
  CheckName("key", key);
  TLines lines = LoadLines(path_);
  auto range = FindSection(lines, section);
  if (!range) {
    if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(ClassifyLine(""));
    lines.push_back(ClassifyLine("[" + Trim(section) + "]"));
    lines.push_back(KeyLine(Trim(key), value));
  } else if (auto at = FindKey(lines, *range, key)) {
    // Keep the key's spelling as it stands in the file.
    lines[*at] = KeyLine(lines[*at].name, value);
  } else {
    // After the section's last non-blank line, so trailing blank lines stay a gap.
    std::size_t insert_at = range->end;
    while (insert_at > range->begin + 1 && Trim(lines[insert_at - 1].text).empty()) --insert_at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), KeyLine(Trim(key), value));
  }
  StoreLines(path_, lines);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, long long value) const {
  WriteString(section, key, std::to_string(value));
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const TLine& line : LoadLines(path_)) {
    if (line.kind == TLine::Section) AddFirstOccurrence(names, line.name);
  }
  return names;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  TLines lines = LoadLines(path_);
  auto range = FindSection(lines, section);
  if (!range) return keys;
  for (std::size_t i = range->begin + 1; i < range->end; ++i) {
    if (lines[i].kind == TLine::Key) AddFirstOccurrence(keys, lines[i].name);
  }
  return keys;
}

std::vector<std::string> TIniFile::ReadSectionValues(const std::string& section) const {
  std::vector<std::string> result;
  for (TNumberedLine& line : ReadNumberedSectionValues(section)) result.push_back(std::move(line.text));
  return result;
}

std::vector<TIniFile::TNumberedLine> TIniFile::ReadNumberedSectionValues(const std::string& section) const {
  std::vector<TNumberedLine> result;
  TLines lines = LoadLines(path_);
  auto range = FindSection(lines, section);
  if (!range) return result;
  std::vector<std::string> keys;
  for (std::size_t i = range->begin + 1; i < range->end; ++i) {
    if (lines[i].kind == TLine::Key && AddFirstOccurrence(keys, lines[i].name)) {
      result.push_back({i + 1, lines[i].name + "=" + lines[i].value});
    }
  }
  return result;
}

bool TIniFile::SectionExists(const std::string& section) const {
  return FindSection(LoadLines(path_), section).has_value();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindValue(path_, section, key).has_value();
}

void TIniFile::EraseSection(const std::string& section) const {
  TLines lines = LoadLines(path_);
  bool changed = false;
  while (auto range = FindSection(lines, section)) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->begin),
                lines.begin() + static_cast<std::ptrdiff_t>(range->end));
    changed = true;
  }
  if (changed) StoreLines(path_, lines);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) const {
  TLines lines = LoadLines(path_);
  auto range = FindSection(lines, section);
  if (!range) return;
  bool changed = false;
  for (std::size_t i = range->end; i-- > range->begin + 1;) {
    if (lines[i].kind == TLine::Key && SameText(lines[i].name, key)) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      changed = true;
    }
  }
  if (changed) StoreLines(path_, lines);
}

bool ParseFlagText(const std::string& text, bool default_value) {
  std::string word = Trim(text);
  if (SameText(word, "TRUE") || SameText(word, "T") || word == "1") return true;
  if (SameText(word, "FALSE") || SameText(word, "F") || word == "0") return false;
  return default_value;
}

}  // namespace ostrel
