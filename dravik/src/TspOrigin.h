// The played TSP ("origin"): a raw little-endian float32 file or one channel
// of a PCM wave, turned into the reference signal of the run.
#ifndef DRAVIK_TSP_ORIGIN_H
#define DRAVIK_TSP_ORIGIN_H

#include <string>
#include <vector>

#include "Settings.h"

namespace dravik {

// Size of a file in bytes, or -1 when it cannot be opened.
long long tsp_file_size(const std::string& path);

// Reads `size_bytes` bytes of little-endian float32 samples into *samples
// and their largest magnitude into *max_magnitude. Returns 0, or -1 when the
// size is not a multiple of 4, the file cannot be opened or reads short.
int read_float_file(const std::string& path, long long size_bytes, std::vector<double>* samples, double* max_magnitude);

// Loads the origin that `settings` names and prints the loader's messages.
// On success *reference holds P >= N samples (N = sample_by_frame); for a
// float origin the first N are divided by the adjust ratio (the largest
// magnitude unless --sigmax gave one), the rest stay unscaled; a wave
// origin is used in libsndfile's scale (full scale = 1.0). Returns 0, or
// -1 after printing why (unreadable, shorter than N samples, or silent in
// its first N samples; a wave channel the file does not have).
int load_tsp_reference(const RunSettings& settings, std::vector<double>* reference);

}  // namespace dravik

#endif
