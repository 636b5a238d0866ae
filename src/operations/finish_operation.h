#pragma once
// The end of every operation a front end starts: a pending stop is reported and cleared.

#include <cstdint>

#include "env/operation_status.h"

namespace ostrel {

// When the stop request is set: posts its reason ("Manually cancelled!", "Automatically
// cancelled!", "Unknown cancel reason!") as a diagnostics line, shows it in a warning box
// and clears the request. Returns the reason that was pending (stopNone when none was).
std::uint8_t FinishOperation(TUserInterface ui);

}  // namespace ostrel
