#include "link/usb_listing.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "base/text.h"

namespace ostrel {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute file, trimmed; nothing when it cannot be read.
std::optional<std::string> Attribute(const fs::path& device, const char* name) {
  std::ifstream in(device / name);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return Trim(line);
}

std::optional<unsigned> NumberIn(const std::optional<std::string>& text, int base) {
  if (!text || text->empty()) return std::nullopt;
  try {
    std::size_t used = 0;
    const unsigned long value = std::stoul(*text, &used, base);
    if (used != text->size() || value > 0xFFFF) return std::nullopt;
    return static_cast<unsigned>(value);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string NodePath(const std::string& usbfs_root, unsigned bus, unsigned address) {
  char name[16];
  std::snprintf(name, sizeof name, "/%03u/%03u", bus, address);
  return usbfs_root + name;
}

void Describe(TUsbCalculatorState& entry) {
  const std::string ids = IntToHex(entry.id.vendor, 4) + ":" + IntToHex(entry.id.product, 4);
  if (IsMassStorageMode(entry.id)) {
    entry.state = ids + " a calculator in USB mass-storage mode: not usable for the link. Unplug it, plug it in "
                        "again and choose the data-transfer mode on the calculator.";
    return;
  }
  if (!(entry.id == kCalculatorId)) {
    entry.state = ids + " a Casio device this program does not know: not used.";
    return;
  }
  if (::access(entry.node.c_str(), R_OK | W_OK) == 0) {
    entry.usable = true;
    entry.state = ids + " a calculator in link mode: usable.";
    return;
  }
  entry.state = ids + " a calculator in link mode, but this user may not open " + entry.node +
                ": install the udev rule (sudo cmake --install, or packaging/udev/60-ostrel.rules into "
                "/etc/udev/rules.d), reload the rules and reconnect the calculator.";
}

}  // namespace

std::vector<TUsbCalculatorState> ListCalculatorsOnUsb(const std::string& sysfs_devices,
                                                      const std::string& usbfs_root) {
  std::vector<fs::path> devices;
  std::error_code error;
  for (fs::directory_iterator it(sysfs_devices, error), end; !error && it != end; it.increment(error)) {
    devices.push_back(it->path());
  }
  std::sort(devices.begin(), devices.end());
  std::vector<TUsbCalculatorState> found;
  for (const fs::path& device : devices) {
    const auto vendor = NumberIn(Attribute(device, "idVendor"), 16);
    const auto product = NumberIn(Attribute(device, "idProduct"), 16);
    const auto bus = NumberIn(Attribute(device, "busnum"), 10);
    const auto address = NumberIn(Attribute(device, "devnum"), 10);
    if (!vendor || *vendor != kCalculatorId.vendor || !product || !bus || !address) continue;
    TUsbCalculatorState entry;
    entry.node = NodePath(usbfs_root, *bus, *address);
    entry.id = {static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
    Describe(entry);
    found.push_back(std::move(entry));
  }
  return found;
}

}  // namespace ostrel
