#pragma once
// The end of every operation a front end starts: a pending stop is reported and cleared.

#include <cstdint>

#include "env/operation_status.h"

namespace ostrel {

// The advice added to a stop report while the calculator may still be held in a session.
inline constexpr const char* kResetAdvice = "You should reset your calculator!\r\nUse the RESTART- or P-button.";

// When the stop request is set: posts its reason ("Manually cancelled!", "Automatically
// cancelled!", "Unknown cancel reason!") as a diagnostics line, shows it in a warning box
// and clears the request. With `calculator_held` (the session-active flag was left set)
// the reason is followed by a line break and kResetAdvice. Returns the reason that was
// pending (stopNone when none was).
std::uint8_t FinishOperation(TUserInterface ui, bool calculator_held = false);

}  // namespace ostrel
