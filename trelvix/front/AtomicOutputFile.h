// The --output-file of a run: written into a fresh hidden file in the same
// directory and moved over the named file only when the run succeeded, so a
// failed run leaves an existing file untouched and creates no empty one.
#ifndef TRELVIX_FRONT_ATOMICOUTPUTFILE_H
#define TRELVIX_FRONT_ATOMICOUTPUTFILE_H

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "options/OutputStream.h"

namespace trelvix {

// A failure to create, write or replace the output file; the text names it.
class OutputFileError : public std::runtime_error {
public:
  explicit OutputFileError(const std::string& what) : std::runtime_error(what) {}
};

class AtomicOutputFile {
public:
  // Creates ".<name>.XXXXXX" next to `path` with the permissions of a
  // normally created file (0666 & ~umask). Throws OutputFileError when the
  // directory cannot take the file or `path` is a directory.
  explicit AtomicOutputFile(const std::string& path);
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
  // Removes the temporary file unless Commit succeeded.
  ~AtomicOutputFile();

  // The stream the maker writes to (binary mode).
  OutputStream Stream() const { return stream_; }
  const std::string& Path() const { return path_; }
  const std::string& TemporaryPath() const { return tempPath_; }

  // Flushes, syncs and closes the stream, then renames the temporary file
  // over Path(). Throws OutputFileError if any write failed (disk full, ...)
  // or the rename fails; the named file is then left as it was.
  void Commit();

private:
  std::string path_;
  std::string target_;  // path_ with a symbolic link resolved
  std::string tempPath_;
  int fd_ = -1;  // kept open until Commit so the data can be synced
  std::shared_ptr<std::ofstream> stream_;
  bool committed_ = false;
};

}  // namespace trelvix

#endif
