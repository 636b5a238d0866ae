#pragma once
// The file a read-out writes into: created (or emptied) on construction, appended to
// block by block, closed on destruction. Every failure is an IoError naming the file and
// the operating system's reason.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "protocol/byte_sink.h"

namespace ostrel {

class TImageFile : public TByteSink {
 public:
  explicit TImageFile(std::string file_name);
  ~TImageFile() override;
  TImageFile(const TImageFile&) = delete;
  TImageFile& operator=(const TImageFile&) = delete;

  void Append(std::span<const std::uint8_t> bytes) override;
  // Flushes and closes; a failure here means data did not reach the disk.
  void Close() override;
  std::string Name() const override { return file_name_; }

 private:
  struct Closer {
    void operator()(std::FILE* file) const;
  };
  std::string file_name_;
  std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace ostrel
