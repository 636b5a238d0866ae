#include "fxsim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "calculator_session.h"
#include "fxsim/packet.h"
#include "line_schedule.h"
#include "line_speed.h"
#include "unique_fd.h"

namespace fxsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFlashSeed = 0x9860;
constexpr std::uint32_t kRamSeed = 0x0512;
constexpr int kMaxBlocks = 0xFFFF;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

bool IsSupportedBaud(int baud) { return baud == 9600 || baud == 115200; }

// Bytes queued for one link, released no earlier than `not_before`.
struct Chunk {
  Bytes bytes;
  std::size_t sent = 0;
  Clock::time_point not_before;
  int baud_after = 0;       // the calculator's new serial speed once this is out
  bool disconnect = false;  // close the link when this chunk is reached
  bool restart = false;     // the calculator restarts when this chunk is reached
  bool reconnect = false;   // USB: the connection closes when this chunk is reached
};

// One link to the PC: a USB connection or the serial pty.
struct Link {
  Link(Endpoint e, UniqueFd f, CalculatorSession s)
      : endpoint(e), fd(std::move(f)), session(std::move(s)) {}

  Endpoint endpoint;
  UniqueFd fd;
  PacketReader reader;
  CalculatorSession session;
  std::deque<Chunk> out;
  // A serial line at the line rate: bytes take their time on the wire both ways. The
  // calculator acts on a packet once its last byte is through, and the PC gets each byte
  // of an answer once it is through.
  bool paced = false;
  LineSchedule to_pc;
  LineSchedule from_pc;
  std::optional<std::size_t> last_logged;

  // When the next queued byte may go out (nullopt: nothing queued).
  std::optional<Clock::time_point> Due() const {
    if (out.empty()) return std::nullopt;
    const Chunk& next = out.front();
    if (!paced) return next.not_before;
    if (next.sent == next.bytes.size()) return std::max(next.not_before, to_pc.Free());
    return to_pc.NextThrough(next.not_before, session.Baud());
  }
};

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) ThrowErrno("fcntl");
}

}  // namespace

class Simulator::Impl {
 public:
  explicit Impl(SimConfig config);
  ~Impl() { Stop(); }

  std::string StartUsb(std::string socket_path);
  std::string StartSerial();
  void EnterReceiveMode();
  bool InReceiveMode();
  void Stop();

  std::vector<Packet> ReceivedPackets() const {
    std::lock_guard lock(mu_);
    return log_;
  }
  Bytes ReceivedBytes() const {
    std::lock_guard lock(mu_);
    return received_;
  }
  int CurrentBaud() const {
    std::lock_guard lock(mu_);
    return serial_baud_;
  }
  Counters GetCounters() const {
    std::lock_guard lock(mu_);
    return counters_;
  }
  const Bytes& Flash() const { return unit_.Flash(); }
  const Bytes& Ram() const { return unit_.Ram(); }
  UnitStatus Status() const {
    std::lock_guard lock(mu_);
    return unit_.Status();
  }

 private:
  void Run();
  void EnsureThread();
  void Wake();
  void UpdateReceiveMode(Clock::time_point now);
  void EnterReceiveModeLocked();
  std::optional<Clock::duration> PollTimeout(Clock::time_point now) const;
  void Accept();
  void ReadFrom(std::unique_ptr<Link>& slot);
  void Handle(Link& link, const Packet& packet, Clock::time_point at);
  void Queue(Link& link, Reaction reaction, Clock::time_point at);
  void Flush(std::unique_ptr<Link>& slot);
  void CloseLink(std::unique_ptr<Link>& slot);
  // The calculator restarts: the links drop, receive mode comes back later.
  void Restart(Clock::time_point now);
  // A socket at the USB path that is bound but does not listen: connections are refused.
  void BindUsb();
  CalculatorSession NewSession(Endpoint endpoint);

  SimConfig config_;
  const Clock::time_point created_ = Clock::now();

  std::mutex stop_mu_;
  mutable std::mutex mu_;
  FaultPlan plan_;
  CalculatorUnit unit_;
  bool receive_mode_ = false;
  std::optional<Clock::time_point> restart_until_;  // a restart ends then
  bool stopping_ = false;
  bool stopped_ = false;
  std::thread thread_;
  UniqueFd wake_;

  UniqueFd usb_listen_;
  bool usb_listening_ = false;
  std::string usb_path_;
  std::pair<dev_t, ino_t> usb_inode_{};
  std::string usb_temp_dir_;
  std::unique_ptr<Link> usb_link_;

