// TFX9860sio: construction, the channel, diagnostics lines and the receive loop.

#include <array>
#include <thread>

#include "base/error.h"
#include "base/text.h"
#include "link/connection_string.h"
#include "protocol/fx9860sio.h"
#include "protocol/packet_trace.h"
#include "protocol/message_wait.h"

namespace ostrel {

namespace {
using Clock = std::chrono::steady_clock;
// A channel that answers "no byte" faster than this is not waiting by itself; the receive
// loop then pauses for a moment so that it never spins a core.
constexpr auto kMinimumPoll = std::chrono::milliseconds(1);
}  // namespace

TFX9860sio::TFX9860sio(LinkKind kind, TUserInterface ui, TLinkTarget target)
    : kind_(kind), ui_(ui), target_(std::move(target)), timings_(target_.timings), timeout_(timings_.answer) {
  if (kind_ == LinkKind::Serial) port_name_ = target_.serial_port.value_or("");
}

TFX9860sio::~TFX9860sio() = default;

std::string TFX9860sio::SerialConnection(int baud_rate) const {
  return SystemSerialConnection(port_name_, baud_rate);
}

std::string TFX9860sio::UsbConnection() const {
  // The system's string ends with ";", so a device name is simply appended.
  std::string connection(kSystemUsbConnection);
  if (target_.usb_device) connection += "DEVICENAME=" + *target_.usb_device;
  return connection;
}

int TFX9860sio::Open(const std::string& connection) {
  Close();
  channel_ = target_.port_factory ? std::make_unique<THardware>(kind_, target_.port_factory(kind_, connection))
                                  : std::make_unique<THardware>(kind_, connection);
  discard_stale_once_ = true;
  // The settle time counts from the last byte of the exchange before (the calculator takes
  // a new line speed after its answer), and only a request waits for it: a channel that is
  // closed again at once, or the first of a session, waits for nothing.
  if (last_activity_) settled_at_ = *last_activity_ + timings_.open_settle;
  open_diagnostics_ = ReportChannelDiagnostics();
  return 0;
}

void TFX9860sio::Attach(std::unique_ptr<THardware> channel) {
  Close();
  channel_ = std::move(channel);
  discard_stale_once_ = true;
}

int TFX9860sio::Close() {
  if (channel_) {
    ReportChannelDiagnostics();
    channel_.reset();
  }
  return 0;
}

std::vector<std::string> TFX9860sio::ReportChannelDiagnostics() {
  if (!channel_) return {};
  std::vector<std::string> lines = channel_->TakeDiagnostics();
  for (const auto& line : lines) Report(line);
  return lines;
}

void TFX9860sio::EnsureOpen() const {
  if (!channel_) throw Error("comx not assigned");
}

void TFX9860sio::Report(const std::string& text) const {
  if (ui_.notifier) ui_.Notify(nfLogLine, text);
}

std::uint64_t TFX9860sio::TakeReceivedCount() {
  std::uint64_t count = received_count_;
  received_count_ = 0;
  return count;
}

int TFX9860sio::ReceiveBytes(int count) {
  EnsureOpen();
  const bool wants_data = count > 0;
  receive_buffer_.assign(wants_data ? static_cast<std::size_t>(count) : 1, 0);
  const auto timeout = wants_data ? timeout_ : timings_.silence;
  Report(wants_data ? "...waiting for answer!" : "...waiting for silence!");
  last_timeout_ = timeout;
  last_end_ = TLinkEnd::None;

  // The channel hands out what has arrived in chunks; the clock is read once per chunk (or
  // per empty wait), and the deadline moves whenever bytes were taken: an inactivity
  // time-out, as if it were moved with every byte. A stop request or a port that lost its
  // device ends the wait at once.
  std::size_t stored = 0;
  std::array<std::uint8_t, 512> discarded{};
  auto now = Clock::now();
  // Silence counts from the last byte that came: the line has been quiet since then.
  auto deadline = now + timeout;
  if (!wants_data && last_activity_ && *last_activity_ + timeout < deadline) {
    deadline = std::max(now, *last_activity_ + timeout);
  }
  auto next_messages = now + kMessageInterval;
  while (stored < receive_buffer_.size()) {
    if (StopRequest() != stopNone) {
      last_end_ = TLinkEnd::Stopped;
      Report("...stopped!");
      break;
    }
    const auto polled_at = now;
    const std::size_t got = wants_data
                                ? channel_->ReadBytes(receive_buffer_.data() + stored, receive_buffer_.size() - stored)
                                : channel_->ReadBytes(discarded.data(), discarded.size());
    now = Clock::now();
    if (got > 0) {
      received_count_ += got;
      last_activity_ = now;
      if (wants_data) {
        if (target_.trace) {
          const auto* first = receive_buffer_.data() + stored;
          traced_answer_.insert(traced_answer_.end(), first, first + got);
        }
        stored += got;
      } else {
        receive_buffer_[0] = discarded[got - 1];
        if (target_.trace) target_.trace->Record(TraceDirection::Discarded, {discarded.data(), got});
      }
      deadline = now + timeout;
    } else if (channel_->Gone()) {
      last_end_ = TLinkEnd::Gone;
      Report("...link lost!");
      break;
    } else if (now - polled_at < kMinimumPoll) {
      std::this_thread::sleep_for(kMinimumPoll);
      now = Clock::now();
    }
    if (now > deadline) {
      if (wants_data) last_end_ = stored == 0 ? TLinkEnd::Silent : TLinkEnd::BrokenOff;
      Report("...timeout!");
      break;
    }
    if (now >= next_messages) {
      ui_.ProcessMessages();
      next_messages = now + kMessageInterval;
    }
  }
  // A shortened time-out (the checks around a baud change) holds for one reception only.
  timeout_ = timings_.answer;
  return static_cast<int>(stored);
}

std::vector<std::uint8_t> TFX9860sio::TakeStaleBytes() {
  EnsureOpen();
  // Bounded: a line that keeps sending is not read for ever here.
  constexpr std::size_t kMostStaleBytes = 64 * 1024;
  std::vector<std::uint8_t> stale;
  std::array<std::uint8_t, 512> chunk{};
  while (stale.size() < kMostStaleBytes) {
    const std::size_t got = channel_->ReadPending(chunk.data(), chunk.size());
    if (got == 0) break;
    stale.insert(stale.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
  }
  if (!stale.empty()) {
    received_count_ += stale.size();
    if (target_.trace) target_.trace->Record(TraceDirection::Discarded, stale);
  }
  return stale;
}

int TFX9860sio::WaitForSilence() { return ReceiveBytes(-1); }

}  // namespace ostrel
