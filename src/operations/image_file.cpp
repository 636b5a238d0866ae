#include "operations/image_file.h"

#include <cerrno>
#include <cstring>

#include "base/error.h"

namespace ostrel {

namespace {
std::string Reason() { return std::strerror(errno); }
}  // namespace

void TImageFile::Closer::operator()(std::FILE* file) const { std::fclose(file); }

TImageFile::TImageFile(std::string file_name) : file_name_(std::move(file_name)) {
  file_.reset(std::fopen(file_name_.c_str(), "wb"));
  if (!file_) throw IoError("Cannot create file " + file_name_ + ": " + Reason());
}

TImageFile::~TImageFile() = default;

void TImageFile::Append(std::span<const std::uint8_t> bytes) {
  if (!file_) throw IoError("Cannot write file " + file_name_ + ": file is closed");
  if (bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
    throw IoError("Cannot write file " + file_name_ + ": " + Reason());
  }
}

void TImageFile::Close() {
  if (!file_) return;
  std::FILE* file = file_.release();
  const bool flushed = std::fflush(file) == 0;
  const int flush_errno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!flushed || !closed) {
    if (!flushed) errno = flush_errno;
    throw IoError("Cannot write file " + file_name_ + ": " + Reason());
  }
}

}  // namespace ostrel
