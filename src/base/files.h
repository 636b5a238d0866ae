#pragma once
// File classes with one interface for files on disk and for records carried in the
// program's own data. Operations report failures through the result code of the last
// input/output operation (0 = success, otherwise an errno value); they raise
// ostrel::Error only for a blank file name, an unsupported open mode and a damaged
// memory record.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/object.h"

namespace ostrel {

// Open modes.
inline constexpr int kModeRead = 0;
inline constexpr int kModeCreate = 1;  // create anew (an existing file is emptied)
inline constexpr int kModeAppend = 2;  // write at the end (the file is created if missing)

class TBaseFile : public TObject {
 public:
  ~TBaseFile() override = default;
  TBaseFile(const TBaseFile&) = delete;
  TBaseFile& operator=(const TBaseFile&) = delete;

  const std::string& FileName() const { return file_name_; }
  bool IsOpen() const { return open_; }
  int Mode() const { return mode_; }
  // The mode for the next POpen.
  void SetMode(int mode) { mode_ = mode; }
  // Result code of the last input/output operation: 0 = success, otherwise an errno value.
  int Result() const { return result_; }
  // What the result code means, for a message: the system's text, or what the path was
  // when it could not be opened because it is no regular file.
  std::string ResultText() const;

  // Opens the file in the current mode (an open file is closed first); true on success.
  virtual bool POpen() = 0;
  virtual void Close() = 0;
  // True when nothing is left to read (also for a closed file).
  virtual bool Eof() = 0;
  // True when the last input/output operation succeeded.
  virtual bool CheckResult() = 0;
  // Writes the text as it is.
  virtual bool WriteText(std::string_view text);
  // Reads the next line without its line end (LF, CR LF or CR). At the end of the file
  // it gives false with the result code 0.
  virtual bool ReadLine(std::string& line);
  // Reads the whole file from its start; the position is at the end afterwards.
  virtual bool ReadAll(std::string& text);
  // Reads up to `count` bytes at the position; `count_read` is fewer only at the end.
  virtual bool ReadBlock(void* buffer, std::size_t count, std::size_t& count_read);
  virtual bool Seek(std::uint64_t position);
  virtual std::uint64_t Position();
  virtual std::uint64_t Size();

  bool ReadBlock(std::span<std::uint8_t> buffer, std::size_t& count_read) {
    return ReadBlock(buffer.data(), buffer.size(), count_read);
  }
  bool WriteLine(std::string_view text) { return WriteText(std::string(text) + "\n"); }

 protected:
  // A blank file name raises "BASE_00.TBaseFile.Create".
  TBaseFile(std::string file_name, int mode);

  void SetOpen(bool open) { open_ = open; }
  // Records the result code; true when it means success.
  bool SetResult(int code) {
    result_ = code;
    result_text_.clear();
    return code == 0;
  }
  // Records a failure whose meaning the errno text does not say.
  bool SetResult(int code, std::string text) {
    result_ = code;
    result_text_ = std::move(text);
    return false;
  }

 private:
  std::string file_name_;
  bool open_ = false;
  int mode_;
  int result_ = 0;
  std::string result_text_;
};

// A file of the operating system: the result check over its result codes.
class TSystemFile : public TBaseFile {
 public:
  bool CheckResult() override { return Result() == 0; }

 protected:
  using TBaseFile::TBaseFile;
  // Records errno of the failed call that just returned (EIO if none was set).
  bool SetResultFromErrno();
};

// A file on disk for reading, creating anew or appending; created closed, POpen opens
// it. Everything written is flushed at once; lines are read with LF, CR LF or CR ends
// and written with LF. Reading needs the read mode, writing one of the others.
class TTextFile : public TSystemFile {
 public:
  explicit TTextFile(std::string file_name, int mode = kModeRead);
  ~TTextFile() override;

  // A mode other than read, create anew and append raises "BASE_00.TTextFile.POpen".
  bool POpen() override;
  void Close() override;
  bool Eof() override;
  bool WriteText(std::string_view text) override;
  bool ReadLine(std::string& line) override;
  bool ReadAll(std::string& text) override;
  using TBaseFile::ReadBlock;
  bool ReadBlock(void* buffer, std::size_t count, std::size_t& count_read) override;
  bool Seek(std::uint64_t position) override;
  std::uint64_t Position() override;
  std::uint64_t Size() override;

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  using FileHandle = std::unique_ptr<std::FILE, Closer>;
  bool CanRead();
  bool CanWrite();
  // The file opened for reading, or nothing with the result code set.
  FileHandle OpenRegularFileForReading();

  FileHandle file_;
};

// A record as carried in the program's data: four 32-bit little-endian words (content
// size in bytes, build date YYYYMMDD, build time HHMMSS, checksum) and the content.
class TMemoryRecord {
 public:
  static constexpr std::size_t kHeaderSize = 16;

  // The record as stored, header included. Nothing is checked here.
  explicit TMemoryRecord(std::span<const std::uint8_t> stored);
  explicit TMemoryRecord(std::vector<std::uint8_t> stored) : stored_(std::move(stored)) {}
  // A record for the content with its size and checksum filled in.
  static TMemoryRecord Build(std::uint32_t date, std::uint32_t time,
                             std::span<const std::uint8_t> content);
  // The sum of all bytes, each taken as unsigned, in a 32-bit total.
  static std::uint32_t Checksum(std::span<const std::uint8_t> content);

  std::span<const std::uint8_t> Stored() const { return stored_; }
  // Header fields; 0 for a record shorter than its header.
  std::uint32_t StatedSize() const { return Word(0); }
  std::uint32_t Date() const { return Word(1); }
  std::uint32_t Time() const { return Word(2); }
  std::uint32_t StatedChecksum() const { return Word(3); }
  // True when the header and all the stated content bytes are present.
  bool IsComplete() const;
  // True when complete and the content's checksum is the stated one.
  bool IsValid() const;
  // The stated content (bytes beyond it are ignored); empty for an incomplete record.
  std::span<const std::uint8_t> Content() const;

 private:
  std::uint32_t Word(std::size_t index) const;

  std::vector<std::uint8_t> stored_;
};

// A read-only file named "@MEMORY@" over a copy of the content of a memory record;
// created closed, POpen opens it.
class TMemoryFile : public TSystemFile {
 public:
  static constexpr const char* kFileName = "@MEMORY@";

  // Raises "BASE_00.TMemoryFile.Create:checksum" when the record is damaged: shorter
  // than its header or its stated size, or with a wrong checksum.
  explicit TMemoryFile(const TMemoryRecord& record, int mode = kModeRead);

  // A mode other than read raises "BASE_00.TMemoryFile.POpen".
  bool POpen() override;
  void Close() override;
  bool Eof() override;
  bool ReadAll(std::string& text) override;
  using TBaseFile::ReadBlock;
  bool ReadBlock(void* buffer, std::size_t count, std::size_t& count_read) override;
  // Positions beyond the end are limited to the size.
  bool Seek(std::uint64_t position) override;
  std::uint64_t Position() override { return position_; }
  std::uint64_t Size() override { return content_.size(); }

  std::uint32_t Date() const { return date_; }
  std::uint32_t Time() const { return time_; }

 private:
  std::vector<std::uint8_t> content_;
  std::uint32_t date_;
  std::uint32_t time_;
  std::uint64_t position_ = 0;
};

}  // namespace ostrel
