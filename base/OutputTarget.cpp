#include "base/OutputTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "base/SignalCleanup.h"

namespace vesk {
namespace {

constexpr long kProcSuperMagic = 0x9fa0;
constexpr int kMaxLinks = 40;  // as the kernel's own limit

std::string DirectoryOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Links in /proc (/proc/self/fd/N, reached also through /dev/stdout and
// /dev/fd/N) name an open file, which is to be written into.
bool InProc(const std::string& path) {
  struct statfs fs;
  return ::statfs(DirectoryOf(path).c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kProcSuperMagic;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

std::string HiddenTemporaryName(const std::string& name) {
  thread_local std::mt19937_64 random(std::random_device{}());
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string hidden = "." + name.substr(0, NAME_MAX - 8) + ".";
  for (int i = 0; i < 6; ++i) hidden += kLetters[random() % (sizeof kLetters - 1)];
  return hidden;
}

bool OutputTarget::Fail(const std::string& reason) {
  if (error_.empty()) {
    reason_ = reason;
    error_ = "cannot write output file '" + path_ + "': " + reason;
  }
  return false;
}

bool OutputTarget::FailErrno(int error) { return Fail(std::strerror(error)); }

void OutputTarget::CloseFd() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void OutputTarget::CloseDirFd() {
  if (dirFd_ >= 0) ::close(dirFd_);
  dirFd_ = -1;
}

bool OutputTarget::Open(const std::string& path) {
  Discard();
  path_ = path;
  written_ = handedToDisk_ = 0;
  error_.clear();
  reason_.clear();
  if (path.empty()) return FailErrno(ENOENT);

  // Follow symbolic links by hand to the file they end in, which need not
  // exist yet (a dangling link makes its target, as the shell does).
  std::string current = path;
  bool direct = false;
  struct stat st;
  bool exists = false;
  for (int hops = 0;; ++hops) {
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) return FailErrno(errno);
      break;
    }
    if (!S_ISLNK(st.st_mode)) {
      exists = true;
      break;
    }
    if (hops == kMaxLinks) return FailErrno(ELOOP);
    if (InProc(current)) {
      direct = true;
      break;
    }
    std::vector<char> text(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
    const ssize_t length = ::readlink(current.c_str(), text.data(), text.size() - 1);
    if (length < 0) return FailErrno(errno);
    const std::string link(text.data(), static_cast<std::size_t>(length));
    current = link[0] == '/' ? link : DirectoryOf(current) + "/" + link;
  }
  if (exists && S_ISDIR(st.st_mode)) return FailErrno(EISDIR);
  if (direct || (exists && !S_ISREG(st.st_mode))) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) return FailErrno(errno);
    return true;
  }
  if (exists) {
    // Only what the shell's ">" could open may be replaced.
    const int probe = ::open(current.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) return FailErrno(errno);
    ::close(probe);
  }

  // The hidden name is at most NAME_MAX bytes and is made relative to the
  // open directory, so a long name or a full path near PATH_MAX still fits.
  const std::string dir = DirectoryOf(current);
  targetName_ = NameOf(current);
  dirFd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0) return FailErrno(errno);
  for (int attempt = 0; fd_ < 0; ++attempt) {
    tempName_ = HiddenTemporaryName(targetName_);
    fd_ = ::openat(dirFd_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
      const int error = errno;
      tempName_.clear();
      CloseDirFd();
      return FailErrno(error);
    }
  }
  const std::string full = (dir == "/" ? std::string("/") : dir + "/") + tempName_;
  tempPath_ = full.size() < PATH_MAX ? full : "/proc/self/fd/" + std::to_string(dirFd_) + "/" + tempName_;
  target_ = current;
  cleanupSlot_ = signal_cleanup::AddPath(tempPath_.c_str());

