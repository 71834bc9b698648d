// Synchronous addition: the periods of a recording, summed per channel
// while the recording streams past.
#ifndef DRAVIK_PERIOD_AVERAGE_H
#define DRAVIK_PERIOD_AVERAGE_H

#include <cstdint>
#include <vector>

#include "Recording.h"

namespace dravik {

// Period sums of the selected channels, kept interleaved like the frames
// ([position][selected channel]) so that adding a block walks both in
// memory order.
class PeriodSums {
public:
  PeriodSums() = default;

  // Sums, for every channel number in `channels` (each below
  // recording.channels()), x[offset + k·N + i] over k = 0..F-1 in
  // ascending k, i = 0..N-1. Frames [offset, offset + N·F) must lie inside
  // the announced frame count; frames the file fails to deliver count as
  // 0. Throws std::bad_alloc.
  // A 16-bit recording is summed as integers and scaled by 2^-15 at the
  // end: every partial sum of such samples is exact in a double, so the
  // result is the same to the last bit as summing the double samples.
  void add_periods(Recording& recording, int offset, int period_samples, int periods, const std::vector<int>& channels);

  // The average period v[i] = sum[i] / F of the c-th selected channel into
  // out[i · out_stride], i = 0..N-1.
  void average(std::size_t c, double* out, std::size_t out_stride = 1) const;

  std::size_t channel_count() const { return selected_; }

private:
  template <typename Sum, typename Sample>
  void add_block(std::vector<Sum>& sums, const Sample* block, long long first_frame, int frames, int offset, int stride,
                 const std::vector<int>& channels, bool all_in_order);

  std::vector<double> sums_;              // double samples
  std::vector<std::int32_t> pcm16_sums_;  // raw 16-bit samples, when used
  bool integer_ = false;                  // which of the two holds the sums
  std::size_t selected_ = 0;
  int period_samples_ = 0;
  int periods_ = 1;
};

}  // namespace dravik

#endif
