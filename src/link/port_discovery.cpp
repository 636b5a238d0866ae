#include "link/port_discovery.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "base/error.h"
#include "base/text.h"
#include "env/app_env.h"
#include "link/fd_io.h"
#include "link/serial_port.h"

namespace ostrel {

namespace {

namespace fs = std::filesystem;

// The name's number when it is `prefix` followed by decimal digits only.
std::optional<long> NumberAfter(const std::string& name, const std::string& prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() - prefix.size() > 9) return std::nullopt;
  long number = 0;
  for (char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

// Entries `prefix`N of the folder, in the order of N.
std::vector<fs::path> NumberedNodes(const fs::path& folder, const std::string& prefix) {
  std::vector<std::pair<long, fs::path>> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (auto number = NumberAfter(name, prefix)) found.emplace_back(*number, it->path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> paths;
  for (auto& [number, path] : found) paths.push_back(std::move(path));
  return paths;
}

std::vector<fs::path> SortedEntries(const fs::path& folder) {
  std::vector<fs::path> paths;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The device a node stands for (symbolic links resolved); empty when it does not resolve.
std::string DeviceOf(const fs::path& node) {
  std::error_code error;
  fs::path real = fs::canonical(node, error);
  return error ? std::string() : real.string();
}

// A ttyS node is a port only with a UART behind it.
bool HasUart(int fd, const std::string& device) {
  if (!fs::path(device).filename().string().starts_with("ttyS")) return true;
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return true;  // cannot tell: keep it
  return info.type != PORT_UNKNOWN;
}

// Opens the node as a serial port would and closes it at once; `why` says why it did not
// open (ends the sentence that begins with the node's name).
bool PortOpens(const fs::path& node, const std::string& device, std::string& why) {
  TUniqueFd fd = OpenSerialNode(node.string(), why);
  if (!fd.Valid()) return false;
  if (HasUart(fd.Get(), device)) return true;
  why = " has no serial port behind it.";
  return false;
}

}  // namespace

std::vector<TSerialPortState> SerialPortStates(const std::string& device_folder) {
  const fs::path folder(device_folder);
  std::vector<TSerialPortState> states;
  std::set<std::string> devices;
  auto consider = [&](const fs::path& node, bool only_when_usable) {
    std::string device = DeviceOf(node);
    if (device.empty() || devices.count(device)) return;
    std::string why;
    const bool usable = PortOpens(node, device, why);
    if (!usable && only_when_usable) return;
    devices.insert(device);
    states.push_back({node.string(), usable, usable ? std::string() : node.string() + why});
  };
  for (const fs::path& node : SortedEntries(folder / "serial" / "by-id")) consider(node, false);
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (const fs::path& node : NumberedNodes(folder, prefix)) consider(node, false);
  }
  // Every PC has ttyS nodes, most without a port behind them: only working ones count.
  for (const fs::path& node : NumberedNodes(folder, "ttyS")) consider(node, true);
  return states;
}

std::vector<std::string> ProbeSerialPorts(const std::string& device_folder) {
  std::vector<std::string> ports;
  for (const TSerialPortState& state : SerialPortStates(device_folder)) {
    if (state.usable) ports.push_back(state.path);
  }
  return ports;
}

void ListComPorts(std::vector<std::string>& ports, std::string& chosen, const TIniFile& settings,
                  const std::string& device_folder) {
  ports.clear();
  chosen.clear();
  const bool detect = settings.ReadInteger("PROGRAM", "AUTOCOMPORTDETECTION", 1) != 0;
  const std::string configured = settings.ReadString("PROGRAM", "COMPORT", "");
  if (!detect) {
    chosen = configured;
    if (!IsBlank(configured)) ports.push_back(configured);
    return;
  }
  ports = ProbeSerialPorts(device_folder);
  if (ports.empty()) return;
  if (std::find(ports.begin(), ports.end(), configured) != ports.end()) {
    chosen = configured;
    return;
  }
  const std::string configured_device = IsBlank(configured) ? std::string() : DeviceOf(configured);
  for (const std::string& port : ports) {
    if (!configured_device.empty() && DeviceOf(port) == configured_device) {
      chosen = port;
      return;
    }
  }
  chosen = ports.front();
  try {
    settings.WriteString("PROGRAM", "COMPORT", chosen);
  } catch (const IoError&) {
    // A settings file that cannot be written keeps its old value; the choice stands.
  }
}

void ListComPorts(std::vector<std::string>& ports, std::string& chosen) {
  ListComPorts(ports, chosen, SettingsFile());
}

}  // namespace ostrel
