// All-or-nothing outputs: a hidden sibling (file or directory) that is
// renamed onto the target on success and removed otherwise.
#ifndef VESK_SOFA_PENDINGOUTPUT_H
#define VESK_SOFA_PENDINGOUTPUT_H

#include <string>

#include "base/OutputTarget.h"

namespace vesksofa {

// The shared all-or-nothing output file (a hidden ".<name>.XXXXXX" beside
// `target`, removed on failure and on a signal) offered by name, since the
// netCDF library opens files by name. Throws ToolError when `target` cannot
// be written or is not a regular file.
class PendingFile {
public:
  explicit PendingFile(const std::string& target);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  const std::string& Path() const { return output_.TemporaryPath(); }
  // Asks the kernel to start writing what is written so far to the disk, so
  // a long write overlaps its own writeback instead of waiting for it at
  // the end (or being throttled). Best effort.
  void StartWriteback() const { output_.StartWriteOut(); }
  // Renames the finished file over the target.
  void Commit();

private:
  mutable vesk::OutputTarget output_;
};

// A hidden sibling directory of `target`, which must not exist or be an empty
// directory; Commit renames it onto `target`. It is removed on failure and,
// with what it holds (files only), on a signal. Its name is cut to fit
// NAME_MAX and it is made relative to the open parent directory, so a
// target name of 255 bytes or a full path near PATH_MAX still works.
class PendingDirectory {
public:
  // Throws ToolError when `target` cannot be the result; creates nothing.
  static void CheckTarget(const std::string& target);
  explicit PendingDirectory(const std::string& target);
  PendingDirectory(const PendingDirectory&) = delete;
  PendingDirectory& operator=(const PendingDirectory&) = delete;
  ~PendingDirectory();
  // The directory to write into: a path under which a name of up to
  // kMaxEntryBytes bytes stays below PATH_MAX (through /proc/self/fd when
  // the full path would not).
  const std::string& Path() const { return temp_; }
  static constexpr std::size_t kMaxEntryBytes = 64;
  // `message` with Path() shown as the target, for errors of what is
  // written inside (the hidden name means nothing to the user).
  std::string AsTarget(std::string message) const;
  void Commit();

private:
  std::string target_, targetName_, tempName_, temp_;
  int parentFd_ = -1;
  int cleanupSlot_ = -1;
  bool committed_ = false;
};

}  // namespace vesksofa

#endif
