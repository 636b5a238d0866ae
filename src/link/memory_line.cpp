#include "link/memory_line.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "link/diagnostic_lines.h"
#include "link/fd_io.h"

namespace ostrel {

namespace {

// What the two ends share: one queue for each direction.
struct TMemoryLine {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::uint8_t> queue[2];  // queue[i]: bytes for end i
  bool open[2] = {true, true};
};

class TMemoryLineEnd : public TPort {
 public:
  TMemoryLineEnd(std::shared_ptr<TMemoryLine> line, int side) : line_(std::move(line)), side_(side) {}
  ~TMemoryLineEnd() override {
    std::lock_guard lock(line_->mutex);
    line_->open[side_] = false;
    line_->arrived.notify_all();
  }
  TMemoryLineEnd(const TMemoryLineEnd&) = delete;
  TMemoryLineEnd& operator=(const TMemoryLineEnd&) = delete;

  std::uint32_t Write(const std::uint8_t* data, std::uint32_t length) override {
    std::lock_guard lock(line_->mutex);
    if (!line_->open[Other()]) {
      NoteGone();
      return 0;
    }
    line_->queue[Other()].insert(line_->queue[Other()].end(), data, data + length);
    line_->arrived.notify_all();
    return length;
  }

  std::size_t ReadBytes(std::uint8_t* destination, std::size_t capacity) override {
    std::unique_lock lock(line_->mutex);
    std::deque<std::uint8_t>& incoming = line_->queue[side_];
    line_->arrived.wait_for(lock, std::chrono::milliseconds(kReadWaitMs),
                            [&] { return !incoming.empty() || !line_->open[Other()]; });
    if (incoming.empty()) {
      if (!line_->open[Other()]) {
        NoteGone();
        lock.unlock();
        IdleReadWait();
      }
      return 0;
    }
    const std::size_t count = std::min(capacity, incoming.size());
    std::copy_n(incoming.begin(), count, destination);
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
  }

  std::size_t ReadPending(std::uint8_t* destination, std::size_t capacity) override {
    std::lock_guard lock(line_->mutex);
    std::deque<std::uint8_t>& incoming = line_->queue[side_];
    const std::size_t count = std::min(capacity, incoming.size());
    std::copy_n(incoming.begin(), count, destination);
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
  }

  bool Gone() const override {
    std::lock_guard lock(line_->mutex);
    return !line_->open[Other()] && line_->queue[side_].empty();
  }

  int Handle() const override { return 0; }  // open from the start; there is no descriptor
  std::string DevicePath() const override { return "memory line"; }
  std::vector<std::string> TakeDiagnostics() override { return diagnostics_.Take(); }

 private:
  int Other() const { return 1 - side_; }
  void NoteGone() {
    if (gone_noted_) return;
    gone_noted_ = true;
    diagnostics_.Add("Memory line: the other end is gone; the line stays silent.");
  }

  std::shared_ptr<TMemoryLine> line_;
  int side_;
  bool gone_noted_ = false;
  TDiagnosticLines diagnostics_;
};

}  // namespace

TMemoryLinePair MakeMemoryLinePair() {
  auto line = std::make_shared<TMemoryLine>();
  return {std::make_unique<TMemoryLineEnd>(line, 0), std::make_unique<TMemoryLineEnd>(line, 1)};
}

}  // namespace ostrel
