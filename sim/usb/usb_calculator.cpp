#include "usb_calculator.h"

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "calculator_session.h"
#include "fxsim/packet.h"

namespace fxsim {

namespace {

using Clock = std::chrono::steady_clock;

// The simulator's seeds, so that a generated flash or RAM is the same on every cable.
constexpr std::uint32_t kFlashSeed = 0x9860;
constexpr std::uint32_t kRamSeed = 0x0512;

// The vendor request the calculator expects before a session.
constexpr std::uint8_t kSessionRequestType = 0x41;
constexpr std::uint8_t kSessionRequest = 0x01;

constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;
constexpr std::uint8_t kRecipientMask = 0x1F;
constexpr std::uint8_t kRecipientInterface = 0x01;
constexpr std::size_t kSetupSize = 8;

// What a kernel of today reports; libusb only needs to know that short reads and zero
// packets behave as on any current system.
constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, GObjectUnref>;
using ClientRef = std::unique_ptr<UMockdevIoctlClient, GObjectUnref>;

// Makes a pointer inside the client's argument point at a local copy of what it points to.
DataRef Resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
  GError* error = nullptr;
  DataRef resolved(umockdev_ioctl_data_resolve(data, offset, length, &error));
  if (error != nullptr) g_error_free(error);
  return resolved;
}

std::string ThreeDigits(int number) {
  char text[8];
  std::snprintf(text, sizeof text, "%03d", number & 0xFFF);
  return text;
}

std::uint16_t Little16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// A transfer the PC submitted, kept until it is reaped.
struct Urb {
  DataRef data;    // the client's struct usbdevfs_urb
  DataRef buffer;  // its buffer; none when it is empty
  unsigned long client_address = 0;

  usbdevfs_urb& Get() const { return *reinterpret_cast<usbdevfs_urb*>(data->data); }
  std::uint8_t* Bytes() const { return buffer ? buffer->data : nullptr; }
  std::size_t Capacity() const { return buffer ? static_cast<std::size_t>(buffer->data_len) : 0; }
  void Finish(int status, std::size_t length) {
    Get().status = status;
    Get().actual_length = static_cast<int>(length);
  }
};

// One opened file descriptor of the node.
struct Client {
  ClientRef client;         // held, so that its address is not reused while it is known
  bool unplugged = false;   // opened before the device was last unplugged: dead for good
  std::deque<Urb> waiting;  // bulk IN transfers waiting for the calculator's bytes
  std::deque<Urb> done;     // finished transfers, to be reaped in order
};

// Bytes of one calculator packet (or an empty packet), released no earlier than `due`.
struct Chunk {
  Bytes bytes;
  std::size_t sent = 0;
  Clock::time_point due;
  bool disconnect = false;  // the cable is pulled when this is reached
  bool answer = false;      // a calculator packet (not a zero-length packet)
  bool restart = false;     // the calculator restarts (it leaves the bus and comes back)
  bool reconnect = false;   // the program re-initialises USB (it leaves the bus and comes back)
};

// How long a calculator whose program re-initialises USB stays off the bus.
constexpr int kUsbReinitMs = 500;

// The result of one request: the ioctl's return value and errno.
struct Outcome {
  long result = 0;
  int error = 0;
};
constexpr Outcome Ok(long result = 0) { return {result, 0}; }
constexpr Outcome Fail(int error) { return {-1, error}; }

}  // namespace

class UsbCalculator::Impl {
 public:
  explicit Impl(UsbCalculatorConfig config);
  ~Impl();

