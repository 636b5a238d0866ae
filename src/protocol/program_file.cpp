#include "protocol/program_file.h"

#include <filesystem>

#include "base/text.h"

namespace ostrel {

std::unique_ptr<TBaseFile> OpenMemoryProgram(std::span<const std::uint8_t> record) {
  if (record.empty()) return nullptr;
  auto file = std::make_unique<TMemoryFile>(TMemoryRecord(record));
  if (!file->POpen()) return nullptr;
  return file;
}

std::unique_ptr<TBaseFile> OpenProgramFile(const std::string& name) {
  if (name == kBuiltInProgramName) return OpenMemoryProgram(BuiltInProgramRecord());
  if (IsBlank(name)) return nullptr;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) return nullptr;
  auto file = std::make_unique<TTextFile>(name, kModeRead);
  if (!file->POpen()) return nullptr;
  return file;
}

}  // namespace ostrel
