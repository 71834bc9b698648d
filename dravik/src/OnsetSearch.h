// Search for the TSP onset: a region of the recording cross-correlated with
// the TSP reference, reduced to one start offset.
#ifndef DRAVIK_ONSET_SEARCH_H
#define DRAVIK_ONSET_SEARCH_H

#include <vector>

#include "Fft.h"
#include "Recording.h"
#include "Settings.h"

namespace dravik {

// Number of running-maximum raises remembered, the distance (samples) and
// level (share of the best magnitude) at which an earlier peak is preferred,
// and the margin (samples) kept before the onset.
constexpr int kPeakHistory = 10;
constexpr int kEarlierPeakDistance = 12288;
constexpr double kEarlierPeakLevel = 0.5;
constexpr int kOnsetMargin = 50;

// Peak rule over magnitude[0..lags-1]: running maximum (strict raises, the
// lags of the last ten kept), then the newest-to-oldest history is scanned
// for a lag more than 12288 samples before the best with over half its
// magnitude. Returns the chosen lag, or -1 when the history holds lag 0
// (fewer than ten raises after lag 0).
int pick_onset_lag(const std::vector<double>& magnitude, int lags);

// Largest power of two not above `length` (>= 1), computed through the
// natural logarithm as the search always has.
int search_transform_length(int length);

// One channel: region[0..region_length-1] holds samples [region_start, ...)
// of the channel, reference[0..reference_length-1] the TSP. Both enter
// M-point transforms (M = search_transform_length(max of both lengths)),
// cut or zero-padded. Correlation q = IDFT(DFT(region)·conj'(DFT(ref)))
// unscaled, where conj' leaves the sign of bin M-1; |q| is examined at lags
// 0..M-2. Prints the found and suggested offsets and returns
// region_start + lag - 50, or 0 when no onset was found or memory ran out
// ("Can't_allocate_memory.\n" on stderr).
int search_start_offset(FftCache& ffts, const double* region, int region_length, const std::vector<double>& reference,
                        int region_start);

// The search over every channel in `channels` (ascending): clamps and widens
// the region of `settings` (updated in place) as it goes, printing its
// messages, and gives in *first_offset the smallest suggestion, starting
// from the given region end. Returns 0, or -1 after
// "ERROR: Search length is under tsp size. But there is not enough area on impulse."
// when the region cannot hold the TSP inside the recording.
int search_first_offset(Recording& recording, const std::vector<int>& channels, const std::vector<double>& reference,
                        FftCache& ffts, RunSettings* settings, int* first_offset);

}  // namespace dravik

#endif
