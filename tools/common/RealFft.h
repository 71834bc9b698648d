// A real-to-complex / complex-to-real FFTW transform pair of one size, with
// its aligned buffers and plans owned here and reused for every call.
#ifndef VESK_TOOLS_REALFFT_H
#define VESK_TOOLS_REALFFT_H

#include <complex>
#include <cstddef>
#include <memory>

#include <fftw3.h>

#include "base/FftwPlan.h"

namespace vesktools {

// Size n (any n >= 1; powers of two are fastest) in double precision, plans
// made with FFTW_ESTIMATE so that results are byte-identical run to run.
// Forward: Spectrum()[k] = sum_t Time()[t] * exp(-2 pi i k t / n), k = 0..n/2.
// Inverse: Time()[t] = sum over all n bins of X[k] * exp(+2 pi i k t / n),
// unscaled (divide by n to invert Forward); it overwrites Spectrum().
class RealFft {
public:
  explicit RealFft(std::size_t n);
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  std::size_t Size() const { return n_; }
  std::size_t NumBins() const { return n_ / 2 + 1; }
  double* Time() { return time_.get(); }
  std::complex<double>* Spectrum() { return reinterpret_cast<std::complex<double>*>(spectrum_.get()); }
  void Forward() { fftw_execute(forward_.get()); }
  void Inverse() { fftw_execute(inverse_.get()); }

private:
  std::size_t n_;
  vesk::FftwBuffer<double> time_;
  vesk::FftwBuffer<fftw_complex> spectrum_;
  vesk::FftwPlan forward_;
  vesk::FftwPlan inverse_;
};

}  // namespace vesktools

#endif
