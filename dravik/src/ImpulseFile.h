// Impulse responses into .flt files: raw little-endian float32, no header.
#ifndef DRAVIK_IMPULSE_FILE_H
#define DRAVIK_IMPULSE_FILE_H

#include <string>

#include "dravik/Invocation.h"

namespace dravik {

// Output name of the k-th selected channel (k from 1): "<head>_ch<k>.flt".
std::string impulse_file_name(const std::string& head, int ordinal);

// Writes `count` values narrowed to float (round to nearest) as 4-byte
// little-endian IEEE-754 words to the output target `path` (a regular file
// is replaced whole or left as it was; a FIFO or device is written into).
// Returns 0, or -1 on any failure with the system's reason in *reason.
int write_float_file(const std::string& path, const double* values, int count, std::string* reason = nullptr);

}  // namespace dravik

#endif
