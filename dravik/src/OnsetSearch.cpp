#include "OnsetSearch.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>

namespace dravik {

int search_transform_length(int length) {
  return static_cast<int>(std::pow(2.0, std::floor(std::log(static_cast<double>(length)) / 0.6931471805599453)));
}

int pick_onset_lag(const std::vector<double>& magnitude, int lags) {
  int history[kPeakHistory] = {0};
  double peak = 0.0;
  int best = 0;
  for (int lag = 0; lag < lags; ++lag) {
    if (magnitude[lag] > peak) {
      std::copy_backward(history, history + kPeakHistory - 1, history + kPeakHistory);
      history[0] = lag;
      peak = magnitude[lag];
      best = lag;
    }
  }
  for (int h : history) {
    if (h < best - kEarlierPeakDistance && magnitude[h] > kEarlierPeakLevel * magnitude[best]) {
      best = h;
    }
    if (h == 0) return -1;
  }
  return best;
}

int search_start_offset(FftCache& ffts, const double* region, int region_length, const std::vector<double>& reference,
                        int region_start) {
  try {
    const int reference_length = static_cast<int>(reference.size());
    const int m_size = search_transform_length(std::max(reference_length, region_length));
    Fft& fft = ffts.get(m_size);
    std::vector<double> padded(m_size, 0.0);
    std::vector<double> region_re(m_size), region_im(m_size);
    std::vector<double> ref_re(m_size), ref_im(m_size);
    std::copy(region, region + std::min(region_length, m_size), padded.begin());
    fft.forward(padded.data(), region_re.data(), region_im.data());
    std::fill(padded.begin(), padded.end(), 0.0);
    std::copy(reference.begin(), reference.begin() + std::min(reference_length, m_size), padded.begin());
    fft.forward(padded.data(), ref_re.data(), ref_im.data());
    // The last bin keeps its sign: the correlation the offsets were
    // tuned on was computed this way.
    for (int bin = 0; bin < m_size - 1; ++bin) ref_im[bin] = -ref_im[bin];
    std::vector<double> cross_re(m_size), cross_im(m_size);
    for (int bin = 0; bin < m_size; ++bin) {
      cross_re[bin] = ref_re[bin] * region_re[bin] - ref_im[bin] * region_im[bin];
      cross_im[bin] = region_im[bin] * ref_re[bin] + ref_im[bin] * region_re[bin];
    }
    std::vector<double> corr_re(m_size), corr_im(m_size);
    fft.inverse(cross_re.data(), cross_im.data(), corr_re.data(), corr_im.data());
    const int lags = m_size - 1;
    std::vector<double> magnitude(std::max(lags, 0));
    for (int lag = 0; lag < lags; ++lag) {
      magnitude[lag] = std::sqrt(corr_re[lag] * corr_re[lag] + corr_im[lag] * corr_im[lag]);
    }
    int best = pick_onset_lag(magnitude, lags);
    if (best < 0) return 0;
    // A lag beyond a short region can pass the last int sample index.
    const long long found = std::min<long long>(static_cast<long long>(region_start) + best, INT_MAX);
    std::printf("searched offset = %d\n", static_cast<int>(found));
    std::printf("suggest start offset = %d\n", static_cast<int>(found - kOnsetMargin));
    return static_cast<int>(found - kOnsetMargin);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Can't_allocate_memory.\n");
    return 0;
  }
}

namespace {

// Samples [start, end) of the searched channels, read once and read again
// only when the region moves.
struct RegionCache {
  int start = -1;
  int end = -1;
  std::vector<std::vector<double>> samples;  // one per searched channel
};

void load_region(Recording& recording, const std::vector<int>& channels, int start, int end, RegionCache* cache) {
  if (cache->start == start && cache->end == end) return;
  cache->start = start;
  cache->end = end;
  cache->samples.assign(channels.size(), std::vector<double>());
  const int stride = recording.channels();
  // Filled as frames arrive, so a header that announces more frames than
  // the file holds costs no memory; the region ends where the data ends.
  recording.read(start, static_cast<long long>(end) - start, [&](const double* block, long long, int frames) {
    for (std::size_t c = 0; c < channels.size(); ++c) {
      std::vector<double>& out = cache->samples[c];
      for (int f = 0; f < frames; ++f) {
        out.push_back(block[static_cast<std::size_t>(f) * stride + channels[c]]);
      }
    }
  });
}

int refuse_region() {
  std::puts("ERROR: Search length is under tsp size. But there is not enough area on impulse.");
  return -1;
}

}  // namespace

int search_first_offset(Recording& recording, const std::vector<int>& channels, const std::vector<double>& reference,
                        FftCache& ffts, RunSettings* settings, int* first_offset) {
  const long long frames = recording.frames();
  const long long tsp_length = static_cast<long long>(reference.size());
  int first = settings->search_end;
  RegionCache cache;
  for (std::size_t c = 0; c < channels.size(); ++c) {
    long long start = settings->search_start;
    long long end = settings->search_end;
    if (end > frames) end = frames;
    if (end - start < tsp_length) {
      if (start - tsp_length >= 0) {
        start -= tsp_length;
        std::printf("INFO: Search length is under tsp size. So changing search start pos = %d.\n",
                    static_cast<int>(start));
      } else {
        end += tsp_length;
        if (end > frames) return refuse_region();
        std::printf("INFO: Search length is under tsp size. So changing search end pos = %d.\n", static_cast<int>(end));
      }
    }
    settings->search_start = static_cast<int>(start);
    settings->search_end = static_cast<int>(end);
    // A region that begins past the end of the recording stays empty
    // even after widening: nothing there can be searched.
    if (end <= start) return refuse_region();
    try {
      load_region(recording, channels, settings->search_start, settings->search_end, &cache);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "Can't_allocate_memory.\n");
      cache = RegionCache();
      first = std::min(first, 0);
      continue;
    }
    const std::vector<double>& region = cache.samples[c];
    int suggestion =
        search_start_offset(ffts, region.data(), static_cast<int>(region.size()), reference, settings->search_start);
    first = std::min(first, suggestion);
  }
  *first_offset = first;
  return 0;
}

}  // namespace dravik
