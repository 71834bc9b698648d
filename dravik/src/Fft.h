// Discrete Fourier transforms of one fixed length, through FFTW plans that
// are made once (FFTW_ESTIMATE, so results are identical run to run) and
// reused for every call.
#ifndef DRAVIK_FFT_H
#define DRAVIK_FFT_H

#include <fftw3.h>

#include <map>
#include <memory>

#include "base/FftwPlan.h"

namespace dravik {

using FftwPlan = vesk::FftwPlan;
using FftwComplexBuffer = vesk::FftwBuffer<fftw_complex[]>;

// In-place forward complex transform of length n (any n >= 1) on a buffer
// that the object owns, e^{-2πi·k·m/n}, no scaling; the plan is made once,
// here. There is no inverse plan: IDFT(X)·n = conj(DFT(conj(X))), and callers
// fold both conjugations into the loops that fill and empty the buffer, which
// saves making a second plan in every run. Complex plans only: under
// FFTW_ESTIMATE the real-to-half-spectrum plans of 16384 points take
// milliseconds to make, more than all the transforms of a typical run.
// Throws std::bad_alloc when FFTW cannot allocate, also where its planner
// would (it aborts instead of reporting).
class ComplexFft {
public:
  explicit ComplexFft(int n);
  int size() const { return n_; }
  fftw_complex* data() { return data_.get(); }
  void forward() { fftw_execute(forward_.get()); }

private:
  int n_;
  FftwComplexBuffer data_;
  FftwPlan forward_;
};

// Out-of-place transforms of length n (any n >= 1) on caller arrays, built
// on ComplexFft. Sign convention: forward uses e^{-2πi·k·m/n}, inverse
// e^{+2πi·k·m/n}; neither scales, callers divide by n. Throws std::bad_alloc.
class Fft {
public:
  explicit Fft(int n) : transform_(n) {}
  int size() const { return transform_.size(); }

  // Real input x[0..n-1] to the full spectrum re/im[0..n-1].
  void forward(const double* x, double* re, double* im);
  // Full complex spectrum to the full complex signal.
  void inverse(const double* xre, const double* xim, double* re, double* im);

private:
  ComplexFft transform_;
};

// One Fft per length, made on first request and kept for the run.
class FftCache {
public:
  Fft& get(int n);

private:
  std::map<int, std::unique_ptr<Fft>> by_size_;
};

}  // namespace dravik

#endif
