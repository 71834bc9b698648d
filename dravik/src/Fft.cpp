#include "Fft.h"

#include <cstdlib>
#include <new>

namespace dravik {
namespace {

// FFTW's planner ends the process when one of its own allocations fails,
// so room for them (a few times the transform's buffer, plus its tables)
// is asked for first; asked for and given back, it is there for the planner.
std::size_t reserve_planner_room(std::size_t count) {
  const std::size_t bytes = 4 * sizeof(fftw_complex) * count + (std::size_t(4) << 20);
  auto* probe = static_cast<volatile char*>(std::malloc(bytes));
  if (!probe) throw std::bad_alloc();
  probe[0] = 0;  // used, so that the request is not optimised away
  probe[bytes - 1] = 0;
  std::free(const_cast<char*>(probe));
  return count;
}

fftw_complex* allocate_or_throw(std::size_t count) {
  void* memory = fftw_malloc(sizeof(fftw_complex) * count);
  if (!memory) throw std::bad_alloc();
  return static_cast<fftw_complex*>(memory);
}

FftwPlan plan_or_throw(fftw_plan plan) {
  if (!plan) throw std::bad_alloc();
  return FftwPlan(plan);
}

}  // namespace

ComplexFft::ComplexFft(int n)
    : n_(n),
      data_(allocate_or_throw(reserve_planner_room(n))),
      forward_(plan_or_throw(fftw_plan_dft_1d(n, data_.get(), data_.get(), FFTW_FORWARD, FFTW_ESTIMATE))) {}

void Fft::forward(const double* x, double* re, double* im) {
  fftw_complex* z = transform_.data();
  const int n = size();
  for (int m = 0; m < n; ++m) {
    z[m][0] = x[m];
    z[m][1] = 0.0;
  }
  transform_.forward();
  for (int bin = 0; bin < n; ++bin) {
    re[bin] = z[bin][0];
    im[bin] = z[bin][1];
  }
}

void Fft::inverse(const double* xre, const double* xim, double* re, double* im) {
  fftw_complex* z = transform_.data();
  const int n = size();
  for (int bin = 0; bin < n; ++bin) {
    z[bin][0] = xre[bin];
    z[bin][1] = -xim[bin];
  }
  transform_.forward();  // conjugated: the inverse transform
  for (int m = 0; m < n; ++m) {
    re[m] = z[m][0];
    im[m] = -z[m][1];
  }
}

Fft& FftCache::get(int n) {
  std::unique_ptr<Fft>& slot = by_size_[n];
  if (!slot) slot = std::make_unique<Fft>(n);
  return *slot;
}

}  // namespace dravik