  // mkstemp makes the file 0600: give it the old file's mode and, where
  // allowed, its owner and group, or what open(2) would have given.
  if (exists) {
    if (::geteuid() == 0) {
      if (::fchown(fd_, st.st_uid, st.st_gid) != 0) return FailErrno(errno);
    } else if (st.st_gid != ::getegid()) {
      (void)::fchown(fd_, static_cast<uid_t>(-1), st.st_gid);  // kept when we may
    }
    if (::fchmod(fd_, st.st_mode & 07777) != 0) return FailErrno(errno);
  } else if (::fchmod(fd_, 0666 & ~CurrentUmask()) != 0) {
    return FailErrno(errno);
  }
  return true;
}

bool OutputTarget::SameFileAs(int fd) const {
  struct stat mine, theirs;
  return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::fstat(fd, &theirs) == 0 && mine.st_dev == theirs.st_dev &&
         mine.st_ino == theirs.st_ino;
}

bool OutputTarget::Write(const void* data, std::size_t size) {
  if (Failed()) return false;
  if (fd_ < 0) return FailErrno(EBADF);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return FailErrno(errno);
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
    written_ += static_cast<uint64_t>(written);
  }
  if (written_ - handedToDisk_ >= kHandOverBytes) StartWriteOut();
  return true;
}

void OutputTarget::StartWriteOut() {
  if (fd_ < 0 || tempPath_.empty()) return;
  // From the first byte not yet handed over to the end of the file.
  (void)::sync_file_range(fd_, static_cast<off64_t>(handedToDisk_), 0, SYNC_FILE_RANGE_WRITE);
  handedToDisk_ = written_;
}

bool OutputTarget::Commit(bool durable) {
  if (Failed()) return false;
  if (fd_ < 0) return FailErrno(EBADF);
  if (tempPath_.empty()) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return FailErrno(errno);
    return true;
  }
  if (durable && ::fsync(fd_) != 0) return FailErrno(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return FailErrno(errno);
  if (::renameat(dirFd_, tempName_.c_str(), dirFd_, targetName_.c_str()) != 0) return FailErrno(errno);
  signal_cleanup::RemovePath(cleanupSlot_);
  cleanupSlot_ = -1;
  tempPath_.clear();
  tempName_.clear();
  CloseDirFd();
  return true;
}

void OutputTarget::Discard() {
  CloseFd();
  if (!tempPath_.empty()) {
    ::unlinkat(dirFd_, tempName_.c_str(), 0);
    signal_cleanup::RemovePath(cleanupSlot_);
    cleanupSlot_ = -1;
    tempPath_.clear();
    tempName_.clear();
  }
  CloseDirFd();
}

bool OutputFile::Buffer::Drain() {
  const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
  setp(space_.data(), space_.data() + space_.size());
  if (size > 0 && !target_.Write(space_.data(), size)) throw OutputError(target_.Error());
  return true;
}

OutputFile::Buffer::int_type OutputFile::Buffer::overflow(int_type c) {
  Drain();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int OutputFile::Buffer::sync() {
  Drain();
  return 0;
}

std::streamsize OutputFile::Buffer::xsputn(const char* s, std::streamsize n) {
  if (n <= epptr() - pptr()) {
    std::memcpy(pptr(), s, static_cast<std::size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }
  Drain();
  if (static_cast<std::size_t>(n) < space_.size()) {
    std::memcpy(pptr(), s, static_cast<std::size_t>(n));
    pbump(static_cast<int>(n));
  } else if (!target_.Write(s, static_cast<std::size_t>(n))) {
    throw OutputError(target_.Error());
  }
  return n;
}

OutputFile::OutputFile(const std::string& path) : buffer_(target_), stream_(&buffer_) {
  if (!target_.Open(path)) throw OutputError(target_.Error());
  stream_.exceptions(std::ios::badbit);
}

OutputFile::~OutputFile() = default;

void OutputFile::Commit() {
  buffer_.Drain();
  if (!stream_ || !target_.Commit()) {
    throw OutputError(target_.Failed() ? target_.Error() : "cannot write output file '" + target_.Path() + "'");
  }
}

}  // namespace vesk
