#include "base/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "base/error.h"
#include "base/small_file.h"
#include "base/text.h"

namespace ostrel {

// ---- TBaseFile: operations a file class does not support fail with ENOTSUP.

TBaseFile::TBaseFile(std::string file_name, int mode) : file_name_(std::move(file_name)), mode_(mode) {
  if (IsBlank(file_name_)) throw Error("BASE_00.TBaseFile.Create");
}

std::string TBaseFile::ResultText() const { return result_text_.empty() ? std::strerror(result_) : result_text_; }

bool TBaseFile::WriteText(std::string_view) { return SetResult(ENOTSUP); }

bool TBaseFile::ReadLine(std::string& line) {
  line.clear();
  return SetResult(ENOTSUP);
}

bool TBaseFile::ReadAll(std::string& text) {
  text.clear();
  return SetResult(ENOTSUP);
}

bool TBaseFile::ReadBlock(void*, std::size_t, std::size_t& count_read) {
  count_read = 0;
  return SetResult(ENOTSUP);
}

bool TBaseFile::Seek(std::uint64_t) { return SetResult(ENOTSUP); }

std::uint64_t TBaseFile::Position() {
  SetResult(ENOTSUP);
  return 0;
}

std::uint64_t TBaseFile::Size() {
  SetResult(ENOTSUP);
  return 0;
}

// ---- TSystemFile

bool TSystemFile::SetResultFromErrno() { return SetResult(errno != 0 ? errno : EIO); }

// ---- TTextFile

TTextFile::TTextFile(std::string file_name, int mode) : TSystemFile(std::move(file_name), mode) {}

TTextFile::~TTextFile() = default;

bool TTextFile::POpen() {
  const char* open_mode = nullptr;
  switch (Mode()) {
    case kModeRead: open_mode = "rb"; break;
    case kModeCreate: open_mode = "wb"; break;
    case kModeAppend: open_mode = "ab"; break;
    default: throw Error("BASE_00.TTextFile.POpen");
  }
  Close();
  errno = 0;
  if (Mode() == kModeRead) {
    file_ = OpenRegularFileForReading();
    if (!file_) return false;
  } else {
    file_.reset(std::fopen(FileName().c_str(), open_mode));
    if (!file_) return SetResultFromErrno();
  }
  SetOpen(true);
  return SetResult(0);
}

// Only a regular file is read: opening a FIFO would wait for a writer and a device such as
// /dev/zero never ends.
TTextFile::FileHandle TTextFile::OpenRegularFileForReading() {
  const TRegularFileOpening opening = ostrel::OpenRegularFileForReading(FileName());
  if (opening.fd < 0) {
    if (opening.error == EINVAL) {
      SetResult(EINVAL, "it is " + opening.kind + ", not a regular file");
    } else {
      SetResult(opening.error);
    }
    return nullptr;
  }
  FileHandle file(::fdopen(opening.fd, "rb"));
  if (!file) {
    SetResultFromErrno();
    ::close(opening.fd);
  }
  return file;
}

void TTextFile::Close() {
  if (file_) {
    errno = 0;
    if (std::fclose(file_.release()) == 0) {
      SetResult(0);
    } else {
      SetResultFromErrno();
    }
  }
  SetOpen(false);
}

bool TTextFile::CanRead() {
  if (!file_ || Mode() != kModeRead) return SetResult(EBADF);
  return true;
}

bool TTextFile::CanWrite() {
  if (!file_ || Mode() == kModeRead) return SetResult(EBADF);
  return true;
}

bool TTextFile::Eof() {
  if (!file_ || Mode() != kModeRead) return true;
  const int c = std::getc(file_.get());
  if (c == EOF) {
    if (std::ferror(file_.get())) SetResultFromErrno();
    return true;
  }
  std::ungetc(c, file_.get());
  return false;
}

bool TTextFile::WriteText(std::string_view text) {
  if (!CanWrite()) return false;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size() ||
      std::fflush(file_.get()) != 0) {
    return SetResultFromErrno();
  }
  return SetResult(0);
}

bool TTextFile::ReadLine(std::string& line) {
  line.clear();
  if (!CanRead()) return false;
  std::FILE* file = file_.get();
  errno = 0;
  int c = std::getc(file);
  if (c == EOF) {
    if (std::ferror(file)) return SetResultFromErrno();
    SetResult(0);  // the end of the file is no failure
    return false;
  }
  for (; c != EOF; c = std::getc(file)) {
    if (c == '\n') break;
    if (c == '\r') {
      const int next = std::getc(file);
      if (next != '\n' && next != EOF) std::ungetc(next, file);
      break;
    }
    line += static_cast<char>(c);
  }
  if (std::ferror(file)) return SetResultFromErrno();
  return SetResult(0);
}

bool TTextFile::ReadAll(std::string& text) {
  text.clear();
  if (!CanRead() || !Seek(0)) return false;
  char buffer[8192];
  std::size_t count = 0;
  do {
    if (!ReadBlock(buffer, sizeof buffer, count)) return false;
    text.append(buffer, count);
  } while (count == sizeof buffer);
  return SetResult(0);
}

