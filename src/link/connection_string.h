#pragma once
// Connection strings: one line of KEY=VALUE items separated by ";", from which a serial
// port or a USB device is opened.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/name_tables.h"

namespace ostrel {

// The items of a connection string as KEY=VALUE lines. Every ";" (and every line break)
// ends a line. Lookups match the key without regard to case; the first line with the key
// counts; the value is everything after the first "=", nothing trimmed.
class TConnectionValues {
 public:
  explicit TConnectionValues(std::string_view connection);

  // The value of the first line with that key; "" when there is none.
  std::string Value(std::string_view key) const;

  // Upper-cases keys and values, except the values of `keep_case_key`.
  void UpperCase(std::string_view keep_case_key);

 private:
  struct Line {
    std::string key;
    std::string value;
  };
  std::vector<Line> lines_;
};

// A decimal integer (optional sign, digits, nothing else) in the 32-bit signed range.
std::optional<std::int32_t> ParseDecimal(std::string_view text);

// What a serial connection string asks for. Keys and values are upper-cased before they
// are read, except the value of NAME (a device path, whose case matters).
struct TSerialSettings {
  std::string name;
  std::uint32_t file_flags = 0;
  std::int32_t baud_rate = 9600;
  std::int32_t byte_size = 8;
  int parity = kParityNone;
  int stop_bits = kStopOne;
  std::uint32_t dcb_flags_on = 0;
  std::uint32_t dcb_flags_off = 0;
  std::uint32_t read_interval_timeout = 0xFFFFFFFFu;
  std::uint32_t read_total_timeout_multiplier = 0;
  std::uint32_t read_total_timeout_constant = 0;
  std::uint32_t write_total_timeout_multiplier = 0;
  std::uint32_t write_total_timeout_constant = 0;
  std::int32_t buffer_size = 0;

  // The flags word after the string's changes: its bits set, then its clear bits cleared.
  std::uint32_t ApplyDcbFlags(std::uint32_t current) const { return (current | dcb_flags_on) & ~dcb_flags_off; }
};

TSerialSettings ParseSerialSettings(std::string_view connection, const TLinkNameTables& names);

// What a USB connection string asks for. Values are used as written.
struct TUsbSettings {
  std::string device_name;  // a path to open directly; blank: search by vendor id
  std::string vendor_id;    // e.g. "VID_07CF&PID_6101"
  std::int32_t buffer_size = 4096;
  bool no_overlapped = false;  // NO_FILE_FLAG_OVERLAPPED=1; I/O here is never overlapped
};

TUsbSettings ParseUsbSettings(std::string_view connection);

// The connection strings the system builds: the serial line at a baud rate on a port, and
// the USB device of the calculator.
std::string SystemSerialConnection(const std::string& port, int baud_rate);
inline constexpr const char* kSystemUsbConnection = "NAME=USB;VENDORID=VID_07CF&PID_6101;BUFFERSIZE=4096;";

}  // namespace ostrel
