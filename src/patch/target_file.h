#pragma once
// A file addressed in bytes with a current position, as the patch interpreter uses its
// target and the files it reads: every failure raises ostrel::IoError with the path and
// the system's reason.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace ostrel {

class TTargetFile {
 public:
  enum class Access { ReadOnly, ReadWrite, CreateReadWrite, CreateNewReadWrite };

  // Opens an existing file (ReadOnly, ReadWrite), creates or truncates one
  // (CreateReadWrite) or creates one that must not exist yet (CreateNewReadWrite); a
  // created file gets the permission bits `create_mode` before the umask.
  TTargetFile(const std::string& path, Access access, std::uint32_t create_mode = 0666);
  ~TTargetFile();
  TTargetFile(const TTargetFile&) = delete;
  TTargetFile& operator=(const TTargetFile&) = delete;

  const std::string& Path() const { return path_; }
  std::int64_t Size() const;
  std::int64_t Position() const { return position_; }
  // Any position from 0 on; beyond the end a later write extends the file (the gap
  // reads as zero bytes).
  void Seek(std::int64_t position);
  // Writes at the position and moves it past the bytes written.
  void Write(std::span<const std::uint8_t> bytes);
  // Writes `count` copies of `value` (in blocks, without holding them all in memory).
  void WriteRepeated(std::uint8_t value, std::int64_t count);
  // Reads up to buffer.size() bytes at the position; fewer only at the end of the file.
  std::size_t Read(std::span<std::uint8_t> buffer);
  // Reads exactly buffer.size() bytes; the end of the file raises IoError.
  void ReadExact(std::span<std::uint8_t> buffer);
  // Closes; a failure raises. The destructor closes quietly.
  void Close();

 private:
  [[noreturn]] void Fail(const std::string& what) const;

  std::string path_;
  int fd_ = -1;
  std::int64_t position_ = 0;
};

}  // namespace ostrel
