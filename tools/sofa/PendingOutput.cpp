#include "PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "ToolError.h"

namespace vesksofa {

using vesktools::ToolError;
namespace fs = std::filesystem;

namespace {

std::string SiblingPattern(const std::string& target) {
  fs::path path(target);
  std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..")
    throw ToolError(target + ": expected a file or directory name");
  fs::path dir = path.parent_path();
  return (dir.empty() ? std::string(".") : dir.string()) + "/." + name + ".XXXXXX";
}

std::string Errno() { return std::strerror(errno); }

}  // namespace

PendingFile::PendingFile(const std::string& target) : target_(target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw ToolError(target + ": is a directory");
  std::string pattern = SiblingPattern(target);
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkstemp(buffer.data());
  if (fd < 0) throw ToolError(target + ": cannot create a file beside it: " + Errno());
  ::close(fd);
  temp_ = buffer.data();
  // mkstemp makes 0600; the result gets the mode of a normally created file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(temp_.c_str(), 0666 & ~mask);
}

PendingFile::~PendingFile() {
  if (!committed_) std::remove(temp_.c_str());
}

void PendingFile::StartWriteback() const {
  const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  ::close(fd);
}

void PendingFile::Commit() {
  if (::rename(temp_.c_str(), target_.c_str()) != 0) throw ToolError(target_ + ": cannot replace: " + Errno());
  committed_ = true;
}

PendingDirectory::PendingDirectory(const std::string& target) : target_(target) {
  while (target_.size() > 1 && target_.back() == '/') target_.pop_back();  // "out/" names "out"
  std::error_code ec;
  if (fs::exists(target, ec)) {
    if (!fs::is_directory(target, ec)) throw ToolError(target + ": exists and is not a directory");
    if (!fs::is_empty(target, ec)) throw ToolError(target + ": exists and is not empty");
  }
  std::string pattern = SiblingPattern(target_);
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) throw ToolError(target + ": cannot create a directory beside it: " + Errno());
  temp_ = buffer.data();
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(temp_.c_str(), 0777 & ~mask);
}

PendingDirectory::~PendingDirectory() {
  if (!committed_) {
    std::error_code ec;
    fs::remove_all(temp_, ec);
  }
}

void PendingDirectory::Commit() {
  // rename(2) replaces an empty directory and refuses a non-empty one.
  if (::rename(temp_.c_str(), target_.c_str()) != 0) throw ToolError(target_ + ": cannot move the result into place: " + Errno());
  committed_ = true;
}

}  // namespace vesksofa
