#include "link/libusb_device.h"

#include <fcntl.h>
#include <libusb.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/text.h"
#include "link/diagnostic_lines.h"
#include "link/fd_io.h"

namespace ostrel {

namespace {

constexpr unsigned kUsbDeviceMajor = 189;
constexpr int kInterface = 0;
constexpr unsigned kWriteTimeoutMs = 5000;
// The vendor request the calculator needs before a session; older OS versions do not
// answer without it.
constexpr std::uint8_t kSessionRequestType = 0x41;
constexpr std::uint8_t kSessionRequest = 0x01;
constexpr unsigned kSessionRequestTimeoutMs = 300;

// The four hex digits after the marker in the upper-cased text.
std::optional<std::uint16_t> HexAfter(std::string_view upper, std::string_view marker) {
  std::size_t at = upper.find(marker);
  if (at == std::string_view::npos || at + marker.size() + 4 > upper.size()) return std::nullopt;
  const char* digits = upper.data() + at + marker.size();
  std::uint16_t value = 0;
  const auto [stop, error] = std::from_chars(digits, digits + 4, value, 16);
  if (error != std::errc() || stop != digits + 4) return std::nullopt;
  return value;
}

std::string IdText(TUsbId id) { return IntToHex(id.vendor, 4) + ":" + IntToHex(id.product, 4); }

std::string LibusbErrorText(int code) { return libusb_error_name(code); }

struct ContextCloser {
  void operator()(libusb_context* context) const { libusb_exit(context); }
};
struct HandleCloser {
  void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
struct DeviceListFreer {
  void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
struct ConfigFreer {
  void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};
using UniqueContext = std::unique_ptr<libusb_context, ContextCloser>;
using UniqueHandle = std::unique_ptr<libusb_device_handle, HandleCloser>;

UniqueContext StartLibusb(int* error) {
  libusb_context* context = nullptr;
  *error = libusb_init(&context);
  return UniqueContext(*error == 0 ? context : nullptr);
}

class TLibusbChannel : public TBlockChannel {
 public:
  TLibusbChannel(TUniqueFd fd, UniqueContext context, UniqueHandle handle, TBulkEndpoints endpoints,
                 bool reattach_driver, std::string path)
      : fd_(std::move(fd)),
        context_(std::move(context)),
        handle_(std::move(handle)),
        endpoints_(endpoints),
        reattach_driver_(reattach_driver),
        path_(std::move(path)) {}

  ~TLibusbChannel() override {
    libusb_release_interface(handle_.get(), kInterface);
    if (reattach_driver_) libusb_attach_kernel_driver(handle_.get(), kInterface);
  }

  std::size_t ReadBlock(std::uint8_t* destination, std::size_t capacity) override {
    if (lost_) {
      IdleReadWait();
      return 0;
    }
    int got = 0;
    int code = libusb_bulk_transfer(handle_.get(), endpoints_.in, destination, static_cast<int>(capacity), &got,
                                    kReadWaitMs);
    UsbErrorKind kind = ClassifyLibusbError(code);
    // A read that times out may still have received bytes: they are delivered.
    if (kind == UsbErrorKind::None || kind == UsbErrorKind::Timeout) return got > 0 ? static_cast<std::size_t>(got) : 0;
    MarkLost(code);
    IdleReadWait();
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }

  std::uint32_t WriteBlock(const std::uint8_t* data, std::uint32_t length) override {
    if (lost_ || length == 0) return 0;
    std::vector<unsigned char> copy(data, data + length);  // libusb takes a mutable buffer
    int sent = 0;
    int code = libusb_bulk_transfer(handle_.get(), endpoints_.out, copy.data(), static_cast<int>(length), &sent,
                                    kWriteTimeoutMs);
    UsbErrorKind kind = ClassifyLibusbError(code);
    if (kind != UsbErrorKind::None && kind != UsbErrorKind::Timeout) MarkLost(code);
    return sent > 0 ? static_cast<std::uint32_t>(sent) : 0;
  }

  int Handle() const override { return fd_.Get(); }
  std::vector<std::string> TakeDiagnostics() override { return diagnostics_.Take(); }

 private:
  void MarkLost(int code) {
    if (lost_) return;
    lost_ = true;
    diagnostics_.Add("USB device " + path_ + " stopped answering (" + LibusbErrorText(code) +
                     "); the line stays silent.");
  }