bool TTextFile::ReadBlock(void* buffer, std::size_t count, std::size_t& count_read) {
  count_read = 0;
  if (!CanRead()) return false;
  errno = 0;
  count_read = std::fread(buffer, 1, count, file_.get());
  if (count_read < count && std::ferror(file_.get())) return SetResultFromErrno();
  return SetResult(0);
}

bool TTextFile::Seek(std::uint64_t position) {
  if (!file_) return SetResult(EBADF);
  if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return SetResult(EINVAL);
  errno = 0;
  if (fseeko(file_.get(), static_cast<off_t>(position), SEEK_SET) != 0) return SetResultFromErrno();
  return SetResult(0);
}

std::uint64_t TTextFile::Position() {
  if (!file_) {
    SetResult(EBADF);
    return 0;
  }
  errno = 0;
  const off_t position = ftello(file_.get());
  if (position < 0) {
    SetResultFromErrno();
    return 0;
  }
  SetResult(0);
  return static_cast<std::uint64_t>(position);
}

std::uint64_t TTextFile::Size() {
  if (!file_) {
    SetResult(EBADF);
    return 0;
  }
  struct stat status {};
  errno = 0;
  if (fstat(fileno(file_.get()), &status) != 0) {
    SetResultFromErrno();
    return 0;
  }
  SetResult(0);
  return static_cast<std::uint64_t>(status.st_size);
}

// ---- TMemoryRecord

TMemoryRecord::TMemoryRecord(std::span<const std::uint8_t> stored) : stored_(stored.begin(), stored.end()) {}

TMemoryRecord TMemoryRecord::Build(std::uint32_t date, std::uint32_t time,
                                   std::span<const std::uint8_t> content) {
  std::vector<std::uint8_t> stored;
  stored.reserve(kHeaderSize + content.size());
  auto put_word = [&](std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) stored.push_back(static_cast<std::uint8_t>(word >> shift));
  };
  put_word(static_cast<std::uint32_t>(content.size()));
  put_word(date);
  put_word(time);
  put_word(Checksum(content));
  stored.insert(stored.end(), content.begin(), content.end());
  return TMemoryRecord(std::move(stored));
}

std::uint32_t TMemoryRecord::Checksum(std::span<const std::uint8_t> content) {
  std::uint32_t sum = 0;
  for (std::uint8_t byte : content) sum += byte;  // wraps modulo 2^32
  return sum;
}

std::uint32_t TMemoryRecord::Word(std::size_t index) const {
  const std::size_t offset = index * 4;
  if (stored_.size() < kHeaderSize) return 0;
  return static_cast<std::uint32_t>(stored_[offset]) | static_cast<std::uint32_t>(stored_[offset + 1]) << 8 |
         static_cast<std::uint32_t>(stored_[offset + 2]) << 16 |
         static_cast<std::uint32_t>(stored_[offset + 3]) << 24;
}

bool TMemoryRecord::IsComplete() const {
  return stored_.size() >= kHeaderSize && stored_.size() - kHeaderSize >= StatedSize();
}

bool TMemoryRecord::IsValid() const { return IsComplete() && Checksum(Content()) == StatedChecksum(); }

std::span<const std::uint8_t> TMemoryRecord::Content() const {
  if (!IsComplete()) return {};
  return std::span<const std::uint8_t>(stored_).subspan(kHeaderSize, StatedSize());
}

// ---- TMemoryFile

TMemoryFile::TMemoryFile(const TMemoryRecord& record, int mode)
    : TSystemFile(kFileName, mode), date_(record.Date()), time_(record.Time()) {
  if (!record.IsValid()) throw Error("BASE_00.TMemoryFile.Create:checksum");
  const std::span<const std::uint8_t> content = record.Content();
  content_.assign(content.begin(), content.end());
}

bool TMemoryFile::POpen() {
  if (Mode() != kModeRead) throw Error("BASE_00.TMemoryFile.POpen");
  position_ = 0;
  SetOpen(true);
  return SetResult(0);
}

void TMemoryFile::Close() {
  SetOpen(false);
  SetResult(0);
}

bool TMemoryFile::Eof() { return !IsOpen() || position_ >= content_.size(); }

bool TMemoryFile::ReadAll(std::string& text) {
  text.clear();
  if (!IsOpen()) return SetResult(EBADF);
  text.assign(content_.begin(), content_.end());
  position_ = content_.size();
  return SetResult(0);
}

bool TMemoryFile::ReadBlock(void* buffer, std::size_t count, std::size_t& count_read) {
  count_read = 0;
  if (!IsOpen()) return SetResult(EBADF);
  const std::uint64_t left = content_.size() - std::min<std::uint64_t>(position_, content_.size());
  count_read = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
  if (count_read > 0) {
    std::memcpy(buffer, content_.data() + position_, count_read);
    position_ += count_read;
  }
  return SetResult(0);
}

bool TMemoryFile::Seek(std::uint64_t position) {
  if (!IsOpen()) return SetResult(EBADF);
  position_ = std::min<std::uint64_t>(position, content_.size());
  return SetResult(0);
}

}  // namespace ostrel
