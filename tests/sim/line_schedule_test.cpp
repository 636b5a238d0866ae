// The serial line model of the simulator: when bytes are through, at ten bits per byte, on
// a schedule that neither drifts nor loses time however late it is looked at.

#include "line_schedule.h"

#include <gtest/gtest.h>

namespace fxsim {
namespace {

using Clock = LineSchedule::Clock;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

const Clock::time_point kT0 = Clock::time_point{} + std::chrono::hours(1);

TEST(LineSchedule, ByteTimesAreTenBitsPerBaud) {
  struct Case {
    std::uint64_t bytes;
    int baud;
    nanoseconds time;
  } const cases[] = {
      {1, 9600, nanoseconds(1'041'667)},        {1, 115200, nanoseconds(86'806)},
      {11520, 115200, nanoseconds(1'000'000'000)}, {3'000'000, 115200, nanoseconds(260'416'666'667)},
      {0, 115200, nanoseconds(0)},               {5, 0, nanoseconds(0)},
  };
  for (const Case& c : cases) EXPECT_EQ(LineSchedule::LineTime(c.bytes, c.baud), c.time) << c.bytes << "@" << c.baud;
}

TEST(LineSchedule, ALateLookTakesEveryByteThatIsThroughAndKeepsTheSchedule) {
  LineSchedule line;
  // 11520 bytes at 115200 take exactly one second; looked at in uneven, late steps.
  std::uint64_t sent = 0;
  for (auto at = kT0; sent < 11520; at += microseconds(1733)) {
    const std::uint64_t through = line.ThroughBy(at, kT0, 115200, 11520 - sent);
    line.Sent(through);
    sent += through;
    EXPECT_LE(LineSchedule::LineTime(sent, 115200), at - kT0) << "a byte went out before it was through";
  }
  EXPECT_EQ(line.Free(), kT0 + std::chrono::seconds(1)) << "no drift";
  EXPECT_EQ(line.ThroughBy(kT0 + std::chrono::seconds(5), kT0, 115200, 0), 0u);
}

TEST(LineSchedule, AnIdleLineStartsAfreshAndTheNextByteIsDueOneByteTimeLater) {
  LineSchedule line;
  const auto byte = LineSchedule::LineTime(1, 9600);
  EXPECT_EQ(line.Send(6, kT0, 9600), kT0 + LineSchedule::LineTime(6, 9600));
  // Queued while the line is still busy: it follows on without a gap.
  EXPECT_EQ(line.NextThrough(kT0, 9600), kT0 + LineSchedule::LineTime(7, 9600));
  // Queued after the line went idle: it starts when it is queued.
  const auto later = kT0 + std::chrono::seconds(2);
  EXPECT_EQ(line.NextThrough(later, 9600), later + byte);
  EXPECT_EQ(line.ThroughBy(later + byte - nanoseconds(1), later, 9600, 10), 0u);
  EXPECT_EQ(line.ThroughBy(later + byte, later, 9600, 10), 1u) << "due is when the byte is through";
}

TEST(LineSchedule, ASpeedChangeTimesLaterBytesAtTheNewSpeed) {
  LineSchedule line;
  const auto free = line.Send(10, kT0, 9600);
  EXPECT_EQ(line.Send(10, kT0, 115200), free + LineSchedule::LineTime(10, 115200));
}

}  // namespace
}  // namespace fxsim