  bool serial_started_ = false;
  std::unique_ptr<Link> serial_link_;
  UniqueFd serial_slave_;  // held open so the master never sees a hang-up between sessions
  int serial_baud_;

  std::vector<Packet> log_;
  Bytes received_;
  Counters counters_;
};

namespace {

Bytes OrPattern(Bytes bytes, std::size_t size, std::uint32_t seed) {
  return bytes.empty() ? GeneratePattern(size, seed) : bytes;
}

}  // namespace

Simulator::Impl::Impl(SimConfig config)
    : config_(std::move(config)),
      plan_(config_.faults),
      unit_(OrPattern(std::move(config_.flash), config_.flash_size, kFlashSeed),
            OrPattern(std::move(config_.ram), config_.ram_size, kRamSeed), config_.device_info, config_.program,
            config_.report),
      serial_baud_(config_.initial_baud) {
  if (!IsSupportedBaud(config_.initial_baud)) {
    throw std::invalid_argument("initial serial speed must be 9600 or 115200");
  }
  const auto blocks = [&](std::span<const std::uint8_t> image) {
    return (image.size() + kBlockPayload - 1) / kBlockPayload +
           static_cast<std::size_t>(plan_.ExtraBlocks()) + 1;
  };
  if (blocks(unit_.Flash()) > kMaxBlocks || blocks(unit_.Ram()) > kMaxBlocks) {
    throw std::invalid_argument("image too large for four-digit block numbers");
  }
  if (config_.receive_mode_delay_ms == 0) receive_mode_ = true;
  wake_.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!wake_) ThrowErrno("eventfd");
}

CalculatorSession Simulator::Impl::NewSession(Endpoint endpoint) {
  return CalculatorSession(endpoint, unit_, plan_, serial_baud_);
}

std::string Simulator::Impl::StartUsb(std::string socket_path) {
  std::lock_guard lock(mu_);
  if (stopped_ || stopping_) throw std::logic_error("simulator stopped");
  if (usb_listen_) throw std::logic_error("USB endpoint already started");
  if (!config_.usb_port) throw std::invalid_argument("this calculator has no USB port, only the 3-pin serial port");
  if (socket_path.empty()) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/fxsim-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ThrowErrno("mkdtemp");
    usb_temp_dir_ = pattern;
    socket_path = pattern + "/usb";
  }
  if (socket_path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    throw std::invalid_argument("socket path too long: " + socket_path);
  }
  struct stat info{};
  if (lstat(socket_path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
    unlink(socket_path.c_str());  // a stale endpoint of an earlier run
  }
  usb_path_ = socket_path;
  BindUsb();
  UpdateReceiveMode(Clock::now());
  if (receive_mode_) EnterReceiveModeLocked();
  EnsureThread();
  Wake();
  return usb_path_;
}

std::string Simulator::Impl::StartSerial() {
  std::lock_guard lock(mu_);
  if (stopped_ || stopping_) throw std::logic_error("simulator stopped");
  if (serial_started_) throw std::logic_error("serial endpoint already started");
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master) ThrowErrno("posix_openpt");
  if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) ThrowErrno("unlockpt");
  char name[256];
  if (ptsname_r(master.get(), name, sizeof(name)) != 0) ThrowErrno("ptsname");
  SetNonBlocking(master.get());
  UniqueFd slave(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!slave) ThrowErrno(std::string("open ") + name);
  termios settings{};
  if (tcgetattr(slave.get(), &settings) != 0) ThrowErrno("tcgetattr");
  cfmakeraw(&settings);
  cfsetispeed(&settings, SpeedConstant(serial_baud_));
  cfsetospeed(&settings, SpeedConstant(serial_baud_));
  if (tcsetattr(slave.get(), TCSANOW, &settings) != 0) ThrowErrno("tcsetattr");
  serial_slave_ = std::move(slave);
  serial_link_ = std::make_unique<Link>(Endpoint::kSerial, std::move(master),
                                        NewSession(Endpoint::kSerial));
  serial_link_->paced = config_.line_rate_throttle;
  serial_started_ = true;
  EnsureThread();
  Wake();
  return name;
}