  std::string RootDir() const { return root_dir_; }
  std::string NodePath() const { return node_path_; }
  void ShareWithOtherUsers() const {
    const std::string socket = root_dir_ + "/ioctl" + node_path_;
    if (chmod(root_dir_.c_str(), 01777) != 0 || chmod(socket.c_str(), 0666) != 0) {
      throw std::runtime_error("the testbed " + root_dir_ + " cannot be shared");
    }
  }
  void Unplug() {
    std::lock_guard lock(mutex_);
    UnplugLocked();
  }
  bool Plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
  }
  std::vector<UsbRequest> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  UsbCounters Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
  }
  std::string KernelDriver() const {
    std::lock_guard lock(mutex_);
    return driver_;
  }
  const Bytes& Flash() const { return unit_.Flash(); }
  const Bytes& Ram() const { return unit_.Ram(); }
  UnitStatus Status() const {
    std::lock_guard lock(mutex_);
    return unit_.Status();
  }

 private:
  static gboolean OnIoctlSignal(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);

  void AddDevice();
  void Teardown();
  // Starts following a client (a program's open file descriptor) until it closes.
  Client& Track(UMockdevIoctlClient* client);
  // Drops the clients whose program closed the node (or ended) since the last request.
  // umockdev 0.17 does not report a closing client, so this is asked before every request.
  void ForgetClosedClients();
  Outcome Serve(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg);
  Outcome Claim(UMockdevIoctlClient* client, unsigned int interface);
  Outcome Release(UMockdevIoctlClient* client, unsigned int interface);
  Outcome SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  Outcome DiscardUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  Outcome ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  Outcome SyncControl(UMockdevIoctlData* arg);
  Outcome DriverControl(UMockdevIoctlData* arg);
  // A control request: the setup packet and the data stage (in or out); the number of
  // bytes transferred, or an errno value when the device stalls the request.
  Outcome Control(UMockdevIoctlClient* client, const std::uint8_t* setup, std::uint8_t* data, std::size_t capacity);
  void OnBulkOut(const std::uint8_t* bytes, std::size_t length);
  void Queue(const Reaction& reaction);
  // Hands due calculator bytes to waiting bulk IN transfers.
  void Pump();
  void StartSession(UMockdevIoctlClient* owner);
  void EndSession();
  void UnplugLocked();
  // The calculator leaves the bus now and comes back after `off_ms`; a restart ends then.
  void LeaveBus(bool restart, int off_ms);
  // Runs on the timer thread: plugs the device in again when it is due.
  void ReplugWhenDue();
  void StopTimer();
  void Record(UsbRequest request) { requests_.push_back(request); }

  UsbCalculatorConfig config_;
  Bytes descriptors_;

  UMockdevTestbed* testbed_ = nullptr;
  UMockdevIoctlBase* handler_ = nullptr;
  std::string root_dir_;
  std::string sys_path_;
  std::string node_path_;
  std::string node_file_;

  mutable std::mutex mutex_;
  FaultPlan plan_;
  CalculatorUnit unit_;
  bool plugged_ = false;
  std::string driver_;
  std::map<UMockdevIoctlClient*, Client> clients_;
  UMockdevIoctlClient* owner_ = nullptr;  // the client that holds interface 0
  std::optional<CalculatorSession> session_;
  PacketReader reader_;
  std::deque<Chunk> out_;
  bool session_request_seen_ = false;
  std::vector<UsbRequest> requests_;
  UsbCounters counters_;

  // Plugging in again after a restart.
  std::thread timer_;
  std::condition_variable timer_wake_;
  std::optional<Clock::time_point> replug_at_;
  bool replug_ends_restart_ = false;
  bool timer_stopping_ = false;
};

UsbCalculator::Impl::Impl(UsbCalculatorConfig config)
    : config_(std::move(config)),
      descriptors_(DeviceDescriptors(config_.product)),
      plan_(config_.faults),
      unit_(config_.flash.empty() ? GeneratePattern(kFlashSize, kFlashSeed) : std::move(config_.flash),
            config_.ram.empty() ? GeneratePattern(kRamSize, kRamSeed) : std::move(config_.ram), config_.device_info,
            config_.program, config_.report),
      driver_(config_.kernel_driver) {
  testbed_ = umockdev_testbed_new();
  if (testbed_ == nullptr) throw std::runtime_error("umockdev testbed could not be created");
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  root_dir_ = root;
  g_free(root);
  try {
    AddDevice();
  } catch (...) {
    Teardown();
    throw;
  }
}

