#include "protocol/message_wait.h"

#include <algorithm>
#include <thread>

namespace ostrel {

bool WaitWithMessages(const TUserInterface& ui, std::chrono::milliseconds duration,
                      const std::function<bool()>& stop_early) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + duration;
  for (;;) {
    ui.ProcessMessages();
    if (StopRequest() != stopNone || (stop_early && stop_early())) return false;
    const auto now = Clock::now();
    if (now >= end) return true;
    const auto step = std::min<Clock::duration>(end - now, kMessageInterval);
    std::this_thread::sleep_for(step);
  }
}

}  // namespace ostrel
