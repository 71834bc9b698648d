#include "Fft.h"

#include <new>

namespace dravik {
namespace {

template <typename T>
T* allocate_or_throw(std::size_t count) {
    void* memory = fftw_malloc(sizeof(T) * count);
    if (!memory) throw std::bad_alloc();
    return static_cast<T*>(memory);
}

FftwPlan plan_or_throw(fftw_plan plan) {
    if (!plan) throw std::bad_alloc();
    return FftwPlan(plan);
}

}  // namespace

Fft::Fft(int n)
    : n_(n),
      spectrum_(allocate_or_throw<fftw_complex>(n)),
      signal_(allocate_or_throw<fftw_complex>(n)) {}

void Fft::ensure_plans() {
    if (complex_forward_) return;
    complex_forward_ = plan_or_throw(
        fftw_plan_dft_1d(n_, signal_.get(), spectrum_.get(), FFTW_FORWARD, FFTW_ESTIMATE));
    complex_inverse_ = plan_or_throw(
        fftw_plan_dft_1d(n_, spectrum_.get(), signal_.get(), FFTW_BACKWARD, FFTW_ESTIMATE));
}

void Fft::forward_half(const double* x, double* re, double* im) {
    ensure_plans();
    for (int m = 0; m < n_; ++m) {
        signal_[m][0] = x[m];
        signal_[m][1] = 0.0;
    }
    fftw_execute(complex_forward_.get());
    for (int bin = 0; bin <= n_ / 2; ++bin) {
        re[bin] = spectrum_[bin][0];
        im[bin] = spectrum_[bin][1];
    }
}

void Fft::forward(const double* x, double* re, double* im) {
    forward_half(x, re, im);
    for (int bin = n_ / 2 + 1; bin < n_; ++bin) {
        re[bin] = re[n_ - bin];
        im[bin] = -im[n_ - bin];
    }
}

void Fft::inverse_half(const double* re, const double* im, double* x) {
    ensure_plans();
    // The spectrum of a real signal: bins above n/2 are the conjugates of
    // those below, and bins 0 and n/2 (n even) are real.
    for (int bin = 0; bin <= n_ / 2; ++bin) {
        spectrum_[bin][0] = re[bin];
        spectrum_[bin][1] = im[bin];
    }
    spectrum_[0][1] = 0.0;
    if (n_ % 2 == 0) spectrum_[n_ / 2][1] = 0.0;
    for (int bin = n_ / 2 + 1; bin < n_; ++bin) {
        spectrum_[bin][0] = re[n_ - bin];
        spectrum_[bin][1] = -im[n_ - bin];
    }
    fftw_execute(complex_inverse_.get());
    for (int m = 0; m < n_; ++m) x[m] = signal_[m][0];
}

void Fft::inverse(const double* xre, const double* xim, double* re, double* im) {
    ensure_plans();
    for (int bin = 0; bin < n_; ++bin) {
        spectrum_[bin][0] = xre[bin];
        spectrum_[bin][1] = xim[bin];
    }
    fftw_execute(complex_inverse_.get());
    for (int m = 0; m < n_; ++m) {
        re[m] = signal_[m][0];
        im[m] = signal_[m][1];
    }
}

ComplexFft::ComplexFft(int n)
    : n_(n),
      data_(allocate_or_throw<fftw_complex>(n)),
      forward_(plan_or_throw(fftw_plan_dft_1d(n, data_.get(), data_.get(), FFTW_FORWARD, FFTW_ESTIMATE))) {}

Fft& FftCache::get(int n) {
    std::unique_ptr<Fft>& slot = by_size_[n];
    if (!slot) slot = std::make_unique<Fft>(n);
    return *slot;
}

}  // namespace dravik
