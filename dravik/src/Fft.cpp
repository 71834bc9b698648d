#include "Fft.h"

#include <new>

namespace dravik {
namespace {

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
      data_(allocate_or_throw(n)),
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
