#pragma once
// Waiting without blocking the user interface and without spinning a core.

#include <chrono>
#include <functional>

#include "env/operation_status.h"

namespace ostrel {

// The longest stretch during which pending window messages are not run.
inline constexpr std::chrono::milliseconds kMessageInterval{50};

// Sleeps for `duration` in short steps, letting the user interface run its messages at
// least every kMessageInterval. Returns early (false) as soon as the user asks to stop or
// `stop_early` says so; true when the whole duration passed.
bool WaitWithMessages(const TUserInterface& ui, std::chrono::milliseconds duration,
                      const std::function<bool()>& stop_early = {});

}  // namespace ostrel
