// The .flt impulse-response file: raw little-endian IEEE-754 float32 samples,
// no header, no trailer.
#ifndef TRELVIX_PROVIDER_READFLT_H
#define TRELVIX_PROVIDER_READFLT_H

#include <istream>
#include <string>
#include <vector>

namespace trelvix {

// Every whole group of 4 bytes becomes one sample (little-endian on any
// host); a tail of 1 to 3 bytes is dropped. A stream that failed to open
// gives an empty vector. Throws nothing of its own.
std::vector<float> ReadFlt(std::istream& in);

// ReadFlt of the file at `path`. Anything but a regular file (a device such
// as /dev/zero, a pipe, a directory) counts as a file that cannot be opened
// and gives an empty vector: such a stream may never end. When the result
// is empty, *problem (if given) says why.
std::vector<float> ReadFltFile(const std::string& path, std::string* problem = nullptr);

}  // namespace trelvix

#endif
