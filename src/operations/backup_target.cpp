#include "operations/backup_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "base/error.h"
#include "base/small_file.h"
#include "operations/read_only_file.h"

namespace ostrel {

namespace {

std::string Reason(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The image takes the target's name by a rename once it is complete, so a folder, a FIFO
// or a device there would either refuse it after the whole read-out or be replaced by a
// regular file; such a target, and an empty name, are refused before anything is read.
void RefuseUnusableTarget(const std::string& target) {
  if (target.empty()) throw IoError("Cannot create file: no file name was given; name the file for the image");
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    throw IoError("Cannot create file " + target + ": it is " + NonFileKind(existing.st_mode) +
                  ", not a regular file; name a file for the image");
  }
}

// The longest file name a folder entry takes.
constexpr std::size_t kMaxFileName = 255;

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Creates a new, empty file beside `target` with a name nobody uses, with the permissions
// a new file gets (or those of the target it is to replace). Returns its name.
std::string CreateWorkFile(const std::string& target) {
  RefuseUnusableTarget(target);
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = SiblingFileName(target, ".incomplete-" + std::to_string(random() % 1000000));
    const int fd = OpenRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int error = errno;
      throw IoError("Cannot create file " + target + ": " + Reason(error) +
                    (error == ENOENT ? "; the folder " + FolderOf(target) + " does not exist: create it or name a file in another folder"
                                     : std::string()));
    }
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
      ::fchmod(fd, existing.st_mode & 07777);
    }
    ::close(fd);
    return name;
  }
  throw IoError("Cannot create file " + target + ": no free name for the work file beside it");
}

// Writes the file's bytes through to the disk: a full disk or an I/O error shows here at
// the latest. 0 or the errno value.
int SyncFile(const std::string& path) {
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = ::fsync(fd) == 0 ? 0 : errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Makes a rename in the folder durable; folders that cannot be synced are no error.
void SyncFolder(const std::string& folder) {
  const int fd = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string SiblingFileName(const std::string& target, const std::string& suffix) {
  const std::size_t slash = target.find_last_of('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::string name = target.substr(name_start);
  if (name.size() + suffix.size() > kMaxFileName) {
    std::size_t keep = kMaxFileName > suffix.size() ? kMaxFileName - suffix.size() : 0;
    while (keep > 0 && IsUtf8Continuation(name[keep])) --keep;
    name.resize(keep);
  }
  return target.substr(0, name_start) + name + suffix;
}

TBackupTarget::TBackupTarget(std::string target) : target_(std::move(target)), work_file_(CreateWorkFile(target_)) {}

TBackupTarget::~TBackupTarget() {
  if (!settled_) ::unlink(work_file_.c_str());
}

std::string TBackupTarget::Commit() { return CommitAs(target_); }

std::string TBackupTarget::CommitAs(const std::string& name) {
  int error = SyncFile(work_file_);
  std::string why = error != 0 ? Reason(error) : "";
  // A file the user could not unlock stays as it is.
  if (error == 0 && IsReadOnlyFile(name)) why = "the file is read-only";
  if (why.empty() && ::rename(work_file_.c_str(), name.c_str()) != 0) why = Reason(errno);
  if (!why.empty()) {
    const std::string partial = KeepPartial();
    throw IoError("Cannot write file " + name + ": " + why +
                  (partial.empty() ? std::string() : "; the bytes read are in " + partial));
  }
  settled_ = true;
  SyncFolder(FolderOf(name));
  return name;
}

std::string TBackupTarget::KeepPartial() {
  if (settled_) return "";
  struct stat status {};
  if (::stat(work_file_.c_str(), &status) != 0 || status.st_size == 0) return "";
  settled_ = true;
  const std::string partial = PartialFile();
  // Where the name cannot be taken, the bytes stay under the work file's name.
  return ::rename(work_file_.c_str(), partial.c_str()) == 0 ? partial : work_file_;
}

}  // namespace ostrel
