#pragma once
// Running a piece of a test as an ordinary user. Root may read and write where a user may
// not, so a test of what happens without a permission would test nothing when the tests
// run as root (as in CI): the piece runs in a child process that, under root, first gives
// up root for the "nobody" user, and so meets the same refusal a user meets.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace ostrel::testing {

// Runs `body` in a child process as an ordinary user and returns what it returned (the
// empty text: all as expected), or why the child could not run it. Paths the body uses
// must be reachable for that user (the temporary folder of a test is 0700: open it up).
inline std::string RunAsOrdinaryUser(const std::function<std::string()>& body) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    ::close(pipe_ends[0]);
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    std::string report;
    try {
      report = body();
    } catch (const std::exception& e) {
      report = std::string("exception: ") + e.what();
    }
    const ssize_t written = ::write(pipe_ends[1], report.data(), report.size());
    ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
  }
  ::close(pipe_ends[1]);
  std::string report;
  char buffer[512];
  for (ssize_t got; (got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "the child ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
           (WIFEXITED(status) && WEXITSTATUS(status) == 2 ? " (cannot give up root)" : "");
  }
  return report;
}

}  // namespace ostrel::testing
