// Synchronous addition: the periods of a recording, averaged per channel
// while the recording streams past.
#ifndef DRAVIK_PERIOD_AVERAGE_H
#define DRAVIK_PERIOD_AVERAGE_H

#include <vector>

#include "Recording.h"

namespace dravik {

// For every channel number in `channels` (each below recording.channels()):
// v[i] = (1/F)·Σ_{k=0}^{F-1} x[offset + k·N + i], i = 0..N-1, summed in
// ascending k. Frames [offset, offset + N·F) must lie inside the announced
// frame count; frames the file fails to deliver count as 0. Fills
// (*averages)[c] with N values for channels[c]. Throws std::bad_alloc.
void average_periods(Recording& recording, int offset, int period_samples, int periods,
                     const std::vector<int>& channels,
                     std::vector<std::vector<double>>* averages);

}  // namespace dravik

#endif