void UsbCalculator::Impl::AddDevice() {
  const std::string bus = ThreeDigits(config_.bus);
  const std::string address = ThreeDigits(config_.address);
  node_path_ = "/dev/bus/usb/" + bus + "/" + address;
  node_file_ = root_dir_ + node_path_;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04x", config_.product);
  const std::string product = std::string(hex) + "\n";
  std::snprintf(hex, sizeof hex, "%04x", kCasioVendor);
  const std::string vendor = std::string(hex) + "\n";
  const std::string busnum = std::to_string(config_.bus) + "\n";
  const std::string devnum = std::to_string(config_.address) + "\n";
  // usbfs nodes have major 189; the minor numbers the devices of all buses in turn.
  const std::string dev = "189:" + std::to_string((config_.bus - 1) * 128 + config_.address - 1) + "\n";
  const std::string name = std::to_string(config_.bus) + "-1";
  gchar* sys = umockdev_testbed_add_device(
      testbed_, "usb", name.c_str(), nullptr,
      // attributes: each value ends with a newline, as the kernel writes them
      "idVendor", vendor.c_str(), "idProduct", product.c_str(), "busnum", busnum.c_str(), "devnum",
      devnum.c_str(), "speed", "12\n", "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "dev",
      dev.c_str(), "manufacturer", (config_.strings.manufacturer + "\n").c_str(), "product",
      (config_.strings.product + "\n").c_str(), "serial", (config_.strings.serial + "\n").c_str(), nullptr,
      // udev properties
      "DEVTYPE", "usb_device", "DEVNAME", node_path_.c_str(), "BUSNUM", bus.c_str(), "DEVNUM",
      address.c_str(), nullptr);
  if (sys == nullptr) throw std::runtime_error("umockdev could not add the USB device");
  sys_path_ = sys;
  g_free(sys);
  umockdev_testbed_set_attribute_binary(testbed_, sys_path_.c_str(), "descriptors", descriptors_.data(),
                                        static_cast<gssize>(descriptors_.size()));

  // The node: libusb reads the descriptors from it; the handler serves its ioctl calls.
  const std::string folder = node_file_.substr(0, node_file_.rfind('/'));
  GError* error = nullptr;
  if (g_mkdir_with_parents(folder.c_str(), 0755) != 0 ||
      !g_file_set_contents(node_file_.c_str(), reinterpret_cast<const gchar*>(descriptors_.data()),
                           static_cast<gssize>(descriptors_.size()), &error) ||
      chmod(node_file_.c_str(), config_.node_mode) != 0) {
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error("the USB node " + node_file_ + " could not be created");
  }
  // The handler stays attached to the node's path while the device is off the bus.
  if (handler_ == nullptr) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&Impl::OnIoctlSignal), this);
    if (!umockdev_testbed_attach_ioctl(testbed_, node_path_.c_str(), handler_, &error)) {
      const std::string why = error != nullptr ? error->message : "unknown reason";
      if (error != nullptr) g_error_free(error);
      throw std::runtime_error("umockdev could not serve " + node_path_ + ": " + why);
    }
  }
  plugged_ = true;
}

UsbCalculator::Impl::~Impl() { Teardown(); }

void UsbCalculator::Impl::StopTimer() {
  {
    std::lock_guard lock(mutex_);
    timer_stopping_ = true;
  }
  timer_wake_.notify_all();
  if (timer_.joinable()) timer_.join();
}

void UsbCalculator::Impl::Teardown() {
  StopTimer();
  if (handler_ != nullptr) {
    umockdev_testbed_detach_ioctl(testbed_, node_path_.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
  }
  {
    // A request being served finishes before the state goes away.
    std::lock_guard lock(mutex_);
    clients_.clear();
  }
  if (handler_ != nullptr) g_object_unref(handler_);
  g_object_unref(testbed_);
}

gboolean UsbCalculator::Impl::OnIoctlSignal(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto& impl = *static_cast<Impl*>(self);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  Outcome outcome;
  {
    std::lock_guard lock(impl.mutex_);
    impl.ForgetClosedClients();
    impl.Track(client);
    impl.Pump();
    outcome = impl.Serve(client, request, arg);
    impl.Pump();
  }
  umockdev_ioctl_client_complete(client, outcome.result, outcome.error);
  return TRUE;
}

void UsbCalculator::Impl::ForgetClosedClients() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (umockdev_ioctl_client_get_connected(it->first)) {
      ++it;
      continue;
    }
    // Closing the node releases what the program held, as the kernel does.
    if (owner_ == it->first) EndSession();
    it = clients_.erase(it);
  }
}

