#include "project/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/path_map.h"
#include "base/text.h"

extern char** environ;

namespace ostrel {

namespace {

// Owns the spawn attributes and file actions for one start.
class TSpawnSetup {
 public:
  explicit TSpawnSetup(const std::string& working_dir) {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!working_dir.empty()) ::posix_spawn_file_actions_addchdir_np(&actions_, working_dir.c_str());
    // The tool leads a process group of its own, so that a stop ends everything it started
    // and a Ctrl-C on the terminal reaches only this program.
    ::posix_spawnattr_setpgroup(&attributes_, 0);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~TSpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  TSpawnSetup(const TSpawnSetup&) = delete;
  TSpawnSetup& operator=(const TSpawnSetup&) = delete;

  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// A descriptor that becomes readable when the process ends (-1 where the kernel has none).
class TProcessHandle {
 public:
  explicit TProcessHandle(pid_t pid) {
#ifdef SYS_pidfd_open
    fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
#endif
  }
  ~TProcessHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  TProcessHandle(const TProcessHandle&) = delete;
  TProcessHandle& operator=(const TProcessHandle&) = delete;

  // Waits until the process ends or the interval has passed.
  void Wait(std::chrono::milliseconds interval) const {
    if (fd_ >= 0) {
      pollfd entry{fd_, POLLIN, 0};
      ::poll(&entry, 1, static_cast<int>(interval.count()));
    } else {
      std::this_thread::sleep_for(std::min(interval, std::chrono::milliseconds(10)));
    }
  }

 private:
  int fd_ = -1;
};

std::uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  return 0;
}

// True while a process of the group runs. Processes that have ended but wait for their
// new parent to collect them (zombies) do not count.
bool GroupHasLiveProcess(pid_t group) {
  if (::kill(-group, 0) != 0) return false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat_file(entry.path() / "stat");
    std::string stat;
    std::getline(stat_file, stat);
    // "pid (command) state ppid pgrp ..."; the command may hold blanks and parentheses.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    long parent = 0;
    long process_group = 0;
    if (fields >> state >> parent >> process_group && process_group == group && state != 'Z' && state != 'X') {
      return true;
    }
  }
  return false;
}

// Pumps messages every interval until the deadline or until no process of the group is
// left, then kills what is left.
void EndProcessGroup(pid_t group, std::chrono::steady_clock::time_point kill_at, const TUserInterface& ui) {
  while (GroupHasLiveProcess(group) && std::chrono::steady_clock::now() < kill_at) {
    ui.ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (::kill(-group, SIGKILL) != 0) return;
  // SIGKILL arrives asynchronously: wait (briefly) until it has taken effect, so that no
  // process of the tool outlives the run.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (GroupHasLiveProcess(group) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Waits for the process, pumping messages. A stop request sends SIGTERM to its process
// group; whatever of the group is still there after the grace period gets SIGKILL, also
// when the process itself has ended (a tool it started may ignore SIGTERM).
std::uint32_t WaitForTool(pid_t pid, const TUserInterface& ui, bool& stopped) {
  const TProcessHandle handle(pid);
  std::chrono::steady_clock::time_point kill_at{};
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) {
      if (stopped) EndProcessGroup(pid, kill_at, ui);
      return ended == pid ? ExitCodeOf(status) : 0;
    }
    ui.ProcessMessages();
    if (!stopped && StopRequest().load() != stopNone) {
      stopped = true;
      ::kill(-pid, SIGTERM);
      kill_at = std::chrono::steady_clock::now() + kToolStopGracePeriod;
    } else if (stopped && std::chrono::steady_clock::now() >= kill_at) {
      ::kill(-pid, SIGKILL);
    }
    handle.Wait(kToolPollInterval);
  }
}

}  // namespace

std::string InterpreterCommand(const std::string& command_line) {
  return command_line + " > " + kToolOutputFileName;
}

std::vector<std::string> ToolEnvironment(const std::vector<std::string>& setenv_entries) {
  std::vector<std::string> environment;
  for (const std::string& entry : setenv_entries) environment.push_back(ReplaceAll(entry, ";", "="));
  return environment;
}

TToolRun RunCommand(const std::string& command_line, const std::string& working_dir,
                    const std::vector<std::string>* environment, const TUserInterface& ui) {
  TToolRun run;
  const std::string directory = MapScriptPath(working_dir);
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(directory.empty() ? "." : directory) / kToolOutputFileName,
                          ignored);

  std::string command = InterpreterCommand(command_line);
  if (command.size() > kMaxCommandLineLength) {
    run.start_error = E2BIG;
    run.refused_too_long = true;
    return run;
  }
  std::string shell = "/bin/sh";
  std::string option = "-c";
  char* arguments[] = {shell.data(), option.data(), command.data(), nullptr};
  std::vector<std::string> entries = environment ? *environment : std::vector<std::string>();
  std::vector<char*> block;
  for (std::string& entry : entries) block.push_back(entry.data());
  block.push_back(nullptr);

  const TSpawnSetup setup(directory);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, shell.c_str(), setup.Actions(), setup.Attributes(), arguments,
                                  environment ? block.data() : environ);
  if (error != 0) {
    run.start_error = error;
    return run;
  }
  run.exit_code = WaitForTool(pid, ui, run.stopped);
  return run;
}

}  // namespace ostrel
