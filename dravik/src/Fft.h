// Discrete Fourier transforms of one fixed length, through FFTW plans that
// are made once (FFTW_ESTIMATE, so results are identical run to run) and
// reused for every call.
#ifndef DRAVIK_FFT_H
#define DRAVIK_FFT_H

#include <fftw3.h>

#include <map>
#include <memory>

namespace dravik {

struct FftwPlanDeleter {
    void operator()(fftw_plan_s* plan) const { fftw_destroy_plan(plan); }
};
struct FftwMemoryDeleter {
    void operator()(void* memory) const { fftw_free(memory); }
};
using FftwPlan = std::unique_ptr<fftw_plan_s, FftwPlanDeleter>;
using FftwComplexBuffer = std::unique_ptr<fftw_complex[], FftwMemoryDeleter>;
using FftwRealBuffer = std::unique_ptr<double[], FftwMemoryDeleter>;

// Transforms of length n (any n >= 1). Sign convention: forward uses
// e^{-2πi·k·m/n}, inverse e^{+2πi·k·m/n}; neither scales, callers divide
// by n. Plans are made on first use. Throws std::bad_alloc when FFTW cannot
// allocate. Every transform is a complex one: under FFTW_ESTIMATE the
// real-to-half-spectrum plans of 16384 points take milliseconds to make,
// more than all the transforms of a typical run, the complex ones a tenth.
class Fft {
public:
    explicit Fft(int n);
    int size() const { return n_; }

    // Real input x[0..n-1] to the full spectrum re/im[0..n-1].
    void forward(const double* x, double* re, double* im);
    // Real input x[0..n-1] to the half spectrum re/im[0..n/2] (the other
    // bins are the complex conjugates of these).
    void forward_half(const double* x, double* re, double* im);
    // Half spectrum re/im[0..n/2] of a real signal to x[0..n-1]; the
    // imaginary parts of bin 0 (and of bin n/2 when n is even) are ignored.
    void inverse_half(const double* re, const double* im, double* x);
    // Full complex spectrum to the full complex signal.
    void inverse(const double* xre, const double* xim, double* re, double* im);

private:
    void ensure_plans();

    int n_;
    FftwComplexBuffer spectrum_;
    FftwComplexBuffer signal_;
    FftwPlan complex_forward_;  // signal_ to spectrum_
    FftwPlan complex_inverse_;  // spectrum_ to signal_
};

// In-place forward complex transform of length n (any n >= 1) on a buffer
// that the object owns, e^{-2πi·k·m/n}, no scaling; the plan is made once,
// here. There is no inverse plan: IDFT(X)·n = conj(DFT(conj(X))), and callers
// fold both conjugations into the loops that fill and empty the buffer, which
// saves making a second plan in every run. Throws std::bad_alloc when FFTW
// cannot allocate.
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

// One Fft per length, made on first request and kept for the run.
class FftCache {
public:
    Fft& get(int n);

private:
    std::map<int, std::unique_ptr<Fft>> by_size_;
};

}  // namespace dravik

#endif
