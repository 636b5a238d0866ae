#include "base/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/error.h"

namespace ostrel {

namespace {

[[noreturn]] void RaiseNotAFile(const std::string& path, const std::string& kind, const std::string& what) {
  throw IoError(what + " " + path + " is " + kind + ", not a regular file: it is not read. Name a text file.");
}

std::string SizeText(std::uintmax_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

TRegularFileOpening OpenRegularFileForReading(const std::string& path) {
  TRegularFileOpening opening;
  const auto refuse = [&opening](mode_t mode) {
    opening.error = S_ISDIR(mode) ? EISDIR : EINVAL;
    opening.kind = NonFileKind(mode);
    return opening;
  };
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    opening.error = errno;
    return opening;
  }
  if (!S_ISREG(status.st_mode)) return refuse(status.st_mode);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    opening.error = errno;
    return opening;
  }
  // Swapped for something else since it was looked at: refused all the same.
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refuse(status.st_mode);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  opening.fd = fd;
  return opening;
}

std::optional<std::string> ReadSmallRegularFile(const std::string& path, std::uintmax_t max_bytes,
                                                const std::string& what) {
  const TRegularFileOpening opening = OpenRegularFileForReading(path);
  if (!opening.kind.empty()) RaiseNotAFile(path, opening.kind, what);
  if (opening.fd < 0) return std::nullopt;
  const int fd = opening.fd;
  // Read up to one byte past the cap: the size the file system reports may be wrong (files
  // under /proc report 0) or the file may grow while it is read.
  std::string text;
  char block[8192];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
    if (text.size() > max_bytes) {
      ::close(fd);
      throw IoError(what + " " + path + " is larger than " + SizeText(max_bytes) +
                    ": it is not read. Name the right file, or shorten it.");
    }
  }
  ::close(fd);
  return text;
}

std::string NonFileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace ostrel