Client& UsbCalculator::Impl::Track(UMockdevIoctlClient* client) {
  const auto known = clients_.find(client);
  if (known != clients_.end()) return known->second;
  Client& state = clients_[client];
  state.client.reset(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
  return state;
}

Outcome UsbCalculator::Impl::Serve(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg) {
  if (request == USBDEVFS_REAPURBNDELAY) return ReapUrb(client, arg);
  // After a disconnect only the transfers that ended can still be reaped.
  if (!plugged_ || clients_.at(client).unplugged) return Fail(ENODEV);
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      DataRef caps = Resolve(arg, 0, sizeof(std::uint32_t));
      if (!caps) return Fail(EFAULT);
      std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
      return Ok();
    }
    case USBDEVFS_CONNECTINFO: {
      DataRef info = Resolve(arg, 0, sizeof(usbdevfs_connectinfo));
      if (!info) return Fail(EFAULT);
      auto& connect = *reinterpret_cast<usbdevfs_connectinfo*>(info->data);
      connect.devnum = static_cast<unsigned int>(config_.address);
      connect.slow = 0;
      return Ok();
    }
    case USBDEVFS_GET_SPEED:
      return Ok(USB_SPEED_FULL);
    case USBDEVFS_GETDRIVER: {
      DataRef query = Resolve(arg, 0, sizeof(usbdevfs_getdriver));
      if (!query) return Fail(EFAULT);
      auto& driver = *reinterpret_cast<usbdevfs_getdriver*>(query->data);
      if (driver.interface != 0 || driver_.empty()) return Fail(ENODATA);
      std::snprintf(driver.driver, sizeof driver.driver, "%s", driver_.c_str());
      return Ok();
    }
    case USBDEVFS_IOCTL:
      return DriverControl(arg);
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
      DataRef number = Resolve(arg, 0, sizeof(unsigned int));
      if (!number) return Fail(EFAULT);
      unsigned int interface = 0;
      std::memcpy(&interface, number->data, sizeof interface);
      return request == USBDEVFS_CLAIMINTERFACE ? Claim(client, interface) : Release(client, interface);
    }
    case USBDEVFS_SUBMITURB:
      return SubmitUrb(client, arg);
    case USBDEVFS_DISCARDURB:
      return DiscardUrb(client, arg);
    case USBDEVFS_CONTROL:
      return SyncControl(arg);
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
      return Ok();
    default:
      return Fail(ENOTTY);
  }
}

Outcome UsbCalculator::Impl::DriverControl(UMockdevIoctlData* arg) {
  DataRef command = Resolve(arg, 0, sizeof(usbdevfs_ioctl));
  if (!command) return Fail(EFAULT);
  const auto& ioctl = *reinterpret_cast<const usbdevfs_ioctl*>(command->data);
  if (ioctl.ifno != 0) return Fail(EINVAL);
  if (ioctl.ioctl_code == USBDEVFS_DISCONNECT) {
    if (driver_.empty()) return Fail(ENODATA);
    Record({UsbRequest::Kind::kDetachDriver});
    driver_.clear();
    return Ok();
  }
  if (ioctl.ioctl_code == USBDEVFS_CONNECT) {
    Record({UsbRequest::Kind::kAttachDriver});
    // The driver only binds to an interface nobody holds.
    if (owner_ == nullptr) driver_ = config_.kernel_driver;
    return Ok();
  }
  return Fail(ENOTTY);
}

Outcome UsbCalculator::Impl::Claim(UMockdevIoctlClient* client, unsigned int interface) {
  Record({UsbRequest::Kind::kClaim, 0, 0, 0, static_cast<std::uint16_t>(interface)});
  if (interface != 0) return Fail(ENOENT);
  if (owner_ == client) return Ok();
  if (owner_ != nullptr || !driver_.empty()) return Fail(EBUSY);
  StartSession(client);
  return Ok();
}

Outcome UsbCalculator::Impl::Release(UMockdevIoctlClient* client, unsigned int interface) {
  Record({UsbRequest::Kind::kRelease, 0, 0, 0, static_cast<std::uint16_t>(interface)});
  if (interface != 0 || owner_ != client) return Fail(EINVAL);
  EndSession();
  return Ok();
}

void UsbCalculator::Impl::StartSession(UMockdevIoctlClient* owner) {
  owner_ = owner;
  session_.emplace(Endpoint::kUsb, unit_, plan_, 9600);
  reader_ = PacketReader();
  out_.clear();
  session_request_seen_ = false;
}

