#pragma once
// The settings file: a Windows-style ini file (sections in square brackets, lines KEY=value).
//
// Section and key names compare without regard to case; sections and keys keep their file
// order (a new section or key is appended). A missing file or key reads as the caller's
// default. Nothing is cached: every call opens the file anew, and every write takes effect
// at once. A write replaces the file atomically (temporary file, then rename), so the file
// is never left half-written. Only a regular file of at most kMaxSettingsFileSize bytes is
// read; any other file at the path (a FIFO, a device, a folder) or a larger one raises
// IoError, and a write then leaves it alone.

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

inline constexpr std::uintmax_t kMaxSettingsFileSize = 16u << 20;

class TIniFile {
 public:
  explicit TIniFile(std::string path);

  const std::string& Path() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value) const;
  // A value that is not a decimal integer reads as the default.
  long long ReadInteger(const std::string& section, const std::string& key, long long default_value) const;
  // Flag texts: "TRUE"/"T"/"1" yes, "FALSE"/"F"/"0" no, any case; other text gives the default.
  bool ReadFlag(const std::string& section, const std::string& key, bool default_value) const;

  // Creates the file (and its folder), the section or the key as needed.
  void WriteString(const std::string& section, const std::string& key, const std::string& value) const;
  void WriteInteger(const std::string& section, const std::string& key, long long value) const;

  // Section names in file order.
  std::vector<std::string> ReadSections() const;
  // Key names of a section in file order (empty for a missing section).
  std::vector<std::string> ReadSection(const std::string& section) const;
  // Lines "KEY=value" of a section in file order.
  std::vector<std::string> ReadSectionValues(const std::string& section) const;
  // The same lines, each with its line number in the file (from 1).
  struct TNumberedLine {
    std::size_t line;
    std::string text;
  };
  std::vector<TNumberedLine> ReadNumberedSectionValues(const std::string& section) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // Removes a section with all its keys; a missing section is no error.
  void EraseSection(const std::string& section) const;
  void DeleteKey(const std::string& section, const std::string& key) const;

 private:
  std::string path_;
};

// Replaces the whole content of a text file in one step, as a settings write does
// (temporary file, then rename; a symbolic link is followed, an existing file's mode is
// kept, a missing folder is created). Raises IoError "Unable to write to <path>", leaving
// the old file as it was.
void ReplaceFileContent(const std::string& path, const std::string& content);

// "TRUE"/"T"/"1" → true, "FALSE"/"F"/"0" → false (any letter case); other text → default.
bool ParseFlagText(const std::string& text, bool default_value);

}  // namespace ostrel