  // Destroyed in reverse order: the libusb handle, then its context, then the descriptor.
  TUniqueFd fd_;
  UniqueContext context_;
  UniqueHandle handle_;
  TBulkEndpoints endpoints_;
  bool reattach_driver_;
  std::string path_;
  bool lost_ = false;
  TDiagnosticLines diagnostics_;
};

// The libusb failure of one opening step as an outcome.
TUsbOpenResult LibusbFailure(const std::string& path, const std::string& step, int code) {
  switch (ClassifyLibusbError(code)) {
    case UsbErrorKind::Absent:
      return AbsentResult("USB device " + path + " disappeared while " + step + ".");
    case UsbErrorKind::AccessDenied:
      return UnusableResult(path, OpenFailureText(path, EACCES));
    case UsbErrorKind::Busy:
      // Another program keeps it until it ends: waiting here would wait for that program.
      return UnusableResult(path, OpenFailureText(path, EBUSY));
    default:
      return NotOpenableResult(path, "USB device " + path + " cannot be opened: " + step + " failed (" +
                                   LibusbErrorText(code) + ").");
  }
}

std::string MassStorageText(const std::string& path, TUsbId id) {
  return "USB device " + path + " (" + IdText(id) +
         ") is a calculator in USB mass-storage mode; it is not opened. On the calculator, choose the link's "
         "receive mode instead.";
}

}  // namespace

std::optional<TUsbId> ParseVendorId(std::string_view text) {
  std::string upper = UpperCase(text);
  std::optional<std::uint16_t> vendor = HexAfter(upper, "VID_");
  std::optional<std::uint16_t> product = HexAfter(upper, "PID_");
  if (!vendor || !product) return std::nullopt;
  return TUsbId{*vendor, *product};
}

bool IsMassStorageMode(TUsbId id) {
  return id.vendor == kCalculatorId.vendor && (id.product == 0x6102 || id.product == 0x6103);
}

std::optional<TBulkEndpoints> SelectBulkEndpoints(const libusb_interface_descriptor& setting) {
  TBulkEndpoints found;
  for (int i = 0; i < setting.bNumEndpoints; ++i) {
    const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
    if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK) continue;
    bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
    if (in && found.in == 0) {
      found.in = endpoint.bEndpointAddress;
      found.in_packet_size = endpoint.wMaxPacketSize;
    } else if (!in && found.out == 0) {
      found.out = endpoint.bEndpointAddress;
      found.out_packet_size = endpoint.wMaxPacketSize;
    }
  }
  // Endpoint 0 is the control endpoint, so address 0x00 never names a bulk OUT endpoint.
  if (found.in == 0 || found.out == 0) return std::nullopt;
  return found;
}

UsbErrorKind ClassifyLibusbError(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return UsbErrorKind::None;
    case LIBUSB_ERROR_NO_DEVICE: return UsbErrorKind::Absent;
    case LIBUSB_ERROR_ACCESS: return UsbErrorKind::AccessDenied;
    case LIBUSB_ERROR_BUSY: return UsbErrorKind::Busy;
    case LIBUSB_ERROR_TIMEOUT:
    case LIBUSB_ERROR_INTERRUPTED: return UsbErrorKind::Timeout;
    default: return UsbErrorKind::Lost;
  }
}

std::string UsbfsPath(int bus, int address) {
  char path[32];
  std::snprintf(path, sizeof(path), "/dev/bus/usb/%03d/%03d", bus & 0xFFF, address & 0xFFF);
  return path;
}

bool IsUsbfsNode(const std::string& path, const struct stat& status) {
  if (!S_ISCHR(status.st_mode)) return false;
  return major(status.st_rdev) == kUsbDeviceMajor || path.starts_with("/dev/bus/usb/");
}

TUsbOpenResult OpenUsbfsNode(const std::string& path) {
  TUniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.Valid()) return OpenErrorResult(path, errno);
  int code = 0;
  UniqueContext context = StartLibusb(&code);
  if (!context) return NotOpenableResult(path, "USB library could not start (" + LibusbErrorText(code) + ").");
  libusb_device_handle* raw_handle = nullptr;
  code = libusb_wrap_sys_device(context.get(), static_cast<intptr_t>(fd.Get()), &raw_handle);
  if (code != LIBUSB_SUCCESS) return LibusbFailure(path, "taking over the device node", code);
  UniqueHandle handle(raw_handle);

