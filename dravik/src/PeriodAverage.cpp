#include "PeriodAverage.h"

#include <algorithm>

namespace dravik {

void PeriodSums::add_periods(Recording& recording, int offset, int period_samples, int periods,
                             const std::vector<int>& channels) {
    const int n = period_samples;
    const int stride = recording.channels();
    const std::size_t selected = channels.size();
    selected_ = selected;
    period_samples_ = n;
    periods_ = periods;
    sums_.assign(static_cast<std::size_t>(n) * selected, 0.0);
    if (selected == 0) return;
    bool all_in_order = static_cast<int>(selected) == stride;
    for (std::size_t c = 0; c < selected; ++c) {
        all_in_order = all_in_order && channels[c] == static_cast<int>(c);
    }

    const long long total = static_cast<long long>(n) * periods;
    recording.read(offset, total, [&](const double* block, long long first_frame, int frames) {
        int i = static_cast<int>((first_frame - offset) % n);
        int f = 0;
        while (f < frames) {
            // Frames f .. f+run-1 fall on consecutive period positions.
            const int run = std::min(frames - f, n - i);
            double* dst = sums_.data() + static_cast<std::size_t>(i) * selected;
            const double* src = block + static_cast<std::size_t>(f) * stride;
            if (all_in_order) {
                const std::size_t count = static_cast<std::size_t>(run) * selected;
                for (std::size_t s = 0; s < count; ++s) dst[s] += src[s];
            } else {
                for (int r = 0; r < run; ++r) {
                    for (std::size_t c = 0; c < selected; ++c) dst[c] += src[channels[c]];
                    dst += selected;
                    src += stride;
                }
            }
            f += run;
            i = 0;
        }
    });
}

void PeriodSums::average(std::size_t c, double* out) const {
    const double* sum = sums_.data() + c;
    for (int i = 0; i < period_samples_; ++i) out[i] = sum[static_cast<std::size_t>(i) * selected_] / periods_;
}

}  // namespace dravik
