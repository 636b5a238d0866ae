#include "link/connection_string.h"

#include <charconv>

#include "base/text.h"

namespace ostrel {

TConnectionValues::TConnectionValues(std::string_view connection) {
  std::size_t start = 0;
  while (start <= connection.size()) {
    std::size_t end = connection.find_first_of(";\r\n", start);
    if (end == std::string_view::npos) end = connection.size();
    std::string_view line = connection.substr(start, end - start);
    std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      lines_.push_back({std::string(line.substr(0, equals)), std::string(line.substr(equals + 1))});
    }
    start = end + 1;
  }
}

std::string TConnectionValues::Value(std::string_view key) const {
  for (const Line& line : lines_) {
    if (SameText(line.key, key)) return line.value;
  }
  return {};
}

void TConnectionValues::UpperCase(std::string_view keep_case_key) {
  for (Line& line : lines_) {
    line.key = ostrel::UpperCase(line.key);
    if (line.key != keep_case_key) line.value = ostrel::UpperCase(line.value);
  }
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string_view digits = text;
  bool negative = false;
  if (digits.front() == '+' || digits.front() == '-') {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty() || digits.front() == '+' || digits.front() == '-') return std::nullopt;
  std::int64_t magnitude = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

namespace {

std::int32_t IntegerOr(const TConnectionValues& values, std::string_view key, std::int32_t default_value) {
  return ParseDecimal(values.Value(key)).value_or(default_value);
}

// A single name looked up in a table; an empty value gives the table's first entry too.
int NameValue(const TMap& table, const std::string& name) { return static_cast<int>(table.ValueOf(name)); }

std::uint32_t ListFlags(const TMap& table, const std::string& list) {
  return static_cast<std::uint32_t>(table.FlagsOf(list));
}

}  // namespace

TSerialSettings ParseSerialSettings(std::string_view connection, const TLinkNameTables& names) {
  TConnectionValues values(connection);
  values.UpperCase("NAME");
  TSerialSettings settings;
  settings.name = values.Value("NAME");
  settings.file_flags = ListFlags(names.file_flags, values.Value("FILEFLAGSON"));
  settings.baud_rate = IntegerOr(values, "BAUDRATE", 9600);
  settings.byte_size = IntegerOr(values, "BYTESIZE", 8);
  settings.parity = NameValue(names.parity, values.Value("PARITY"));
  settings.stop_bits = NameValue(names.stop_bits, values.Value("STOPBITS"));
  settings.dcb_flags_on = ListFlags(names.dcb_flags, values.Value("DCBFLAGSON"));
  settings.dcb_flags_off = ListFlags(names.dcb_flags, values.Value("DCBFLAGSOFF"));
  settings.read_interval_timeout = static_cast<std::uint32_t>(IntegerOr(values, "READINTERVALTIMEOUT", -1));
  settings.read_total_timeout_multiplier =
      static_cast<std::uint32_t>(IntegerOr(values, "READTOTALTIMEOUTMULTIPLIER", 0));
  settings.read_total_timeout_constant = static_cast<std::uint32_t>(IntegerOr(values, "READTOTALTIMEOUTCONSTANT", 0));
  settings.write_total_timeout_multiplier =
      static_cast<std::uint32_t>(IntegerOr(values, "WRITETOTALTIMEOUTMULTIPLIER", 0));
  settings.write_total_timeout_constant =
      static_cast<std::uint32_t>(IntegerOr(values, "WRITETOTALTIMEOUTCONSTANT", 0));
  settings.buffer_size = IntegerOr(values, "BUFFERSIZE", 0);
  return settings;
}

TUsbSettings ParseUsbSettings(std::string_view connection) {
  TConnectionValues values(connection);
  TUsbSettings settings;
  settings.device_name = values.Value("DEVICENAME");
  settings.vendor_id = values.Value("VENDORID");
  settings.buffer_size = IntegerOr(values, "BUFFERSIZE", 4096);
  settings.no_overlapped = values.Value("NO_FILE_FLAG_OVERLAPPED") == "1";
  return settings;
}

std::string SystemSerialConnection(const std::string& port, int baud_rate) {
  return "NAME=" + port + ";BAUDRATE=" + std::to_string(baud_rate) +
         ";BYTESIZE=8;PARITY=NONE;STOPBITS=ONE;DCBFLAGSOFF=DTRHANDSHAKE,RTSHANDSHAKE;DCBFLAGSON=DTRON,RTSON";
}

}  // namespace ostrel