void UsbCalculator::Impl::EndSession() {
  owner_ = nullptr;
  session_.reset();
  // A restart the PC did not wait for happens all the same.
  const auto pending = std::find_if(out_.begin(), out_.end(), [](const Chunk& c) { return c.restart || c.reconnect; });
  const bool restart = pending != out_.end() && pending->restart;
  const bool reconnect = pending != out_.end() && pending->reconnect;
  out_.clear();
  if (restart || reconnect) LeaveBus(restart, restart ? unit_.Program().restart_ms : kUsbReinitMs);
}

void UsbCalculator::Impl::LeaveBus(bool restart, int off_ms) {
  UnplugLocked();
  replug_at_ = Clock::now() + std::chrono::milliseconds(std::max(off_ms, 0));
  replug_ends_restart_ = restart;
  if (!timer_.joinable()) timer_ = std::thread([this] { ReplugWhenDue(); });
  timer_wake_.notify_all();
}

void UsbCalculator::Impl::ReplugWhenDue() {
  std::unique_lock lock(mutex_);
  while (!timer_stopping_) {
    if (!replug_at_) {
      timer_wake_.wait(lock);
      continue;
    }
    if (timer_wake_.wait_until(lock, *replug_at_) == std::cv_status::no_timeout) continue;
    if (timer_stopping_ || !replug_at_ || Clock::now() < *replug_at_) continue;
    replug_at_.reset();
    if (replug_ends_restart_) unit_.FinishRestart();
    try {
      AddDevice();
      umockdev_testbed_uevent(testbed_, sys_path_.c_str(), "add");
    } catch (const std::exception& e) {
      unit_.Report(std::string("the calculator could not come back on the bus: ") + e.what());
    }
  }
}

Outcome UsbCalculator::Impl::SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  Urb urb;
  urb.data = Resolve(arg, 0, sizeof(usbdevfs_urb));
  if (!urb.data) return Fail(EFAULT);
  urb.client_address = urb.data->client_addr;
  const usbdevfs_urb& request = urb.Get();
  if (request.buffer_length < 0) return Fail(EINVAL);
  const auto length = static_cast<std::size_t>(request.buffer_length);
  urb.buffer = Resolve(urb.data.get(), offsetof(usbdevfs_urb, buffer), length);
  if (length > 0 && !urb.buffer) return Fail(EFAULT);
  Client& state = clients_.at(client);

  if (request.type == USBDEVFS_URB_TYPE_CONTROL) {
    if (length < kSetupSize || request.endpoint != 0) return Fail(EINVAL);
    const Outcome outcome = Control(client, urb.Bytes(), urb.Bytes() + kSetupSize, length - kSetupSize);
    if (outcome.result < 0) {
      urb.Finish(-outcome.error, 0);
    } else {
      urb.Finish(0, static_cast<std::size_t>(outcome.result));
    }
    state.done.push_back(std::move(urb));
    return Ok();
  }
  if (request.type != USBDEVFS_URB_TYPE_BULK) return Fail(EINVAL);
  if (request.endpoint != kBulkInEndpoint && request.endpoint != kBulkOutEndpoint) return Fail(ENOENT);
  // A transfer on an interface nobody holds claims it, as the kernel does.
  if (owner_ == nullptr && driver_.empty()) StartSession(client);
  if (owner_ != client) return Fail(EBUSY);

  if (request.endpoint == kBulkOutEndpoint) {
    Record({UsbRequest::Kind::kBulkOut, 0, 0, 0, 0, length});
    OnBulkOut(urb.Bytes(), length);
    urb.Finish(0, length);
    state.done.push_back(std::move(urb));
  } else {
    Record({UsbRequest::Kind::kBulkIn, 0, 0, 0, 0, length});
    state.waiting.push_back(std::move(urb));
  }
  return Ok();
}

Outcome UsbCalculator::Impl::DiscardUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  // The argument is the transfer's address in the client, not a pointer to resolve.
  unsigned long address = 0;
  std::memcpy(&address, arg->data, std::min(sizeof address, static_cast<std::size_t>(arg->data_len)));
  Client& state = clients_.at(client);
  const auto found = std::find_if(state.waiting.begin(), state.waiting.end(),
                                  [&](const Urb& urb) { return urb.client_address == address; });
  if (found == state.waiting.end()) return Fail(EINVAL);
  found->Finish(-ENOENT, 0);
  state.done.push_back(std::move(*found));
  state.waiting.erase(found);
  ++counters_.bulk_in_discarded;
  return Ok();
}