  libusb_device* device = libusb_get_device(handle.get());
  libusb_device_descriptor descriptor{};
  code = libusb_get_device_descriptor(device, &descriptor);
  if (code != LIBUSB_SUCCESS) return LibusbFailure(path, "reading the device descriptor", code);
  TUsbId id{descriptor.idVendor, descriptor.idProduct};
  // The calculator leaves mass-storage mode only when the user chooses another mode on it.
  if (IsMassStorageMode(id)) return UnusableResult(path, MassStorageText(path, id));

  bool reattach = false;
  if (libusb_kernel_driver_active(handle.get(), kInterface) == 1) {
    code = libusb_detach_kernel_driver(handle.get(), kInterface);
    if (code == LIBUSB_SUCCESS) reattach = true;
  }
  code = libusb_claim_interface(handle.get(), kInterface);
  if (code != LIBUSB_SUCCESS) {
    if (reattach) libusb_attach_kernel_driver(handle.get(), kInterface);
    return LibusbFailure(path, "claiming interface 0", code);
  }

  libusb_config_descriptor* raw_config = nullptr;
  code = libusb_get_active_config_descriptor(device, &raw_config);
  std::unique_ptr<libusb_config_descriptor, ConfigFreer> config(raw_config);
  std::optional<TBulkEndpoints> endpoints;
  if (code == LIBUSB_SUCCESS) {
    for (int i = 0; i < config->bNumInterfaces && !endpoints; ++i) {
      const libusb_interface& interface = config->interface[i];
      if (interface.num_altsetting > 0 && interface.altsetting[0].bInterfaceNumber == kInterface) {
        endpoints = SelectBulkEndpoints(interface.altsetting[0]);
      }
    }
  }
  if (!endpoints) {
    libusb_release_interface(handle.get(), kInterface);
    if (reattach) libusb_attach_kernel_driver(handle.get(), kInterface);
    if (code != LIBUSB_SUCCESS) return LibusbFailure(path, "reading the configuration", code);
    return NotOpenableResult(path,
                             "USB device " + path + " (" + IdText(id) + ") has no bulk endpoints on interface 0.");
  }

  TUsbOpenResult result;
  code = libusb_control_transfer(handle.get(), kSessionRequestType, kSessionRequest, 0, 0, nullptr, 0,
                                 kSessionRequestTimeoutMs);
  if (code < 0) {
    result.diagnostics.push_back("USB device " + path + ": the session request was not taken (" +
                                 LibusbErrorText(code) + "); going on.");
  }
  result.outcome = OpenOutcome::Opened;
  result.device_path = path;
  result.channel = std::make_unique<TLibusbChannel>(std::move(fd), std::move(context), std::move(handle), *endpoints,
                                                    reattach, path);
  return result;
}

TUsbOpenResult FindAndOpenCalculator(const std::string& vendor_id_text) {
  std::optional<TUsbId> wanted = ParseVendorId(vendor_id_text);
  if (!wanted) {
    return AbsentResult("USB search: VENDORID \"" + vendor_id_text +
                  "\" does not name a device (expected e.g. VID_07CF&PID_6101).");
  }
  int code = 0;
  UniqueContext context = StartLibusb(&code);
  if (!context) return AbsentResult("USB search: the USB library could not start (" + LibusbErrorText(code) + ").");

  libusb_device** raw_list = nullptr;
  ssize_t count = libusb_get_device_list(context.get(), &raw_list);
  if (count < 0) {
    return AbsentResult("USB search: the USB devices cannot be listed (" + LibusbErrorText(static_cast<int>(count)) +
                        ").");
  }
  std::unique_ptr<libusb_device*, DeviceListFreer> list(raw_list);

  std::string match;
  std::string mass_storage;
  TUsbId mass_storage_id;
  for (ssize_t i = 0; i < count && match.empty(); ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list.get()[i], &descriptor) != LIBUSB_SUCCESS) continue;
    TUsbId id{descriptor.idVendor, descriptor.idProduct};
    std::string path = UsbfsPath(libusb_get_bus_number(list.get()[i]), libusb_get_device_address(list.get()[i]));
    if (id == *wanted) {
      match = path;
    } else if (mass_storage.empty() && id.vendor == wanted->vendor && IsMassStorageMode(id)) {
      mass_storage = path;
      mass_storage_id = id;
    }
  }
  list.reset();
  context.reset();

  if (!match.empty()) return OpenUsbfsNode(match);
  if (!mass_storage.empty()) return UnusableResult(mass_storage, MassStorageText(mass_storage, mass_storage_id));
  return AbsentResult("USB search: no device " + IdText(*wanted) + " is connected.");
}

}  // namespace ostrel
