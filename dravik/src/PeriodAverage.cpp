#include "PeriodAverage.h"

#include <algorithm>

namespace dravik {
namespace {

// Up to this many periods the sums of 16-bit samples fit an int32:
// 65536 · 32768 = 2^31, and the largest positive sum is 65536 · 32767.
constexpr int kMaxPcm16Periods = 65536;

constexpr double kPcm16Scale = 1.0 / 32768.0;  // libsndfile's double scale

}  // namespace

template <typename Sum, typename Sample>
void PeriodSums::add_block(std::vector<Sum>& sums, const Sample* block, long long first_frame, int frames, int offset,
                           int stride, const std::vector<int>& channels, bool all_in_order) {
  const int n = period_samples_;
  const std::size_t selected = selected_;
  int i = static_cast<int>((first_frame - offset) % n);
  int f = 0;
  while (f < frames) {
    // Frames f .. f+run-1 fall on consecutive period positions.
    const int run = std::min(frames - f, n - i);
    Sum* dst = sums.data() + static_cast<std::size_t>(i) * selected;
    const Sample* src = block + static_cast<std::size_t>(f) * stride;
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
}

void PeriodSums::add_periods(Recording& recording, int offset, int period_samples, int periods,
                             const std::vector<int>& channels) {
  const int stride = recording.channels();
  const std::size_t selected = channels.size();
  selected_ = selected;
  period_samples_ = period_samples;
  periods_ = periods;
  sums_.clear();
  pcm16_sums_.clear();
  const std::size_t values = static_cast<std::size_t>(period_samples) * selected;
  const bool integer = recording.is_pcm16() && periods <= kMaxPcm16Periods;
  integer_ = integer;
  if (integer) {
    pcm16_sums_.assign(values, 0);
  } else {
    sums_.assign(values, 0.0);
  }
  if (selected == 0) return;
  bool all_in_order = static_cast<int>(selected) == stride;
  for (std::size_t c = 0; c < selected; ++c) {
    all_in_order = all_in_order && channels[c] == static_cast<int>(c);
  }

  const long long total = static_cast<long long>(period_samples) * periods;
  if (integer) {
    recording.read_pcm16(offset, total, [&](const short* block, long long first_frame, int frames) {
      add_block(pcm16_sums_, block, first_frame, frames, offset, stride, channels, all_in_order);
    });
  } else {
    recording.read(offset, total, [&](const double* block, long long first_frame, int frames) {
      add_block(sums_, block, first_frame, frames, offset, stride, channels, all_in_order);
    });
  }
}

void PeriodSums::average(std::size_t c, double* out, std::size_t out_stride) const {
  const std::size_t stride = selected_;
  if (integer_) {
    const std::int32_t* sum = pcm16_sums_.data() + c;
    for (int i = 0; i < period_samples_; ++i) {
      out[i * out_stride] = sum[static_cast<std::size_t>(i) * stride] * kPcm16Scale / periods_;
    }
    return;
  }
  const double* sum = sums_.data() + c;
  for (int i = 0; i < period_samples_; ++i) {
    out[i * out_stride] = sum[static_cast<std::size_t>(i) * stride] / periods_;
  }
}

}  // namespace dravik
