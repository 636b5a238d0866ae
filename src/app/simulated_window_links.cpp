#include "app/simulated_window_links.h"

#include <vector>

namespace ostrel {

TWindowLinks SimulatedWindowLinks(const std::string& endpoint, bool serial) {
  TWindowLinks links;
  if (serial) {
    links.target.serial_port = endpoint;
    links.list_com_ports = [endpoint](std::vector<std::string>& ports, std::string& chosen) {
      ports = {endpoint};
      chosen = endpoint;
    };
    links.initial_cable = 0;
  } else {
    links.target.usb_device = endpoint;
    links.initial_cable = 1;
  }
  return links;
}

}  // namespace ostrel
