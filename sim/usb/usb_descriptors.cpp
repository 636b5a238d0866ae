#include "usb_descriptors.h"

namespace fxsim {

namespace {

constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;
constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorEndpoint = 5;
constexpr std::uint8_t kTransferBulk = 2;
constexpr std::uint16_t kLanguageUsEnglish = 0x0409;

void Append16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendEndpoint(std::vector<std::uint8_t>& out, std::uint8_t address) {
  out.insert(out.end(), {7, kDescriptorEndpoint, address, kTransferBulk});
  Append16(out, kMaxPacketSize);
  out.push_back(0);  // bInterval
}

}  // namespace

bool IsMassStorageProduct(std::uint16_t product) { return product == 0x6102 || product == 0x6103; }

std::vector<std::uint8_t> DeviceDescriptors(std::uint16_t product) {
  const bool storage = IsMassStorageProduct(product);
  std::vector<std::uint8_t> out = {18, kDescriptorDevice};
  Append16(out, 0x0110);                  // bcdUSB: USB 1.1, full speed
  out.insert(out.end(), {0, 0, 0, 64});   // class per interface; bMaxPacketSize0
  Append16(out, kCasioVendor);
  Append16(out, product);
  Append16(out, 0x0100);                  // bcdDevice
  out.insert(out.end(), {1, 2, 3, 1});    // string indices; one configuration

  const std::size_t config_at = out.size();
  out.insert(out.end(), {9, kDescriptorConfiguration, 0, 0, 1, 1, 0, 0x80, 50});  // bus powered, 100 mA
  // Link mode: vendor-specific; mass storage: SCSI transparent command set, bulk only.
  const std::uint8_t interface_class = storage ? 0x08 : 0xFF;
  const std::uint8_t subclass = storage ? 0x06 : 0x00;
  const std::uint8_t protocol = storage ? 0x50 : 0x00;
  out.insert(out.end(), {9, kDescriptorInterface, 0, 0, 2, interface_class, subclass, protocol, 0});
  AppendEndpoint(out, kBulkInEndpoint);
  AppendEndpoint(out, kBulkOutEndpoint);
  const auto total = static_cast<std::uint16_t>(out.size() - config_at);
  out[config_at + 2] = static_cast<std::uint8_t>(total & 0xFF);
  out[config_at + 3] = static_cast<std::uint8_t>(total >> 8);
  return out;
}

std::optional<std::vector<std::uint8_t>> StringDescriptor(const UsbStrings& strings, std::uint8_t index) {
  std::vector<std::uint8_t> out = {0, kDescriptorString};
  if (index == 0) {
    Append16(out, kLanguageUsEnglish);
  } else {
    const std::string* text = index == 1 ? &strings.manufacturer
                              : index == 2 ? &strings.product
                              : index == 3 ? &strings.serial
                                           : nullptr;
    if (text == nullptr) return std::nullopt;
    for (char c : *text) Append16(out, static_cast<std::uint8_t>(c));  // UTF-16LE of ASCII text
  }
  out[0] = static_cast<std::uint8_t>(out.size());
  return out;
}

}  // namespace fxsim
