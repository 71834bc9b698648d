// dravik's readers of outside files: the input is read as a recording
// through libsndfile and as a raw float32 TSP origin. Either reads or is
// refused; a read never delivers more frames than asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MemoryFile.h"
#include "Recording.h"
#include "TspOrigin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  if (!file.ok()) return 0;
  dravik::Recording recording;
  if (recording.open(file.path())) {
    const long long want = recording.frames() < 70000 ? recording.frames() : 70000;
    long long seen = 0;
    const long long got = recording.read(0, want, [&](const double*, long long first, int frames) {
      if (first != seen || frames <= 0) std::abort();
      seen += frames;
    });
    if (got > want || got != seen) std::abort();
  }
  std::vector<double> samples;
  double peak = 0;
  const long long bytes = dravik::tsp_file_size(file.path());
  if (dravik::read_float_file(file.path(), bytes, &samples, &peak) == 0 &&
      samples.size() != static_cast<size_t>(bytes / 4))
    std::abort();
  return 0;
}
