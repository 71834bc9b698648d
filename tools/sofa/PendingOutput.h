// All-or-nothing outputs: a hidden sibling (file or directory) that is
// renamed onto the target on success and removed otherwise.
#ifndef VESK_SOFA_PENDINGOUTPUT_H
#define VESK_SOFA_PENDINGOUTPUT_H

#include <string>

namespace vesksofa {

// ".<name>.XXXXXX" beside `target` (an empty file). Throws ToolError when the
// directory cannot take it or `target` is a directory.
class PendingFile {
public:
  explicit PendingFile(const std::string& target);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();
  const std::string& Path() const { return temp_; }
  // Asks the kernel to start writing what is written so far to the disk, so
  // a long write overlaps its own writeback instead of waiting for it at
  // the end (or being throttled). Best effort.
  void StartWriteback() const;
  // Renames the finished file over the target.
  void Commit();

private:
  std::string target_, temp_;
  bool committed_ = false;
};

// A hidden sibling directory of `target`, which must not exist or be an empty
// directory; Commit renames it onto `target`.
class PendingDirectory {
public:
  explicit PendingDirectory(const std::string& target);
  PendingDirectory(const PendingDirectory&) = delete;
  PendingDirectory& operator=(const PendingDirectory&) = delete;
  ~PendingDirectory();
  const std::string& Path() const { return temp_; }
  void Commit();

private:
  std::string target_, temp_;
  bool committed_ = false;
};

}  // namespace vesksofa

#endif
