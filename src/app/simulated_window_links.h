#pragma once
// The window's links to a simulated calculator: the cable set to the simulator's endpoint.

#include <string>

#include "app/main_window.h"

namespace ostrel {

// Over USB (`serial` false) the operations reach `endpoint` as their USB device and the cable
// starts as USB; over the serial line the endpoint is the one entry of the port list, chosen,
// and the cable starts as the 3-pin cable.
TWindowLinks SimulatedWindowLinks(const std::string& endpoint, bool serial);

}  // namespace ostrel
