#include "PeriodAverage.h"

#include <algorithm>

namespace dravik {

void average_periods(Recording& recording, int offset, int period_samples, int periods,
                     const std::vector<int>& channels,
                     std::vector<std::vector<double>>* averages) {
    const int n = period_samples;
    const int stride = recording.channels();
    averages->assign(channels.size(), std::vector<double>(n, 0.0));
    if (channels.empty()) return;
    std::vector<double*> sums;
    for (std::vector<double>& sum : *averages) sums.push_back(sum.data());

    const long long total = static_cast<long long>(n) * periods;
    recording.read(offset, total, [&](const double* block, long long first_frame, int frames) {
        int i = static_cast<int>((first_frame - offset) % n);
        int f = 0;
        while (f < frames) {
            // Frames f..f+run-1 fall on consecutive period positions.
            int run = std::min(frames - f, n - i);
            for (std::size_t c = 0; c < channels.size(); ++c) {
                const double* src = block + static_cast<std::size_t>(f) * stride + channels[c];
                double* dst = sums[c] + i;
                for (int r = 0; r < run; ++r) dst[r] += src[static_cast<std::size_t>(r) * stride];
            }
            f += run;
            i = 0;
        }
    });
    for (std::vector<double>& sum : *averages) {
        for (double& value : sum) value /= periods;
    }
}

}  // namespace dravik