void Simulator::Impl::BindUsb() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, usb_path_.c_str(), usb_path_.size() + 1);
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) ThrowErrno("socket");
  // Bound but not listening: connect() is refused until receive mode starts.
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ThrowErrno("bind " + usb_path_);
  }
  struct stat bound{};
  if (lstat(usb_path_.c_str(), &bound) == 0) usb_inode_ = {bound.st_dev, bound.st_ino};
  usb_listen_ = std::move(fd);
  usb_listening_ = false;
}

void Simulator::Impl::Restart(Clock::time_point now) {
  receive_mode_ = false;
  restart_until_ = now + std::chrono::milliseconds(std::max(unit_.Program().restart_ms, 0));
  usb_link_.reset();
  if (usb_listen_) {
    // A new socket at the path, refusing connections: the old one forgets its backlog.
    usb_listen_.reset();
    unlink(usb_path_.c_str());
    BindUsb();
  }
  if (serial_link_) {
    // The calculator starts afresh at 9600 baud; the cable stays plugged in.
    serial_baud_ = 9600;
    UniqueFd fd = std::move(serial_link_->fd);
    serial_link_ = std::make_unique<Link>(Endpoint::kSerial, std::move(fd), NewSession(Endpoint::kSerial));
  }
}

void Simulator::Impl::EnterReceiveMode() {
  std::lock_guard lock(mu_);
  EnterReceiveModeLocked();
  Wake();
}

bool Simulator::Impl::InReceiveMode() {
  std::lock_guard lock(mu_);
  UpdateReceiveMode(Clock::now());
  return receive_mode_;
}

void Simulator::Impl::UpdateReceiveMode(Clock::time_point now) {
  if (restart_until_) {
    if (now < *restart_until_) return;
    restart_until_.reset();
    unit_.FinishRestart();
    EnterReceiveModeLocked();
    return;
  }
  if (receive_mode_ || config_.receive_mode_delay_ms < 0) return;
  if (now >= created_ + std::chrono::milliseconds(config_.receive_mode_delay_ms)) {
    EnterReceiveModeLocked();
  }
}

void Simulator::Impl::EnterReceiveModeLocked() {
  receive_mode_ = true;
  if (usb_listen_ && !usb_listening_) {
    // A small backlog: a PC reconnecting right after closing waits to be accepted
    // instead of being refused while the old connection is wound up.
    if (listen(usb_listen_.get(), 4) != 0) ThrowErrno("listen");
    usb_listening_ = true;
  }
}

void Simulator::Impl::Stop() {
  std::lock_guard stopping(stop_mu_);  // one Stop at a time: only one may join the thread
  {
    std::lock_guard lock(mu_);
    if (stopped_) return;
    stopping_ = true;
    Wake();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mu_);
  usb_link_.reset();
  serial_link_.reset();
  serial_slave_.reset();
  if (usb_listen_) {
    usb_listen_.reset();
    // Only our own socket file: another simulator may have taken the path over since.
    struct stat info{};
    if (lstat(usb_path_.c_str(), &info) == 0 &&
        std::pair(info.st_dev, info.st_ino) == usb_inode_) {
      unlink(usb_path_.c_str());
    }
  }
  if (!usb_temp_dir_.empty()) rmdir(usb_temp_dir_.c_str());
  stopped_ = true;
}

void Simulator::Impl::EnsureThread() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void Simulator::Impl::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof(one));
}

std::optional<Clock::duration> Simulator::Impl::PollTimeout(Clock::time_point now) const {
  std::optional<Clock::time_point> next;
  const auto consider = [&](std::optional<Clock::time_point> t) {
    if (t && (!next || *t < *next)) next = t;
  };
  if (!receive_mode_ && config_.receive_mode_delay_ms >= 0) {
    consider(created_ + std::chrono::milliseconds(config_.receive_mode_delay_ms));
  }
  consider(restart_until_);
  if (usb_link_) consider(usb_link_->Due());
  if (serial_link_) consider(serial_link_->Due());
  if (!next) return std::nullopt;
  if (*next <= now) return Clock::duration::zero();
  // To the nanosecond: a paced line wakes for each byte as it is through, not a whole
  // millisecond later.
  return std::min<Clock::duration>(*next - now, std::chrono::seconds(60));
}

