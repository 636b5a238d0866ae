#include "app/device_control_test.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include "link/connection_string.h"
#include "link/hardware.h"

namespace ostrel {

bool RunDeviceControlTest(TUserInterface ui, const std::string& device_path) {
  ui.Notify(nfStatus, "Test");
  ui.ProcessMessages();
  // Without overlapped I/O, as the request needs no completion event.
  std::string connection = std::string(kSystemUsbConnection) + "NO_FILE_FLAG_OVERLAPPED=1;";
  if (!device_path.empty()) connection += "DEVICENAME=" + device_path;
  THardware channel(LinkKind::Usb, connection);
  if (channel.Handle() < 0) return false;
  usbdevfs_connectinfo info{};
  return ::ioctl(channel.Handle(), USBDEVFS_CONNECTINFO, &info) == 0;
}

}  // namespace ostrel
