// The one test of what a reader may open: readers that need a file's end or
// its size refuse anything else as "not a regular file".
#ifndef VESKIO2_REGULARFILE_H
#define VESKIO2_REGULARFILE_H

#include <sys/stat.h>

#include <string>

namespace veskio2 {

inline constexpr const char* kNotRegularFile = "not a regular file";

// True when `path` exists and is not a regular file: a FIFO (whose open
// blocks until a writer comes), a device such as /dev/zero (which never
// ends) or a directory. A missing path is left to the caller's open, which
// names the reason.
inline bool ExistsButNotRegular(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace veskio2

#endif
