// Link speed and CPU use of the PC side against the simulator (ostrel-sim, run as a child
// process so that only the PC side counts in this process's CPU time). Every figure is a
// ratio of two things measured in the same run:
//   - a throttled serial read-out at 115200 baud against the line-limited maximum for the
//     very blocks that went over the line (framing, escapes and acknowledgements counted,
//     ten bits per byte);
//   - a USB read-out with 30 ms answer latency against 256 bytes per 30 ms;
//   - unthrottled serial and USB read-outs in MB/s;
//   - the CPU time of the PC side as a share of the wall time while it waits for a silent
//     calculator and during the throttled transfer.
// Usage: bench_link_speed [OSTREL-SIM]

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "env/operation_status.h"
#include "operations/image_file.h"
#include "protocol/fx9860sio.h"

namespace {

using Clock = std::chrono::steady_clock;
using ostrel::LinkKind;

constexpr double kBaud = 115200.0;
constexpr std::size_t kBlockPayload = 256;
constexpr std::size_t kAckBytes = 6;
// A data block on the wire: type, subtype, data flag, size, total and number, payload
// (escaped), checksum.
constexpr std::size_t kBlockFraming = 1 + 2 + 1 + 4 + 8 + 2;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The simulator as a child process, for the life of the object.
class SimulatorProcess {
 public:
  SimulatorProcess(const std::string& program, const std::vector<std::string>& options) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& option : options) argv.push_back(const_cast<char*>(option.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    // The endpoints are printed as "usb: PATH" and "serial: PATH", then the output ends
    // only at exit: read line by line until the expected ones are there.
    std::string line;
    char c = 0;
    const std::size_t wanted = options.size() > 0 ? CountEndpoints(options) : 0;
    while (endpoints_.size() < wanted && read(out[0], &c, 1) == 1) {
      if (c != '\n') {
        line += c;
        continue;
      }
      if (line.rfind("usb: ", 0) == 0) usb_ = line.substr(5);
      if (line.rfind("serial: ", 0) == 0) serial_ = line.substr(8);
      endpoints_.push_back(line);
      line.clear();
    }
    close(out[0]);
    if (endpoints_.size() < wanted) throw std::runtime_error("the simulator did not start: " + program);
  }
  ~SimulatorProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  const std::string& Usb() const { return usb_; }
  const std::string& Serial() const { return serial_; }

 private:
  static std::size_t CountEndpoints(const std::vector<std::string>& options) {
    std::size_t count = 0;
    for (const std::string& o : options) count += (o == "--usb" || o == "--serial") ? 1 : 0;
    return count;
  }
  pid_t pid_ = -1;
  std::vector<std::string> endpoints_;
  std::string usb_;
  std::string serial_;
};

// Records when the read-out passes two block numbers (with the CPU time then) and stops it
// after the second.
class WindowNotifier : public ostrel::TNotifier {
 public:
  WindowNotifier(long first, long last) : first_(first), last_(last) {}
  int Notify(ostrel::NotifyCode code, std::int64_t value) override {
    if (code != ostrel::nfProgressPos) return 0;
    if (value == first_) {
      start_ = Clock::now();
      start_cpu_ = CpuSeconds();
    }
    if (value == last_ && start_) {
      end_ = Clock::now();
      end_cpu_ = CpuSeconds();
      ostrel::StopRequest() = ostrel::stopByUser;
    }
    return 0;
  }
  int Notify(ostrel::NotifyCode, const std::string&) override { return 0; }
  void ProcessMessages() override {}

  bool Complete() const { return start_ && end_; }
  double WallSeconds() const { return Seconds(*end_ - *start_); }
  double CpuShare() const { return (end_cpu_ - start_cpu_) / WallSeconds(); }

 private:
  long first_;
  long last_;
  std::optional<Clock::time_point> start_;
  std::optional<Clock::time_point> end_;
  double start_cpu_ = 0;
  double end_cpu_ = 0;
};

ostrel::TLinkTarget TargetOf(LinkKind kind, const std::string& path) {
  ostrel::TLinkTarget target;
  if (kind == LinkKind::Serial) {
    target.serial_port = path;
  } else {
    target.usb_device = path;
  }
  return target;
}

// The RAM the simulated calculator serves: 512 KiB of a fixed pseudo-random pattern, so
// that about one byte in eight needs an escape, as in real contents.
std::vector<std::uint8_t> WriteRamContents(const std::string& path) {
  std::vector<std::uint8_t> ram(0x80000);
  std::mt19937 random(0x0512);
  for (std::uint8_t& byte : ram) byte = static_cast<std::uint8_t>(random());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(ram.data()),
                                              static_cast<std::streamsize>(ram.size()));
  return ram;
}

// Bytes on the wire of the data blocks first+1 .. last of an image (numbered from 1) and
// of the acknowledges that asked for them.
std::uint64_t LineBytesOfBlocks(const std::vector<std::uint8_t>& image, long first, long last) {
  std::uint64_t bytes = 0;
  for (long block = first + 1; block <= last; ++block) {
    const std::size_t begin = static_cast<std::size_t>(block - 1) * kBlockPayload;
    bytes += kBlockFraming + kAckBytes;
    for (std::size_t i = begin; i < begin + kBlockPayload && i < image.size(); ++i) {
      bytes += (image[i] < 0x20 || image[i] == 0x5C) ? 2 : 1;
    }
  }
  return bytes;
}

struct WindowResult {
  double wall = 0;
  double cpu_share = 0;
};

