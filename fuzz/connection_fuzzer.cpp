// Connection strings: the KEY=VALUE;... lines from which a serial port or a USB device is
// opened, and the serial line settings made from them.
//
// What must hold: every key reads as the first line that names it (any letter case),
// split by the rules written out here once more; numbers read as the decimal integers
// they are, or as the default; the USB values keep their case; the serial values are
// upper-cased except the port name; the line settings are made without a fault for any
// values; the system's own serial string gives back the port and speed it was made from.

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz_support.h"
#include "link/connection_string.h"
#include "link/line_settings.h"

namespace {

struct Item {
  std::string key;
  std::string value;
};

std::vector<Item> SplitItems(std::string_view text) {
  std::vector<Item> items;
  std::string current;
  auto finish = [&] {
    const std::size_t equals = current.find('=');
    if (equals != std::string::npos) items.push_back({current.substr(0, equals), current.substr(equals + 1)});
    current.clear();
  };
  for (char c : text) {
    if (c == ';' || c == '\r' || c == '\n') {
      finish();
    } else {
      current += c;
    }
  }
  finish();
  return items;
}

std::string FirstValue(const std::vector<Item>& items, std::string_view key) {
  for (const Item& item : items) {
    if (ostrel::SameText(item.key, key)) return item.value;
  }
  return {};
}

std::optional<std::int32_t> Decimal(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > 1LL << 32) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<Item> items = SplitItems(text);

  const ostrel::TConnectionValues values(text);
  for (const Item& item : items) {
    FUZZ_CHECK(values.Value(item.key) == FirstValue(items, item.key), item.key);
  }
  FUZZ_CHECK(ostrel::ParseDecimal(text) == Decimal(text), text);

  const ostrel::TUsbSettings usb = ostrel::ParseUsbSettings(text);
  FUZZ_CHECK(usb.device_name == FirstValue(items, "DEVICENAME"), usb.device_name);
  FUZZ_CHECK(usb.vendor_id == FirstValue(items, "VENDORID"), usb.vendor_id);
  FUZZ_CHECK(usb.buffer_size == Decimal(FirstValue(items, "BUFFERSIZE")).value_or(4096), std::to_string(usb.buffer_size));
  FUZZ_CHECK(usb.no_overlapped == (FirstValue(items, "NO_FILE_FLAG_OVERLAPPED") == "1"), "overlapped");

  static const ostrel::TLinkNameTables names;
  const ostrel::TSerialSettings serial = ostrel::ParseSerialSettings(text, names);
  FUZZ_CHECK(serial.name == FirstValue(items, "NAME"), serial.name);
  FUZZ_CHECK(serial.baud_rate == Decimal(ostrel::UpperCase(FirstValue(items, "BAUDRATE"))).value_or(9600),
             std::to_string(serial.baud_rate));
  FUZZ_CHECK(serial.byte_size == Decimal(ostrel::UpperCase(FirstValue(items, "BYTESIZE"))).value_or(8),
             std::to_string(serial.byte_size));
  const termios current{};
  const ostrel::TLineSetup setup = ostrel::MakeLineSetup(current, serial.ApplyDcbFlags(0), serial);
  FUZZ_CHECK(setup.error.has_value() || ostrel::TermiosSpeed(serial.baud_rate).has_value(),
             "a line was set up at an unknown speed " + std::to_string(serial.baud_rate));

  // The system's serial string for a port named by the input.
  const std::string port = text.substr(0, text.find_first_of(";\r\n"));
  const std::int32_t baud = Decimal(FirstValue(items, "BAUDRATE")).value_or(115200);
  const ostrel::TSerialSettings system = ostrel::ParseSerialSettings(ostrel::SystemSerialConnection(port, baud), names);
  FUZZ_CHECK(system.name == port && system.baud_rate == baud, port);
  return 0;
}