Outcome UsbCalculator::Impl::ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  ++counters_.reap_calls;
  Client& state = clients_.at(client);
  if (state.done.empty()) return Fail(plugged_ ? EAGAIN : ENODEV);
  DataRef slot = Resolve(arg, 0, sizeof(void*));
  if (!slot) return Fail(EFAULT);
  Urb urb = std::move(state.done.front());
  state.done.pop_front();
  // The client finds its own transfer, with the status and the bytes, at the address it gave.
  umockdev_ioctl_data_set_ptr(slot.get(), 0, urb.data.get());
  return Ok();
}

Outcome UsbCalculator::Impl::SyncControl(UMockdevIoctlData* arg) {
  DataRef transfer = Resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
  if (!transfer) return Fail(EFAULT);
  const auto& control = *reinterpret_cast<const usbdevfs_ctrltransfer*>(transfer->data);
  DataRef data;
  if (control.wLength > 0) {
    data = Resolve(transfer.get(), offsetof(usbdevfs_ctrltransfer, data), control.wLength);
    if (!data) return Fail(EFAULT);
  }
  std::uint8_t setup[kSetupSize] = {control.bRequestType, control.bRequest,
                                    static_cast<std::uint8_t>(control.wValue & 0xFF),
                                    static_cast<std::uint8_t>(control.wValue >> 8),
                                    static_cast<std::uint8_t>(control.wIndex & 0xFF),
                                    static_cast<std::uint8_t>(control.wIndex >> 8),
                                    static_cast<std::uint8_t>(control.wLength & 0xFF),
                                    static_cast<std::uint8_t>(control.wLength >> 8)};
  return Control(nullptr, setup, data ? data->data : nullptr, control.wLength);
}

Outcome UsbCalculator::Impl::Control(UMockdevIoctlClient* client, const std::uint8_t* setup, std::uint8_t* data,
                                     std::size_t capacity) {
  UsbRequest request{UsbRequest::Kind::kControl, setup[0], setup[1], Little16(setup + 2), Little16(setup + 4),
                     Little16(setup + 6)};
  Record(request);
  const std::size_t wanted = std::min<std::size_t>(request.length, capacity);
  const auto give = [&](const Bytes& bytes) {
    const std::size_t count = std::min(wanted, bytes.size());
    if (count > 0) std::memcpy(data, bytes.data(), count);
    return Ok(static_cast<long>(count));
  };

  if (request.request_type == kSessionRequestType && request.request == kSessionRequest) {
    // A request to the interface claims it for a program that did not yet, as in the kernel.
    if ((request.request_type & kRecipientMask) == kRecipientInterface && client != nullptr && owner_ == nullptr &&
        driver_.empty()) {
      StartSession(client);
    }
    session_request_seen_ = true;
    return Ok(0);
  }
  if (request.request_type == (USB_DIR_IN | USB_TYPE_STANDARD | USB_RECIP_DEVICE)) {
    if (request.request == kGetConfiguration) return give(Bytes{1});
    if (request.request == kGetDescriptor) {
      const std::uint8_t type = static_cast<std::uint8_t>(request.value >> 8);
      const std::uint8_t index = static_cast<std::uint8_t>(request.value & 0xFF);
      const std::size_t device_length = descriptors_[0];
      if (type == kDescriptorDevice) return give(Bytes(descriptors_.begin(), descriptors_.begin() + device_length));
      if (type == kDescriptorConfiguration && index == 0) {
        return give(Bytes(descriptors_.begin() + device_length, descriptors_.end()));
      }
      if (type == kDescriptorString) {
        if (std::optional<Bytes> text = StringDescriptor(config_.strings, index)) return give(*text);
      }
    }
  }
  return Fail(EPIPE);  // the device stalls what it does not know
}