// A RAM read-out over the link, measured between blocks `first` and `last`.
WindowResult MeasureWindow(LinkKind kind, const std::string& path, const std::string& file, long first, long last) {
  WindowNotifier notifier(first, last);
  ostrel::TFX9860sio sio(kind, {&notifier, nullptr}, TargetOf(kind, path));
  ostrel::StopRequest() = ostrel::stopNone;
  if (sio.FStart() != 0) throw std::runtime_error("no session with the simulator");
  ostrel::TImageFile image(file);
  sio.ReceiveRamImage("fls0", image);
  ostrel::StopRequest() = ostrel::stopNone;
  sio.FStop();
  if (!notifier.Complete()) throw std::runtime_error("the read-out ended before block " + std::to_string(last));
  return {notifier.WallSeconds(), notifier.CpuShare()};
}

// A whole flash read-out; MB/s of image bytes.
double MeasureUnthrottled(LinkKind kind, const std::string& path, const std::string& file) {
  ostrel::TFX9860sio sio(kind, {}, TargetOf(kind, path));
  ostrel::StopRequest() = ostrel::stopNone;
  if (sio.FStart() != 0) throw std::runtime_error("no session with the simulator");
  const auto start = Clock::now();
  ostrel::TImageFile image(file);
  sio.ReceiveFlashImage("fls0", image, 0);
  const double seconds = Seconds(Clock::now() - start);
  sio.FStop();
  if (sio.BytesWritten() != sio.ImageSize()) throw std::runtime_error("the read-out was not complete");
  return static_cast<double>(sio.BytesWritten()) / seconds / 1e6;
}

// CPU share while the PC waits for an answer that never comes.
double MeasureSilentWait(LinkKind kind, const std::string& path, std::chrono::milliseconds wait) {
  ostrel::TLinkTarget target = TargetOf(kind, path);
  target.timings.answer = wait;
  ostrel::TFX9860sio sio(kind, {}, target);
  sio.Open(kind == LinkKind::Serial ? sio.SerialConnection(9600) : sio.UsbConnection());
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  sio.ReceiveBytes(4);
  const double share = (CpuSeconds() - cpu) / Seconds(Clock::now() - start);
  sio.Close();
  return share;
}

void Print(const std::string& what, double value, const std::string& unit, const std::string& target,
           const std::string& detail) {
  std::printf("%-44s %8.3f %-10s (target %s)  %s\n", what.c_str(), value, unit.c_str(), target.c_str(),
              detail.c_str());
  std::fflush(stdout);
}

std::string Fixed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string sim = argc > 1 ? argv[1] : OSTREL_SIM_PROGRAM;
  const std::string folder = std::filesystem::temp_directory_path() / ("ostrel-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string file = folder + "/image.bin";
  const std::string ram_file = folder + "/ram.bin";
  const std::vector<std::uint8_t> ram = WriteRamContents(ram_file);
  try {
    {
      constexpr long kFirst = 20, kLast = 420;
      SimulatorProcess calculator(sim, {"--serial", "--throttle", "--ram", ram_file});
      const WindowResult r = MeasureWindow(LinkKind::Serial, calculator.Serial(), file, kFirst, kLast);
      const double line = static_cast<double>(LineBytesOfBlocks(ram, kFirst, kLast)) * 10.0 / kBaud;
      Print("serial 115200 throttled / line-limited maximum", line / r.wall, "", ">= 0.98",
            Fixed(r.wall, 3) + " s for " + std::to_string(kLast - kFirst) + " blocks, line minimum " +
                Fixed(line, 3) + " s");
      Print("CPU during the throttled transfer", r.cpu_share * 100, "% core", "<= 2", "");
    }
    {
      constexpr long kFirst = 10, kLast = 110;
      SimulatorProcess calculator(sim, {"--usb", "--latency", "30", "--ram", ram_file});
      const WindowResult r = MeasureWindow(LinkKind::Usb, calculator.Usb(), file, kFirst, kLast);
      const double ideal = 0.030 * (kLast - kFirst);
      Print("USB latency 30 ms / 256 bytes per 30 ms", ideal / r.wall, "", ">= 0.98",
            Fixed(r.wall, 3) + " s for " + std::to_string(kLast - kFirst) + " blocks, ideal " + Fixed(ideal, 3) +
                " s");
    }
    {
      SimulatorProcess calculator(sim, {"--serial"});
      Print("serial unthrottled", MeasureUnthrottled(LinkKind::Serial, calculator.Serial(), file), "MB/s", ">= 3",
            "flash read-out of 0x270000 bytes");
    }
    {
      SimulatorProcess calculator(sim, {"--usb"});
      Print("USB unthrottled", MeasureUnthrottled(LinkKind::Usb, calculator.Usb(), file), "MB/s", ">= 5",
            "flash read-out of 0x270000 bytes");
    }
    {
      SimulatorProcess calculator(sim, {"--serial", "--usb", "--fault", "no-answer"});
      const auto wait = std::chrono::milliseconds(3000);
      Print("CPU waiting for a silent calculator, serial",
            MeasureSilentWait(LinkKind::Serial, calculator.Serial(), wait) * 100, "% core", "<= 2", "3 s wait");
      Print("CPU waiting for a silent calculator, USB", MeasureSilentWait(LinkKind::Usb, calculator.Usb(), wait) * 100,
            "% core", "<= 2", "3 s wait");
    }
  } catch (const std::exception& e) {
    std::cerr << "bench_link_speed: " << e.what() << '\n';
    std::filesystem::remove_all(folder);
    return 1;
  }
  std::filesystem::remove_all(folder);
  return 0;
}
