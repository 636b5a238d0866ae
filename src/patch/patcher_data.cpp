// The data commands of the patch interpreter: inserts, copy and paste, checksums,
// content checks and the assembler source of a target range. Every write goes to the
// target at its position, overwrites what is there, extends the file past its end and
// leaves the position after the last byte written.

#include <algorithm>
#include <array>

#include "base/error.h"
#include "base/path_map.h"
#include "base/text.h"
#include "patch/date_time_format.h"
#include "patch/patcher.h"
#include "patch/script_numbers.h"
#include "patch/target_file.h"

namespace ostrel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kItemsPerLine = 16;

std::string Hex8(std::int64_t value) { return IntToHex(static_cast<std::uint32_t>(value), 8); }

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) text += IntToHex(byte, 2);
  return text;
}

// A name written with a folder ("..\bin\x.bin", "C:x.bin", "sub/x.bin").
bool HasDirectoryPart(std::string_view name) {
  return name.find_first_of("\\/:") != std::string_view::npos;
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Writes a text file in one piece, created or truncated.
void WriteWholeFile(const std::string& path, std::string_view text) {
  TTargetFile file(path, TTargetFile::Access::CreateReadWrite);
  file.Write(Bytes(text));
  file.Close();
}

// The position of the target comes back when the command ends, also by an exception.
class PositionKeeper {
 public:
  explicit PositionKeeper(TTargetFile& file) : file_(file), position_(file.Position()) {}
  ~PositionKeeper() { file_.Seek(position_); }  // a kept position is never negative
  PositionKeeper(const PositionKeeper&) = delete;
  PositionKeeper& operator=(const PositionKeeper&) = delete;

 private:
  TTargetFile& file_;
  std::int64_t position_;
};

}  // namespace

std::string TPatcher::Write32(std::uint32_t value) {
  std::array<std::uint8_t, 4> bytes{};
  for (int i = 0; i < 4; ++i) {
    const int shift = big_endian_ ? 24 - 8 * i : 8 * i;
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> shift);
  }
  target_->Write(bytes);
  return HexBytes(bytes);
}

// ---- inserts

std::string TPatcher::CmdInsertFile(const Command& command) {
  std::string name = RemoveQuotes(Field(command, 1));
  if (!HasDirectoryPart(name)) name = directory_ + name;
  std::int64_t size = LenientNumber(Field(command, 2), 0);
  const std::int64_t offset = LenientNumber(Field(command, 3), 0);
  const std::string list_file = RemoveQuotes(Field(command, 4));
  try {
    TTargetFile source(FilePath(name), TTargetFile::Access::ReadOnly);
    const std::int64_t file_size = source.Size();
    if (size == 0) size = file_size - offset;
    if (offset < 0) return FailWithLine("Offset below 0! ");
    if (offset + size > file_size) return FailWithLine("Size exceeds filesize! ");
    if (size < 1) return FailWithLine("Size missing! ");
    if (size > kMaxBytesPerCommand) return FailWithLine("Count exceeds 64 MiB! ");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    source.Seek(offset);
    source.ReadExact(bytes);
    target_->Write(bytes);
    if (!IsBlank(list_file)) {
      list_file_ = list_file;
      WriteInsertList(list_file_, bytes);
    }
  } catch (const Error&) {
    error_text_ = " -> File error";
    return error_text_;
  }
  return std::string(kLineEnd) + " -> " + name;
}

// Lines "INSERTLIST=" + up to 16 items "$XX" separated by the current delimiter.
void TPatcher::WriteInsertList(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t start = 0; start < bytes.size(); start += kItemsPerLine) {
    text += "INSERTLIST=";
    const std::size_t end = std::min(bytes.size(), start + kItemsPerLine);
    for (std::size_t i = start; i < end; ++i) {
      if (i > start) text += delim_;
      text += "$" + IntToHex(bytes[i], 2);
    }
    text += kLineEnd;
  }
  WriteWholeFile(FilePath(path), text);
}

