#include "calc/qemu_engine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

extern char** environ;

namespace ostrel::testing {

bool QemuEngineAvailable() {
#if defined(OSTREL_CALC_QEMU_ENGINE) && defined(OSTREL_QEMU_SH4EB)
  return ::access(OSTREL_CALC_QEMU_ENGINE, R_OK) == 0 && ::access(OSTREL_QEMU_SH4EB, X_OK) == 0;
#else
  return false;
#endif
}

QemuEngine::QemuEngine(const std::string& flash_path, std::vector<std::string> arguments, int link) {
#if defined(OSTREL_CALC_QEMU_ENGINE) && defined(OSTREL_QEMU_SH4EB)
  int engine_end = link;
  if (link < 0) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("socketpair");
    link_ = pair[0];
    engine_end = pair[1];
  }
  const int flash = ::open(flash_path.c_str(), O_RDWR | O_CLOEXEC);
  if (flash < 0) throw std::runtime_error("cannot open " + flash_path);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, engine_end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, engine_end, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, flash, 3);
  std::vector<std::string> words{OSTREL_QEMU_SH4EB, OSTREL_CALC_QEMU_ENGINE};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, OSTREL_QEMU_SH4EB, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (link < 0) ::close(engine_end);
  ::close(flash);
  if (rc != 0) throw std::runtime_error("cannot start qemu-sh4eb");
#else
  (void)flash_path;
  (void)arguments;
  (void)link;
  throw std::runtime_error("no SuperH engine in this build");
#endif
}

QemuEngine::~QemuEngine() {
  if (link_ >= 0) ::close(link_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void QemuEngine::Send(const ByteVector& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(link_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

ByteVector QemuEngine::ReceivePacket() {
  ByteVector packet = Read(4);
  if (packet.size() < 4) return packet;
  if (packet[3] == '1') {
    ByteVector size = Read(4);
    packet.insert(packet.end(), size.begin(), size.end());
    if (size.size() < 4) return packet;
    const ByteVector data = Read(std::stoul(std::string(size.begin(), size.end()), nullptr, 16));
    packet.insert(packet.end(), data.begin(), data.end());
  }
  const ByteVector checksum = Read(2);
  packet.insert(packet.end(), checksum.begin(), checksum.end());
  return packet;
}

ByteVector QemuEngine::Exchange(const ByteVector& packet) {
  Send(packet);
  return ReceivePacket();
}

void QemuEngine::Disconnect() {
  ::close(link_);
  link_ = -1;
}

bool QemuEngine::Silent() { return Read(1, 300).empty(); }

int QemuEngine::ExitStatus(int limit_ms) {
  for (int waited = 0; waited < limit_ms; waited += 10) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ::usleep(10000);
  }
  return -1;
}

ByteVector QemuEngine::Read(std::size_t count, int timeout_ms) {
  ByteVector bytes;
  while (bytes.size() < count && link_ >= 0) {
    pollfd wait{link_, POLLIN, 0};
    if (::poll(&wait, 1, timeout_ms) <= 0) break;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(link_, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

}  // namespace ostrel::testing
