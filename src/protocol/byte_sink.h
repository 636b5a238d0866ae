#pragma once
// Where a read-out puts the image bytes it receives: the protocol hands them over block by
// block and never opens a file itself (operations/image_file.h writes them to a file).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

class TByteSink {
 public:
  virtual ~TByteSink() = default;
  // Takes the next bytes; a failure raises (an IoError for a file).
  virtual void Append(std::span<const std::uint8_t> bytes) = 0;
  // Everything appended is kept for good (a file: flushed and closed); raises on failure.
  virtual void Close() {}
  // What the bytes go into, for the diagnostics ("File opened: " + name).
  virtual std::string Name() const = 0;
};

// The bytes in memory.
class TMemorySink : public TByteSink {
 public:
  explicit TMemorySink(std::string name = "memory") : name_(std::move(name)) {}
  void Append(std::span<const std::uint8_t> bytes) override { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
  std::string Name() const override { return name_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::string name_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace ostrel