std::string TPatcher::CmdInsertList(const Command& command) {
  const int count = FieldCount(command);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) bytes.push_back(static_cast<std::uint8_t>(StrictNumber(Field(command, i))));
  target_->Write(bytes);
  return " -> " + std::to_string(count);
}

std::string TPatcher::CmdInsertString(const Command& command) {
  const std::string text = RemoveQuotes(command.value);
  target_->Write(Bytes(std::string_view(text.c_str(), text.size() + 1)));
  return " -> \"" + text + "\"";
}

std::string TPatcher::CmdInsertTime(const Command& command) {
  const std::string text = FormatDateTime(command.value, LocalNow(), LocaleSeparators());
  target_->Write(Bytes(std::string_view(text.c_str(), text.size() + 1)));
  return " -> \"" + text + "\"";
}

std::string TPatcher::CmdInsertChar(const Command& command) {
  const auto value = static_cast<std::uint8_t>(LenientNumber(Field(command, 1), 0));
  const std::int32_t count = LenientNumber(Field(command, 2), 1);
  if (count > kMaxBytesPerCommand) return FailWithLine("Count exceeds 64 MiB! ");
  target_->WriteRepeated(value, count);
  return " -> " + std::to_string(count);
}

std::string TPatcher::CmdInsertFileSize(const Command&) {
  std::uint32_t value = static_cast<std::uint32_t>(target_->Size()) + static_cast<std::uint32_t>(adjustment_);
  if (invert_) value = ~value;
  const std::int64_t position = target_->Position();
  return " -> " + Hex8(position) + "=" + Write32(value);
}

// ---- copy and paste

std::string TPatcher::CmdCopy(const Command& command) {
  std::string result = " -> failed";
  copy_buffer_.clear();
  copy_buffer_.shrink_to_fit();
  const std::int32_t count = LenientNumber(command.value, 0);
  if (count <= 0) return result;
  if (count > target_->Size() - target_->Position()) {
    FailWithLine("Size exceeds filesize! ");
    return result;
  }
  if (count > kMaxBytesPerCommand) {
    FailWithLine("Count exceeds 64 MiB! ");
    return result;
  }
  copy_buffer_.resize(static_cast<std::size_t>(count));
  target_->ReadExact(copy_buffer_);
  return " -> " + std::to_string(count);
}

// A one-byte buffer is pasted plus ADJUSTMENT (modulo 256); a longer one as it is.
std::string TPatcher::CmdPaste(const Command&) {
  if (copy_buffer_.empty()) return " -> failed";
  if (adjustment_ != 0 && copy_buffer_.size() == 1) {
    const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(copy_buffer_[0] + adjustment_)};
    target_->Write(byte);
  } else {
    target_->Write(copy_buffer_);
  }
  return " -> " + std::to_string(copy_buffer_.size());
}

// ---- checksums

std::string TPatcher::CmdChecksumInit(const Command& command) {
  checksum_ = static_cast<std::uint32_t>(LenientNumber(command.value, 0));
  return " -> " + Hex8(checksum_);
}

std::string TPatcher::CmdChecksumCalc(const Command& command) {
  PositionKeeper keep(*target_);
  const std::int64_t start = PositionExpression(Field(command, 1));
  const std::int64_t end = PositionExpression(Field(command, 2));
  const std::int64_t size = target_->Size();
  if (start >= size) return FailWithLine("Start-position exceeds filesize! ");
  if (end >= size) return FailWithLine("End-position exceeds filesize! ");
  if (start < 0) return FailWithLine("Position below 0! ");
  // An end below the start adds nothing.
  std::vector<std::uint8_t> chunk(kReadChunk);
  target_->Seek(start);
  for (std::int64_t left = end - start + 1; left > 0;) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(left, kReadChunk));
    target_->ReadExact(std::span(chunk.data(), wanted));
    for (std::size_t i = 0; i < wanted; ++i) checksum_ += chunk[i];
    left -= static_cast<std::int64_t>(wanted);
  }
  return " -> " + Hex8(checksum_);
}

