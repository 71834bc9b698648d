#include "CaptureToLatency.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "base/RealFft.h"
#include "SpectrumToDelay.h"
#include "ToolError.h"

namespace vesktools {

constexpr std::size_t kHeadFrames = 131072;

struct LatencyMeter::Impl {
  explicit Impl(std::size_t n) : fft(n), estimator(n, 1, false), played(n / 2 + 1), cross(n / 2 + 1) {}
  vesk::RealFft<double> fft;
  DelayEstimator estimator;
  std::vector<std::complex<double>> played, cross;
  std::size_t captureFrames = 0;
  std::size_t period = 0, head = 0;  // frames
  double energy = 0;
  std::size_t binLo = 1, binHi = 1;
};

LatencyMeter::LatencyMeter(const std::vector<float>& fullPlayback, std::size_t captureFrames, long maxFrames,
                           int rateHz, std::size_t periodFrames) {
  // The playback's head is enough to find it, and keeps the transform small
  // whatever the take's length. Linear, not circular, correlation: room for
  // both signals.
  const std::vector<float> playback(fullPlayback.begin(),
                                    fullPlayback.begin() + std::min<std::size_t>(fullPlayback.size(), kHeadFrames));
  captureFrames = std::min<std::size_t>(captureFrames, playback.size() + static_cast<std::size_t>(maxFrames));
  std::size_t n = 1024;
  while (n < captureFrames + playback.size()) n *= 2;
  impl_ = std::make_unique<Impl>(n);
  impl_->captureFrames = captureFrames;
  impl_->period = periodFrames;
  impl_->head = playback.size();
  double* t = impl_->fft.Time();
  std::fill(t, t + n, 0.0);
  for (std::size_t i = 0; i < playback.size(); ++i) {
    t[i] = playback[i];
    impl_->energy += double(playback[i]) * playback[i];
  }
  if (!(impl_->energy > 0)) throw ToolError("the playback is silent: no latency can be measured");
  impl_->fft.Forward();
  std::copy(impl_->fft.Spectrum(), impl_->fft.Spectrum() + n / 2 + 1, impl_->played.begin());
  // 100 Hz to 0.8 of Nyquist: where a loudspeaker-free loopback is flat.
  impl_->binLo = std::max<std::size_t>(1, static_cast<std::size_t>(100.0 * n / rateHz));
  impl_->binHi = static_cast<std::size_t>(0.4 * n);
}

LatencyMeter::~LatencyMeter() = default;

Latency LatencyMeter::Measure(const std::vector<float>& capture, unsigned int channels, unsigned int channel,
                              long maxFrames) {
  Impl& m = *impl_;
  const std::size_t n = m.fft.Size();
  double* t = m.fft.Time();
  std::fill(t, t + n, 0.0);
  for (std::size_t f = 0; f < m.captureFrames; ++f) t[f] = capture[f * channels + channel];
  m.fft.Forward();
  const std::complex<double>* x = m.fft.Spectrum();
  for (std::size_t k = 0; k <= n / 2; ++k) m.cross[k] = x[k] * std::conj(m.played[k]);
  std::copy(m.cross.begin(), m.cross.end(), m.fft.Spectrum());
  m.fft.Inverse();  // unscaled: n times the correlation
  Latency out;
  double best = -1e300;
  const long last = std::min<long>(maxFrames, static_cast<long>(m.captureFrames) - 1);
  for (long d = 0; d <= last; ++d)
    if (t[d] > best) {
      best = t[d];
      out.frames = d;
    }
  // A TSP played period after period matches one period later as well as
  // at the latency itself, so rounding may pick the alias. One period too
  // early, the head's first period meets the silence before the loopback:
  // the correlation falls by period / head of the best. Steps back while it
  // falls by less than half that.
  if (m.period > 0 && m.period < m.head) {
    const long period = static_cast<long>(m.period);
    const double tolerance = 0.5 * double(m.period) / double(m.head);
    while (out.frames - period >= 0 && t[out.frames - period] >= (1.0 - tolerance) * t[out.frames])
      out.frames -= period;
  }
  out.peakRatio = t[out.frames] / double(n) / m.energy;
  const double fine = WrapDelay(m.estimator.Estimate(m.cross.data(), false, m.binLo, m.binHi, 0.0), double(n));
  // The phase slope is finer but can slip by whole periods on a poor
  // loopback; the peak decides the whole samples.
  out.fine = std::fabs(fine - double(out.frames)) < 1.0 ? fine : double(out.frames);
  if (std::fabs(fine - double(out.frames)) < 0.5) out.frames = std::lround(fine);
  return out;
}

}  // namespace vesktools
