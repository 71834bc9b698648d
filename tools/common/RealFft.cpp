#include "RealFft.h"

#include <mutex>
#include <new>
#include <string>

#include "ToolError.h"

namespace vesktools {

RealFft::RealFft(std::size_t n) : n_(n) {
  if (n == 0) throw ToolError("FFT size must be at least 1");
  time_.reset(static_cast<double*>(fftw_malloc(sizeof(double) * n)));
  spectrum_.reset(static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (n / 2 + 1))));
  if (!time_ || !spectrum_) throw std::bad_alloc();
  const int size = static_cast<int>(n);
  std::lock_guard<std::mutex> hold(vesk::FftwPlannerLock());  // plans may be made on several cores at once
  forward_.reset(fftw_plan_dft_r2c_1d(size, time_.get(), spectrum_.get(), FFTW_ESTIMATE));
  inverse_.reset(fftw_plan_dft_c2r_1d(size, spectrum_.get(), time_.get(), FFTW_ESTIMATE));
  if (!forward_ || !inverse_) throw ToolError("cannot plan an FFT of size " + std::to_string(n));
}

}  // namespace vesktools
