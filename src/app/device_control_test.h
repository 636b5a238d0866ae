#pragma once
// The device-control test of the Test button: opens a USB device path through the USB
// channel and issues one harmless query request on its handle. Nothing is shown; it only
// exercises the device-control path of the transport.

#include <string>

#include "env/operation_status.h"

namespace ostrel {

// Posts the status "Test", opens `device_path` (without a path: the USB device search)
// and asks a usbfs node for its connection information. A missing device or a handle
// that is no usbfs node makes the request fail silently. Returns whether the request
// was answered (for tests; the window shows nothing).
bool RunDeviceControlTest(TUserInterface ui, const std::string& device_path);

}  // namespace ostrel
