#pragma once
// The family's calculators on USB as the system sees them (vendor 07CF in sysfs), with
// whether a session could open each one now and, when not, what to do about it.

#include <string>
#include <vector>

#include "link/libusb_device.h"

namespace ostrel {

struct TUsbCalculatorState {
  std::string node;  // the usbfs node, /dev/bus/usb/BBB/DDD
  TUsbId id;
  bool usable = false;
  std::string state;  // what the device is, and the remedy when it is not usable
};

// Every USB device of vendor 07CF under the sysfs device folder, in name order. Product
// 6101 (the link mode) is usable when its node may be read and written; products 6102 and
// 6103 are a calculator in mass-storage mode; others are named as unknown.
std::vector<TUsbCalculatorState> ListCalculatorsOnUsb(const std::string& sysfs_devices = "/sys/bus/usb/devices",
                                                      const std::string& usbfs_root = "/dev/bus/usb");

}  // namespace ostrel