void UsbCalculator::Impl::OnBulkOut(const std::uint8_t* bytes, std::size_t length) {
  counters_.bulk_out_bytes += length;
  // Without the vendor request the calculator does not take part in a session.
  if (!session_ || length == 0 || (config_.needs_session_request && !session_request_seen_)) return;
  reader_.Feed(std::span(bytes, length));
  while (std::optional<Packet> packet = reader_.Next()) {
    reader_.TakeTrailingNul();
    packet->endpoint = Endpoint::kUsb;
    Queue(session_->OnPacket(*packet));
  }
  reader_.TakeTrailingNul();
}

void UsbCalculator::Impl::Queue(const Reaction& reaction) {
  const Clock::time_point now = Clock::now();
  const auto delay = std::chrono::milliseconds(std::max(config_.packet_delay_ms, 0));
  for (const OutgoingPacket& packet : reaction.packets) {
    const Clock::time_point due =
        now + std::max(packet.has_data ? delay : delay.zero(), std::chrono::milliseconds(std::max(packet.work_ms, 0)));
    if (config_.zero_length_packets) out_.push_back({Bytes(), 0, due, false, false});
    out_.push_back({packet.bytes, 0, due, false, true});
  }
  if (reaction.disconnect) out_.push_back({Bytes(), 0, now, true, false});
  if (reaction.restart) out_.push_back({Bytes(), 0, now, false, false, true});
  if (reaction.reconnect) out_.push_back({Bytes(), 0, now, false, false, false, true});
}

void UsbCalculator::Impl::Pump() {
  if (owner_ == nullptr) return;
  Client& owner = clients_.at(owner_);
  const Clock::time_point now = Clock::now();
  while (!out_.empty() && out_.front().due <= now) {
    Chunk& chunk = out_.front();
    if (chunk.disconnect) {
      UnplugLocked();
      return;
    }
    if (chunk.restart || chunk.reconnect) {
      EndSession();  // carries the restart out
      return;
    }
    if (owner.waiting.empty()) return;  // the device sends only when the PC asks for data
    Urb urb = std::move(owner.waiting.front());
    owner.waiting.pop_front();
    // A transfer ends when its buffer is full or the packet is complete (a short packet).
    const std::size_t count = std::min(urb.Capacity(), chunk.bytes.size() - chunk.sent);
    if (count > 0) std::memcpy(urb.Bytes(), chunk.bytes.data() + chunk.sent, count);
    chunk.sent += count;
    urb.Finish(0, count);
    owner.done.push_back(std::move(urb));
    ++counters_.bulk_in_completed;
    counters_.bulk_in_bytes += count;
    if (count == 0) ++counters_.zero_length_packets;
    if (chunk.sent == chunk.bytes.size()) {
      if (chunk.answer) ++counters_.answers_sent;
      out_.pop_front();
    }
  }
}

void UsbCalculator::Impl::UnplugLocked() {
  if (!plugged_) return;
  plugged_ = false;
  for (auto& [client, state] : clients_) {
    state.unplugged = true;
    for (Urb& urb : state.waiting) {
      urb.Finish(-ESHUTDOWN, 0);
      state.done.push_back(std::move(urb));
    }
    state.waiting.clear();
  }
  EndSession();
  // The remove event needs the device's entry, so it goes out first.
  umockdev_testbed_uevent(testbed_, sys_path_.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, sys_path_.c_str());
  ::unlink(node_file_.c_str());
}

UsbCalculator::UsbCalculator(UsbCalculatorConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}
UsbCalculator::~UsbCalculator() = default;
std::string UsbCalculator::RootDir() const { return impl_->RootDir(); }
std::string UsbCalculator::NodePath() const { return impl_->NodePath(); }
void UsbCalculator::ShareWithOtherUsers() { impl_->ShareWithOtherUsers(); }
void UsbCalculator::Unplug() { impl_->Unplug(); }
bool UsbCalculator::Plugged() const { return impl_->Plugged(); }
std::vector<UsbRequest> UsbCalculator::Requests() const { return impl_->Requests(); }
UsbCounters UsbCalculator::Counters() const { return impl_->Counters(); }
std::string UsbCalculator::KernelDriver() const { return impl_->KernelDriver(); }
const std::vector<std::uint8_t>& UsbCalculator::Flash() const { return impl_->Flash(); }
const std::vector<std::uint8_t>& UsbCalculator::Ram() const { return impl_->Ram(); }
UnitStatus UsbCalculator::Status() const { return impl_->Status(); }

}  // namespace fxsim
