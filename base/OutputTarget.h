// Where a program's output file goes, decided as the shell's ">" would:
// - a FIFO, a character or block device, a socket, /dev/stdout or a
//   /proc/self/fd/N link is opened and written into, never replaced;
// - a regular file (or a name not yet taken) is written to a hidden
//   ".NAME.XXXXXX" beside it (NAME cut to fit NAME_MAX) and renamed over it
//   on Commit, so an error leaves the old file as it was; this is done only
//   when opening the file for writing would have succeeded, and the new file
//   keeps the old one's mode (and owner and group when running as root);
// - a symbolic link is written through: its final target is replaced and
//   the link stays a link.
// The temporary file is registered with signal_cleanup. Errors carry the
// file's name (as given) and the system's reason.
#ifndef VESK_BASE_OUTPUTTARGET_H
#define VESK_BASE_OUTPUTTARGET_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

namespace vesk {

// A fresh hidden name for a temporary beside `name` (a last path
// component): ".NAME.XXXXXX" with six random letters, NAME cut so that the
// whole is at most NAME_MAX bytes. Creating it (O_EXCL, mkdirat) may still
// meet an existing entry: draw again.
std::string HiddenTemporaryName(const std::string& name);

// Status-result interface, for procedural callers.
class OutputTarget {
public:
  OutputTarget() = default;
  ~OutputTarget() { Discard(); }
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  // Opens `path` as above. False on failure, with Error() set.
  bool Open(const std::string& path);
  // Writes all `size` bytes. False on failure (errno reason in Error()).
  bool Write(const void* data, std::size_t size);
  // Finishes the file: syncs (when `durable`) and renames a temporary file
  // into place, or closes a stream target. False on failure; the old file
  // then stays.
  bool Commit(bool durable = true);
  // Drops a temporary file (nothing happens to a stream target).
  void Discard();
  // Starts writing to the disk what the temporary file holds so far, also
  // what another writer put there through TemporaryPath(), so that the disk
  // works while the rest is written and the sync on Commit has little left
  // to wait for. A hint: nothing happens for a stream target or on failure.
  void StartWriteOut();

  const std::string& Path() const { return path_; }
  // The hidden file written to; empty for a stream target. When the full
  // path would exceed PATH_MAX it is given through /proc/self/fd (valid
  // while the target is open).
  const std::string& TemporaryPath() const { return tempPath_; }
  // "cannot write output file 'PATH': REASON" after a failure, else empty.
  const std::string& Error() const { return error_; }
  // The system's reason alone (strerror text).
  const std::string& Reason() const { return reason_; }
  bool Failed() const { return !error_.empty(); }
  // Whether the target is the file open on descriptor `fd` (standard
  // output given as /dev/stdout, say).
  bool SameFileAs(int fd) const;

private:
  bool Fail(const std::string& reason);
  bool FailErrno(int error);
  void CloseFd();
  void CloseDirFd();

  std::string path_;
  std::string target_;                 // the file renamed over (links followed)
  std::string tempPath_;               // empty for a stream target
  std::string targetName_, tempName_;  // within the directory dirFd_ holds
  int fd_ = -1;
  int dirFd_ = -1;
  int cleanupSlot_ = -1;
  static constexpr uint64_t kHandOverBytes = uint64_t(32) << 20;
  uint64_t written_ = 0;       // bytes
  uint64_t handedToDisk_ = 0;  // bytes whose write-out has been started
  std::string error_, reason_;
};

// Thrown by OutputFile: the text names the file and the reason.
class OutputError : public std::runtime_error {
public:
  explicit OutputError(const std::string& what) : std::runtime_error(what) {}
};

// An OutputTarget behind a buffered std::ostream. A failed write throws
// OutputError out of the stream operation that met it (the stream has
// badbit in its exception mask), so a writer's own check never has to
// guess the reason.
class OutputFile {
public:
  // Throws OutputError when the target cannot be opened.
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& Stream() { return stream_; }
  const std::string& Path() const { return target_.Path(); }
  const std::string& TemporaryPath() const { return target_.TemporaryPath(); }
  // The first write error met, if any ("" otherwise).
  const std::string& Error() const { return target_.Error(); }
  bool SameFileAs(int fd) const { return target_.SameFileAs(fd); }
  // Flushes and commits; throws OutputError (the old file then stays).
  void Commit();

private:
  class Buffer : public std::streambuf {
  public:
    explicit Buffer(OutputTarget& target) : target_(target), space_(1 << 16) {
      setp(space_.data(), space_.data() + space_.size());
    }
    bool Drain();

  protected:
    int_type overflow(int_type c) override;
    int sync() override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

  private:
    OutputTarget& target_;
    std::vector<char> space_;
  };

  OutputTarget target_;
  Buffer buffer_;
  std::ostream stream_;
};

}  // namespace vesk

#endif
