#include "FiniteCheck.h"

#include <cmath>
#include <cstdio>

namespace dravik {

int check_reference_finite(const std::string& path, const std::vector<double>& reference) {
  for (std::size_t m = 0; m < reference.size(); ++m) {
    if (!std::isfinite(reference[m])) {
      std::printf("tsp origin file(%s): sample %zu is not a finite number.\n", path.c_str(), m);
      return -1;
    }
  }
  return 0;
}

int check_region_finite(Recording& recording, const std::string& path, long long start, long long count,
                        const std::vector<int>& channels) {
  if (recording.is_pcm16() || channels.empty() || count <= 0) return 0;
  const int stride = recording.channels();
  long long bad_frame = -1;
  int bad_channel = -1;
  recording.read(start, count, [&](const double* block, long long first_frame, int frames) {
    for (int f = 0; f < frames && bad_frame < 0; ++f) {
      for (int channel : channels) {
        if (!std::isfinite(block[static_cast<std::size_t>(f) * stride + channel])) {
          bad_frame = first_frame + f;
          bad_channel = channel;
          break;
        }
      }
    }
  });
  if (bad_frame < 0) return 0;
  std::printf("wavefile(%s): channel %d, frame %lld is not a finite number.\n", path.c_str(), bad_channel, bad_frame);
  return -1;
}

int check_sums_finite(const PeriodSums& sums, Recording& recording, const std::string& path, int offset,
                      int period_samples, int periods, const std::vector<int>& channels) {
  std::vector<double> average(static_cast<std::size_t>(period_samples));
  for (std::size_t c = 0; c < sums.channel_count(); ++c) {
    sums.average(c, average.data());
    for (double v : average) {
      if (std::isfinite(v)) continue;
      const long long window = static_cast<long long>(period_samples) * periods;
      if (check_region_finite(recording, path, offset, window, channels) < 0) return -1;
      std::printf("wavefile(%s): channel %d: the sum of its periods is not a finite number.\n", path.c_str(),
                  channels[c]);
      return -1;
    }
  }
  return 0;
}

}  // namespace dravik
