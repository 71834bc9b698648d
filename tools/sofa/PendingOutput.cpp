#include "PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "ToolError.h"
#include "base/SignalCleanup.h"

namespace vesksofa {

using vesktools::ToolError;
namespace fs = std::filesystem;

namespace {

// The directory holding `target` and its last component.
std::pair<std::string, std::string> SplitTarget(const std::string& target) {
  fs::path path(target);
  std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") throw ToolError(target + ": expected a file or directory name");
  fs::path dir = path.parent_path();
  return {dir.empty() ? std::string(".") : dir.string(), name};
}

std::string Errno() { return std::strerror(errno); }

}  // namespace

PendingFile::PendingFile(const std::string& target) {
  // A device, pipe or socket would be opened and written into, which the
  // netCDF library cannot do through a name; a FIFO would even block here.
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    throw ToolError(target + ": expected a regular file to write the SOFA file to");
  if (!output_.Open(target)) throw ToolError(output_.Error());
  if (output_.TemporaryPath().empty())  // /dev/stdout and its kind
    throw ToolError(target + ": expected a regular file to write the SOFA file to");
}

void PendingFile::Commit() {
  if (!output_.Commit(false)) throw ToolError(output_.Error());
}

void PendingDirectory::CheckTarget(const std::string& target) {
  std::error_code ec;
  if (fs::exists(target, ec)) {
    if (!fs::is_directory(target, ec)) throw ToolError(target + ": exists and is not a directory");
    if (!fs::is_empty(target, ec)) throw ToolError(target + ": exists and is not empty");
  }
  std::string name = target;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  SplitTarget(name);
}

PendingDirectory::PendingDirectory(const std::string& target) : target_(target) {
  while (target_.size() > 1 && target_.back() == '/') target_.pop_back();  // "out/" names "out"
  CheckTarget(target);
  const auto [dir, name] = SplitTarget(target_);
  targetName_ = name;
  parentFd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (parentFd_ < 0) throw ToolError(target + ": cannot open the directory it is in: " + Errno());
  for (int attempt = 0;; ++attempt) {
    tempName_ = vesk::HiddenTemporaryName(targetName_);
    if (::mkdirat(parentFd_, tempName_.c_str(), 0777) == 0) break;
    if (errno != EEXIST || attempt == 100) {
      const std::string reason = Errno();
      ::close(parentFd_);
      throw ToolError(target + ": cannot create a directory beside it: " + reason);
    }
  }
  // Through the open parent when the full path would leave too little room
  // for the names written inside.
  const std::string full = (dir == "/" ? dir : dir + "/") + tempName_;
  temp_ = full.size() + 1 + kMaxEntryBytes < PATH_MAX ? full
                                                      : "/proc/self/fd/" + std::to_string(parentFd_) + "/" + tempName_;
  cleanupSlot_ = vesk::signal_cleanup::AddDirectory(temp_.c_str());
}

PendingDirectory::~PendingDirectory() {
  if (!committed_) {
    std::error_code ec;
    fs::remove_all(temp_, ec);
  }
  vesk::signal_cleanup::RemovePath(cleanupSlot_);
  ::close(parentFd_);
}

std::string PendingDirectory::AsTarget(std::string message) const {
  for (std::size_t at = message.find(temp_); at != std::string::npos; at = message.find(temp_, at + target_.size()))
    message.replace(at, temp_.size(), target_);
  return message;
}

void PendingDirectory::Commit() {
  // rename(2) replaces an empty directory and refuses a non-empty one.
  {
    // A signal between the rename and the unregistering must not empty the result.
    vesk::signal_cleanup::RemovePath(cleanupSlot_);
    cleanupSlot_ = -1;
  }
  if (::renameat(parentFd_, tempName_.c_str(), parentFd_, targetName_.c_str()) != 0) {
    const std::string reason = Errno();
    cleanupSlot_ = vesk::signal_cleanup::AddDirectory(temp_.c_str());
    throw ToolError(target_ + ": cannot move the result into place: " + reason);
  }
  committed_ = true;
}

}  // namespace vesksofa
