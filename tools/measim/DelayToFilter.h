// Fractional delays as Kaiser-windowed sinc filters.
#ifndef VESK_TOOLS_DELAYTOFILTER_H
#define VESK_TOOLS_DELAYTOFILTER_H

#include <cstddef>
#include <vector>

namespace vesktools {

struct FractionalDelayDesign {
  double half_width_samples = 127.0;  // taps reach this far either side of the delay
  double kaiser_beta = 8.0;           // about 80 dB side lobes
};

// The modified Bessel function of the first kind of order 0 (the Kaiser
// window's), by its power series sum ((x/2)^k / k!)^2 until a term falls
// below 1e-17 of the sum: to a few ulps for |x| up to the largest Kaiser beta
// (50). Unlike std::cyl_bessel_i it touches no global state (glibc's lgamma
// writes signgam), so it may run on several threads at once.
double BesselI0(double x);

// Adds gain * sinc(n - delay) * kaiser((n - delay) / halfWidth) to every
// response[n] with |n - delay| < halfWidth; delay in samples (fractional).
// With the default design the filter is a pure delay to within about 1e-4 in
// magnitude and phase up to 0.9 of the Nyquist frequency. Throws ToolError
// when the taps do not fit into the response (delay - halfWidth < 0 or
// delay + halfWidth > response length - 1).
void AddFractionalDelay(std::vector<double>& response, double delay_samples, double gain,
                        const FractionalDelayDesign& design);

// The same filter with the taps outside the response cut instead of refused.
void AddFractionalDelayCut(std::vector<double>& response, double delay_samples, double gain,
                           const FractionalDelayDesign& design);

// A Kaiser-windowed sinc of a short half-width, tabulated at 1/64 sample and
// interpolated linearly (for the many late images of a room): Add() gives
// the same sum as AddFractionalDelayCut with this design, to about 1e-4.
class TabulatedDelayFilter {
public:
  TabulatedDelayFilter(int half_width_samples, double kaiser_beta);
  void Add(std::vector<double>& response, double delay_samples, double gain) const;

private:
  int halfWidth_;
  std::vector<double> table_;  // (kSteps + 1) rows of 2 * halfWidth_ taps
};

}  // namespace vesktools

#endif
