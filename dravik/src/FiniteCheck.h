// Non-finite samples (NaN, infinities) in the signals: found before they
// reach an impulse file, where one would turn whole responses into NaN.
#ifndef DRAVIK_FINITE_CHECK_H
#define DRAVIK_FINITE_CHECK_H

#include <string>
#include <vector>

#include "PeriodAverage.h"
#include "Recording.h"

namespace dravik {

// First non-finite sample of the reference (the scaled TSP origin). Returns
// 0 when there is none; else prints
// "tsp origin file(%s): sample %d is not a finite number.\n" and returns -1.
int check_reference_finite(const std::string& path, const std::vector<double>& reference);

// Frames [start, start + count) of the channels numbered in `channels`.
// Returns 0 when all are finite; else prints
// "wavefile(%s): channel %d, frame %lld is not a finite number.\n" for the
// first one (lowest frame, then lowest channel) and returns -1.
int check_region_finite(Recording& recording, const std::string& path, long long start, long long count,
                        const std::vector<int>& channels);

// The period sums of the selected channels, which are non-finite exactly
// when a sample of the window [offset, offset + N·F) is (double sums of
// float samples cannot overflow). Only then is the window read again to
// name the sample. Returns 0, or -1 after the message above.
int check_sums_finite(const PeriodSums& sums, Recording& recording, const std::string& path, int offset,
                      int period_samples, int periods, const std::vector<int>& channels);

}  // namespace dravik

#endif
