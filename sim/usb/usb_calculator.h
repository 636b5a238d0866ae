#pragma once
// A calculator on the USB level, for programs that use libusb: a umockdev testbed holds
// the sysfs entry and the usbfs node of an fx-9860G in link receive mode, and a handler
// serves the usbfs requests made on that node (descriptors, claim and release, the
// vendor request, bulk transfers submitted, reaped and discarded, a disconnect) by handing
// the bulk bytes to and from the simulator's calculator session. It is another cable into
// the same calculator as the simulator's socket and pseudo terminal.
//
// The program that opens the device must run with umockdev's preload library (see
// usb_preload.h), which routes /sys, /dev and the node's ioctl calls into the testbed;
// the testbed may live in that program or in another process (UMOCKDEV_DIR names it).
//
// Thread model: the requests are served on umockdev's worker thread; every public member
// function may be called from any other thread.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fxsim/simulator.h"
#include "usb_descriptors.h"

namespace fxsim {

struct UsbCalculatorConfig {
  std::vector<std::uint8_t> flash;  // empty: kFlashSize bytes of the simulator's pattern
  std::vector<std::uint8_t> ram;    // empty: kRamSize bytes of the simulator's pattern
  DeviceInfo device_info;
  // The simulator's faults; a disconnect unplugs the device (after the answers before it).
  std::vector<FaultSpec> faults;
  ProgramConfig program;  // the recovery program, as in SimConfig
  std::function<void(const std::string&)> report;
  std::uint16_t product = kLinkModeProduct;  // 0x6102 / 0x6103: a mass-storage mode
  UsbStrings strings;
  // Delay before each answer that carries data (device information, the announcement,
  // every data block), counted from the request: a real fx-9860G needs about 30 ms per block.
  int packet_delay_ms = 30;
  // A zero-length bulk IN packet goes out before every answer.
  bool zero_length_packets = false;
  // Bulk data is ignored until the vendor request (type 0x41, request 0x01) came, as on
  // calculators whose OS needs it.
  bool needs_session_request = true;
  // A kernel driver bound to interface 0 (empty: none); a claim fails until it is detached.
  std::string kernel_driver;
  int bus = 1;
  int address = 2;
  // Permission bits of the usbfs node (0444: nobody but root may open it for writing).
  mode_t node_mode = 0666;
};

// One request the device saw, in order.
struct UsbRequest {
  enum class Kind { kControl, kBulkOut, kBulkIn, kClaim, kRelease, kDetachDriver, kAttachDriver };
  Kind kind = Kind::kControl;
  std::uint8_t request_type = 0;  // kControl: the setup packet
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::size_t length = 0;         // buffer length (bulk) or wLength (control)
};

struct UsbCounters {
  std::uint64_t bulk_out_bytes = 0;     // bytes the PC sent
  std::uint64_t bulk_in_bytes = 0;      // bytes the PC received
  std::uint64_t bulk_in_completed = 0;  // bulk IN transfers that completed with data or empty
  std::uint64_t bulk_in_discarded = 0;  // bulk IN transfers the PC cancelled (its read timed out)
  std::uint64_t zero_length_packets = 0;
  std::uint64_t answers_sent = 0;       // calculator packets handed to the PC in full
  std::uint64_t reap_calls = 0;         // reap requests, answered or not
};

class UsbCalculator {
 public:
  // Creates the testbed (and sets UMOCKDEV_DIR for this process) and plugs the device in.
  // Throws std::runtime_error when the testbed cannot be built.
  explicit UsbCalculator(UsbCalculatorConfig config);
  ~UsbCalculator();
  UsbCalculator(const UsbCalculator&) = delete;
  UsbCalculator& operator=(const UsbCalculator&) = delete;

  // The testbed's root folder: UMOCKDEV_DIR for programs started elsewhere.
  std::string RootDir() const;
  // The node as programs in the testbed see it, e.g. "/dev/bus/usb/001/002".
  std::string NodePath() const;
  // Lets programs of other users into the testbed (they need to create their event
  // sockets in it and to reach the node's request socket); the node keeps its own mode.
  void ShareWithOtherUsers();

  // Pulls the cable: transfers in flight end with "no device", every later request fails
  // with ENODEV, the node and the sysfs entry go away, and a remove event is sent.
  void Unplug();
  bool Plugged() const;

  std::vector<UsbRequest> Requests() const;
  UsbCounters Counters() const;
  // The driver bound to interface 0 now (empty: none).
  std::string KernelDriver() const;

  // The calculator's memories, as for the simulator: read them while the PC side is idle.
  const std::vector<std::uint8_t>& Flash() const;
  const std::vector<std::uint8_t>& Ram() const;
  UnitStatus Status() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace fxsim