void Simulator::Impl::Run() {
  std::unique_lock lock(mu_);
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    UpdateReceiveMode(now);
    std::vector<pollfd> fds{{wake_.get(), POLLIN, 0}};
    const auto add = [&](int fd, short events) {
      fds.push_back({fd, events, 0});
      return fds.size() - 1;
    };
    const auto write_events = [&](const Link& link) -> short {
      const auto due = link.Due();
      return due && *due <= now ? POLLOUT : 0;
    };
    std::size_t listen_at = 0, usb_at = 0, serial_at = 0;
    if (usb_listening_ && !usb_link_) listen_at = add(usb_listen_.get(), POLLIN);
    if (usb_link_) usb_at = add(usb_link_->fd.get(), POLLIN | write_events(*usb_link_));
    if (serial_link_) serial_at = add(serial_link_->fd.get(), POLLIN | write_events(*serial_link_));
    const std::optional<Clock::duration> timeout = PollTimeout(now);
    timespec wait{};
    if (timeout) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*timeout).count();
      wait.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      wait.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }

    lock.unlock();
    const int ready = ppoll(fds.data(), fds.size(), timeout ? &wait : nullptr, nullptr);
    lock.lock();
    if (stopping_) break;
    if (ready < 0) continue;  // EINTR

    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = read(wake_.get(), &count, sizeof(count));
    }
    if (listen_at != 0 && fds[listen_at].revents != 0) Accept();
    if (usb_at != 0 && fds[usb_at].revents != 0 && usb_link_) ReadFrom(usb_link_);
    if (serial_at != 0 && (fds[serial_at].revents & POLLIN) && serial_link_) ReadFrom(serial_link_);
    if (usb_link_) Flush(usb_link_);
    if (serial_link_) Flush(serial_link_);
  }
}

