#include "front/AtomicOutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trelvix {

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

// Directory part ("." when none) and file name part of a path.
void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir = ".";
    name = path;
  } else {
    dir = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// A symbolic link is written through, as opening it would: the file it
// points to is replaced, not the link. A dangling link is replaced itself.
std::string ResolveLink(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  const std::string target = resolved;
  std::free(resolved);
  return target;
}

}  // namespace

AtomicOutputFile::AtomicOutputFile(const std::string& path) : path_(path) {
  const std::string target = ResolveLink(path);
  std::string dir, name;
  SplitPath(target, dir, name);
  struct stat st;
  if (name.empty() || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    throw OutputFileError("cannot write output file '" + path + "': " + ErrnoText(EISDIR));

  std::string pattern = (dir == "/" ? std::string("/") : dir + "/") + "." + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  fd_ = ::mkstemp(buffer.data());
  if (fd_ < 0)
    throw OutputFileError("cannot write output file '" + path + "': " + ErrnoText(errno));
  tempPath_ = buffer.data();
  target_ = target;

  // mkstemp makes the file 0600; give it what open(2) would have.
  if (::fchmod(fd_, 0666 & ~CurrentUmask()) != 0) {
    const int error = errno;
    ::close(fd_);
    ::unlink(tempPath_.c_str());
    throw OutputFileError("cannot write output file '" + path + "': " + ErrnoText(error));
  }

  stream_ = std::make_shared<std::ofstream>(
      tempPath_, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!*stream_) {
    ::close(fd_);
    ::unlink(tempPath_.c_str());
    throw OutputFileError("cannot write output file '" + path + "'");
  }
}

AtomicOutputFile::~AtomicOutputFile() {
  if (committed_) return;
  if (stream_) stream_->close();
  if (fd_ >= 0) ::close(fd_);
  ::unlink(tempPath_.c_str());
}

void AtomicOutputFile::Commit() {
  stream_->flush();
  const bool written = static_cast<bool>(*stream_);
  stream_->close();
  if (!written || stream_->fail())
    throw OutputFileError("error writing output file '" + path_ + "'; it was left unchanged");
  if (::fsync(fd_) != 0)
    throw OutputFileError("error writing output file '" + path_ + "': " + ErrnoText(errno) +
                          "; it was left unchanged");
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0)
    throw OutputFileError("error writing output file '" + path_ + "': " + ErrnoText(errno) +
                          "; it was left unchanged");
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0)
    throw OutputFileError("cannot replace output file '" + path_ + "': " + ErrnoText(errno));
  committed_ = true;
}

}  // namespace trelvix
