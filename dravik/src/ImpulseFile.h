// Impulse responses into .flt files: raw little-endian float32, no header.
#ifndef DRAVIK_IMPULSE_FILE_H
#define DRAVIK_IMPULSE_FILE_H

#include <string>

#include "dravik/Invocation.h"

namespace dravik {

// Output name of the k-th selected channel (k from 1): "<head>_ch<k>.flt".
std::string impulse_file_name(const std::string& head, int ordinal);

// Writes `count` values narrowed to float (round to nearest) as 4-byte
// little-endian IEEE-754 words. The data goes to a temporary file in the
// same directory, renamed over `path` once complete, so `path` is either
// the whole new file or left as it was. Returns 0, or -1 on any failure
// (the temporary file is removed).
int write_float_file(const std::string& path, const double* values, int count);

}  // namespace dravik

#endif
