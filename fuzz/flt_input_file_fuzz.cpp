// The .flt reader the TF path runs (veskio2::flt::InputFile on a file):
// every whole sample reads back bit for bit, a window past the end is
// refused with a reason, and a file without a whole sample reads as none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FltBits.h"
#include "MemoryFile.h"
#include "veskio2/FltFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  if (!file.ok()) return 0;
  veskio2::flt::InputFile in(file.path());
  if (in.Samples() != size / 4) std::abort();
  if ((in.Samples() == 0) == in.Problem().empty()) std::abort();
  const std::vector<float> samples = in.ReadAll();
  CheckFltBits(data, size, samples);
  // A window that runs one sample past the end.
  float sample = 0;
  if (in.ReadWindow(in.Samples(), 1, &sample) || in.Problem().empty()) std::abort();
  return 0;
}
