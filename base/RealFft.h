// The real-to-complex and complex-to-real FFTW transforms of one size, in
// single (float) or double precision, with aligned buffers and plans owned
// here and reused for every call.
#ifndef VESK_BASE_REALFFT_H
#define VESK_BASE_REALFFT_H

#include <algorithm>
#include <complex>
#include <cstddef>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

#include <fftw3.h>

#include "base/FftwPlan.h"

namespace vesk {

namespace detail {

template <typename T>
struct FftwApi;

template <>
struct FftwApi<double> {
  using Complex = fftw_complex;
  using Plan = FftwPlan;
  template <typename U>
  using Buffer = FftwBuffer<U>;
  static double* AllocReal(std::size_t n) { return fftw_alloc_real(n); }
  static Complex* AllocComplex(std::size_t n) { return fftw_alloc_complex(n); }
  static fftw_plan Forward(int n, double* in, Complex* out) { return fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE); }
  static fftw_plan Inverse(int n, Complex* in, double* out) { return fftw_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE); }
  static void Execute(const Plan& plan) { fftw_execute(plan.get()); }
};

template <>
struct FftwApi<float> {
  using Complex = fftwf_complex;
  using Plan = FftwfPlan;
  template <typename U>
  using Buffer = FftwfBuffer<U>;
  static float* AllocReal(std::size_t n) { return fftwf_alloc_real(n); }
  static Complex* AllocComplex(std::size_t n) { return fftwf_alloc_complex(n); }
  static fftwf_plan Forward(int n, float* in, Complex* out) { return fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE); }
  static fftwf_plan Inverse(int n, Complex* in, float* out) { return fftwf_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE); }
  static void Execute(const Plan& plan) { fftwf_execute(plan.get()); }
};

}  // namespace detail

// Size n (any n >= 1; powers of two are fastest), T = float or double. Plans
// are made with FFTW_ESTIMATE, so results are byte-identical run to run.
// Forward: Spectrum()[k] = sum_t Time()[t] * exp(-2 pi i k t / n) for the
// bins k = 0 .. n/2 (NumBins() = n/2 + 1 values), unscaled.
// Inverse: Time()[t] = sum over all n bins of X[k] * exp(+2 pi i k t / n),
// the bins above n/2 being the conjugates of those stored, unscaled (divide
// by n to invert Forward); it overwrites Spectrum().
// Throws std::runtime_error for n = 0 or n beyond FFTW's int sizes or when a
// plan cannot be made, std::bad_alloc when the buffers cannot be had.
// Plans are made and destroyed under FftwPlannerLock(), so transforms may be
// made on any thread; each is run by one thread at a time.
template <typename T>
class RealFft {
  using Api = detail::FftwApi<T>;

public:
  explicit RealFft(std::size_t n) : n_(n) {
    if (n == 0) throw std::runtime_error("FFT size must be at least 1");
    if (n > static_cast<std::size_t>(0x7fffffff))
      throw std::runtime_error("cannot plan an FFT of size " + std::to_string(n));
    time_.reset(Api::AllocReal(n));
    spectrum_.reset(Api::AllocComplex(n / 2 + 1));
    if (!time_ || !spectrum_) throw std::bad_alloc();
    const int size = static_cast<int>(n);
    std::lock_guard<std::mutex> hold(FftwPlannerLock());  // transforms may be made on several cores at once
    forward_.reset(Api::Forward(size, time_.get(), spectrum_.get()));
    inverse_.reset(Api::Inverse(size, spectrum_.get(), time_.get()));
    if (!forward_ || !inverse_) throw std::runtime_error("cannot plan an FFT of size " + std::to_string(n));
  }
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  std::size_t Size() const { return n_; }
  std::size_t NumBins() const { return n_ / 2 + 1; }
  T* Time() { return time_.get(); }
  std::complex<T>* Spectrum() { return reinterpret_cast<std::complex<T>*>(spectrum_.get()); }
  void Forward() { Api::Execute(forward_); }
  void Inverse() { Api::Execute(inverse_); }

  // Forward of Size() samples read from `samples` into NumBins() values
  // written to `bins`.
  void Forward(const T* samples, std::complex<T>* bins) {
    std::copy(samples, samples + n_, time_.get());
    Forward();
    std::copy(Spectrum(), Spectrum() + NumBins(), bins);
  }

private:
  std::size_t n_;
  typename Api::template Buffer<T> time_;
  typename Api::template Buffer<typename Api::Complex> spectrum_;
  typename Api::Plan forward_;
  typename Api::Plan inverse_;
};

}  // namespace vesk

#endif
