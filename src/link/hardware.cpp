#include "link/hardware.h"

#include "link/serial_port.h"
#include "link/usb_device.h"

namespace ostrel {

THardware::THardware(LinkKind kind, const std::string& connection) : kind_(kind) {
  if (kind == LinkKind::Usb) {
    port_ = std::make_unique<TUSB>(connection);
  } else {
    port_ = std::make_unique<tSio>(connection);
  }
}

THardware::THardware(LinkKind kind, std::unique_ptr<TPort> port) : kind_(kind), port_(std::move(port)) {}

THardware::~THardware() = default;

}  // namespace ostrel