std::string TPatcher::CmdChecksumSave(const Command& command) {
  PositionKeeper keep(*target_);
  const std::int64_t position = PositionExpression(command.value);
  if (position > target_->Size()) return FailWithLine("Position exceeds filesize! ");
  if (position < 0) return FailWithLine("Position below 0! ");
  target_->Seek(position);
  return " -> " + Hex8(position) + "=" + Write32(checksum_);
}

// ---- checks

std::string TPatcher::CmdCheckString(const Command& command) {
  PositionKeeper keep(*target_);
  const std::int64_t position = StrictPosition(Field(command, 1));
  if (position >= target_->Size()) return FailWithLine("Position exceeds filesize! ");
  if (position < 0) return FailWithLine("Position below 0! ");
  const std::string written = Field(command, 2);
  const std::string result = " -> " + Hex8(position) + "==" + written;
  const std::string expected = RemoveQuotes(written);
  std::string read(expected.size(), '\0');
  target_->Seek(position);
  const std::size_t got = target_->Read(std::span(reinterpret_cast<std::uint8_t*>(read.data()), read.size()));
  read.resize(got);
  if (read != expected) {
    FailWithLine("Check failed! ");
    error_text_ += " vs. " + read;
  }
  return result;
}

std::string TPatcher::CmdCheckList(const Command& command) {
  PositionKeeper keep(*target_);
  const std::int64_t position = StrictPosition(Field(command, 1));
  if (position >= target_->Size()) return FailWithLine("Position exceeds filesize! ");
  if (position < 0) return FailWithLine("Position below 0! ");
  const int count = FieldCount(command) - 1;
  const std::string result = " -> " + Hex8(position) + " " + std::to_string(count);
  std::vector<std::uint8_t> expected;
  for (int k = 0; k < count; ++k) expected.push_back(static_cast<std::uint8_t>(StrictNumber(Field(command, k + 2))));
  std::vector<std::uint8_t> read(expected.size());
  target_->Seek(position);
  read.resize(target_->Read(read));
  if (read != expected) {
    FailWithLine("Check failed! ");
    error_text_ += " vs. " + HexBytes(std::span(read.data(), std::min<std::size_t>(read.size(), 4)));
  }
  return result;
}

// ---- assembler source

std::string TPatcher::CmdMakeCSource(const Command& command) {
  PositionKeeper keep(*target_);
  const std::string file_name = Field(command, 1);
  const std::int32_t address = StrictNumber(Field(command, 2));
  const std::int32_t size = StrictNumber(Field(command, 3));
  WriteAssemblerSource(file_name, address, size);
  return {};
}

// A header and one ".DATA.B" line per 16 bytes read from the position; a last group of
// fewer bytes gets a shorter line, so no byte of the range is left out.
void TPatcher::WriteAssemblerSource(const std::string& path, std::int32_t address, std::int32_t size) {
  const std::int64_t available = std::max<std::int64_t>(target_->Size() - target_->Position(), 0);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, available)));
  target_->ReadExact(bytes);
  std::string text = "\t.align 4" + std::string(kLineEnd);
  text += "OSBLOCK:\t.DATA.L h'" + Hex8(address) + ",h'" + Hex8(size) + std::string(kLineEnd);
  for (std::size_t start = 0; start < bytes.size(); start += kItemsPerLine) {
    text += Hex8(static_cast<std::int64_t>(address) + static_cast<std::int64_t>(start)) + "\t.DATA.B ";
    const std::size_t end = std::min(bytes.size(), start + kItemsPerLine);
    for (std::size_t i = start; i < end; ++i) {
      if (i > start) text += ",";
      text += "h'" + IntToHex(bytes[i], 2);
    }
    text += kLineEnd;
  }
  WriteWholeFile(FilePath(path), text);
}

}  // namespace ostrel
