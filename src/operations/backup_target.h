#pragma once
// The file a backup writes into. The read-out goes into a new file beside the target; only
// a complete image takes the target's name (after its bytes reached the disk), so an older
// backup at that path survives every read-out that fails, is stopped or is killed. An
// incomplete read-out is kept as the target's name + ".partial".

#include <cstdint>
#include <string>

namespace ostrel {

// A name beside `target` that ends in `suffix`: the target + suffix, with the file's own
// name shortened (at a character boundary) where the whole would not fit in a folder
// entry, so that a long target name still gets its work, partial and unverified files.
std::string SiblingFileName(const std::string& target, const std::string& suffix);

// Where an incomplete read-out for `target` is kept.
inline std::string PartialFileName(const std::string& target) { return SiblingFileName(target, ".partial"); }
// Where a complete image that failed its check is kept when an older file is at `target`.
inline std::string UnverifiedFileName(const std::string& target) { return SiblingFileName(target, ".unverified"); }

class TBackupTarget {
 public:
  // Creates the work file beside `target` (IoError when the folder does not take it).
  explicit TBackupTarget(std::string target);
  // A work file neither committed nor kept is removed.
  ~TBackupTarget();
  TBackupTarget(const TBackupTarget&) = delete;
  TBackupTarget& operator=(const TBackupTarget&) = delete;

  const std::string& Target() const { return target_; }
  const std::string& WorkFile() const { return work_file_; }
  std::string PartialFile() const { return PartialFileName(target_); }

  // Flushes the work file to the disk and gives it the target's name. Returns the target.
  // IoError when the bytes cannot be made durable or the name cannot be taken; the work
  // file is then kept as the partial file.
  std::string Commit();
  // The same under another name beside the target (a complete image that must not replace
  // the file at the target). Returns that name.
  std::string CommitAs(const std::string& name);
  // Keeps an incomplete read-out as the partial file and returns its name; an empty work
  // file is removed instead (returns an empty name).
  std::string KeepPartial();

 private:
  std::string target_;
  std::string work_file_;
  bool settled_ = false;
};

}  // namespace ostrel