void Simulator::Impl::Accept() {
  UniqueFd fd(accept4(usb_listen_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd) return;  // the PC gave up in between
  usb_link_ = std::make_unique<Link>(Endpoint::kUsb, std::move(fd), NewSession(Endpoint::kUsb));
  ++counters_.connections;
}

void Simulator::Impl::ReadFrom(std::unique_ptr<Link>& slot) {
  Link& link = *slot;
  std::uint8_t buffer[4096];
  const ssize_t got = read(link.fd.get(), buffer, sizeof(buffer));
  if (got < 0) {
    if (errno == EAGAIN || errno == EINTR) return;
    if (link.endpoint == Endpoint::kUsb) CloseLink(slot);
    return;
  }
  if (got == 0) {
    // The PC closed its end: the session is over, the next connection starts afresh.
    if (link.endpoint == Endpoint::kUsb) CloseLink(slot);
    return;
  }
  const std::size_t count = static_cast<std::size_t>(got);
  // A serial byte sent at another speed than the calculator's arrives as garbage; the
  // model drops it. Outside receive mode the calculator does not listen at all.
  if (!receive_mode_ ||
      (link.endpoint == Endpoint::kSerial && LineBaud(link.fd.get()) != link.session.Baud())) {
    counters_.bytes_dropped += count;
    return;
  }
  counters_.bytes_received += count;
  received_.insert(received_.end(), buffer, buffer + count);
  // On a paced line the PC's bytes are through only after their time on the wire; the
  // calculator answers what they complete from then on.
  const Clock::time_point now = Clock::now();
  const Clock::time_point through = link.paced ? link.from_pc.Send(count, now, link.session.Baud()) : now;
  link.reader.Feed(std::span(buffer, count));
  const auto note_late_nul = [&] {
    if (link.reader.TakeTrailingNul() && link.last_logged) {
      log_[*link.last_logged].trailing_nul = true;
    }
  };
  while (std::optional<Packet> packet = link.reader.Next()) {
    note_late_nul();
    packet->endpoint = link.endpoint;
    link.last_logged = log_.size();
    log_.push_back(std::move(*packet));
    Handle(link, log_.back(), through);
  }
  note_late_nul();
}

void Simulator::Impl::Handle(Link& link, const Packet& packet, Clock::time_point at) {
  Queue(link, link.session.OnPacket(packet), at);
}

// The reaction's packets go out from `at` on (those with data after the answer latency).
void Simulator::Impl::Queue(Link& link, Reaction reaction, Clock::time_point at) {
  const Clock::time_point now = at;
  const auto latency = std::chrono::milliseconds(std::max(config_.answer_latency_ms, 0));
  for (OutgoingPacket& p : reaction.packets) {
    ++counters_.packets_sent;
    if (p.is_block) ++counters_.blocks_sent;
    const auto work = std::chrono::milliseconds(std::max(p.work_ms, 0));
    link.out.push_back({std::move(p.bytes), 0, now + std::max(p.has_data ? latency : work.zero(), work)});
  }
  if (reaction.switch_to_baud != 0) {
    if (link.out.empty()) {
      link.session.SetBaud(reaction.switch_to_baud);
      serial_baud_ = reaction.switch_to_baud;
    } else {
      link.out.back().baud_after = reaction.switch_to_baud;
    }
  }
  if (reaction.disconnect) link.out.push_back({{}, 0, now, 0, true});
  if (reaction.restart) link.out.push_back({{}, 0, now, 0, false, true});
  if (reaction.reconnect) link.out.push_back({{}, 0, now, 0, false, false, true});
}

void Simulator::Impl::Flush(std::unique_ptr<Link>& slot) {
  Link& link = *slot;
  const bool serial = link.endpoint == Endpoint::kSerial;
  while (!link.out.empty()) {
    const Clock::time_point now = Clock::now();
    if (*link.Due() > now) return;
    Chunk& chunk = link.out.front();
    if (chunk.sent < chunk.bytes.size()) {
      if (serial && LineBaud(link.fd.get()) != link.session.Baud()) {
        chunk.sent = chunk.bytes.size();  // sent at a speed the PC does not listen at: lost
      } else {
        std::size_t length = chunk.bytes.size() - chunk.sent;
        if (link.paced) {
          // Every byte that is through by now, however late this pass comes: the line
          // keeps its schedule.
          length = static_cast<std::size_t>(link.to_pc.ThroughBy(now, chunk.not_before, link.session.Baud(), length));
          if (length == 0) return;
        }
        // A PC that closed its end of the USB stand-in must not end this process with
        // SIGPIPE: the socket write says so with an error instead.
        const ssize_t written = serial ? write(link.fd.get(), chunk.bytes.data() + chunk.sent, length)
                                       : send(link.fd.get(), chunk.bytes.data() + chunk.sent, length, MSG_NOSIGNAL);
        if (written < 0) {
          if (errno == EAGAIN || errno == EINTR) return;
          if (!serial) CloseLink(slot);
          return;
        }
        chunk.sent += static_cast<std::size_t>(written);
        counters_.bytes_sent += static_cast<std::uint64_t>(written);
        if (link.paced) link.to_pc.Sent(static_cast<std::uint64_t>(written));
        if (chunk.sent < chunk.bytes.size()) continue;
      }
    }
    if (chunk.baud_after != 0) {
      link.session.SetBaud(chunk.baud_after);
      serial_baud_ = chunk.baud_after;
    }
    if (chunk.disconnect) {
      CloseLink(slot);
      return;
    }
    if (chunk.restart) {
      Restart(now);
      return;
    }
    if (chunk.reconnect && !serial) {
      slot.reset();  // the program re-initialises USB; the PC connects again
      return;
    }
    link.out.pop_front();
  }
}

void Simulator::Impl::CloseLink(std::unique_ptr<Link>& slot) {
  // A restart the PC did not wait for happens all the same.
  const bool restart = std::any_of(slot->out.begin(), slot->out.end(), [](const Chunk& c) { return c.restart; });
  if (slot->endpoint == Endpoint::kSerial) {
    // Pulling the serial cable: the pty goes away for good.
    serial_slave_.reset();
  }
  slot.reset();
  if (restart) Restart(Clock::now());
}

Simulator::Simulator(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}
Simulator::~Simulator() = default;
std::string Simulator::StartUsb(std::string socket_path) { return impl_->StartUsb(std::move(socket_path)); }
std::string Simulator::StartSerial() { return impl_->StartSerial(); }
void Simulator::EnterReceiveMode() { impl_->EnterReceiveMode(); }
bool Simulator::InReceiveMode() const { return impl_->InReceiveMode(); }
void Simulator::Stop() { impl_->Stop(); }
std::vector<Packet> Simulator::ReceivedPackets() const { return impl_->ReceivedPackets(); }
std::vector<std::uint8_t> Simulator::ReceivedBytes() const { return impl_->ReceivedBytes(); }
int Simulator::CurrentBaud() const { return impl_->CurrentBaud(); }
Counters Simulator::GetCounters() const { return impl_->GetCounters(); }
const std::vector<std::uint8_t>& Simulator::Flash() const { return impl_->Flash(); }
const std::vector<std::uint8_t>& Simulator::Ram() const { return impl_->Ram(); }
UnitStatus Simulator::Status() const { return impl_->Status(); }

}  // namespace fxsim
