// The sound pressure on a rigid sphere (a head) from a point source: the
// analytic scattering series, and the impulse response it gives.
#ifndef VESK_TOOLS_SPHERETORESPONSE_H
#define VESK_TOOLS_SPHERETORESPONSE_H

#include <complex>
#include <cstddef>
#include <vector>

#include "GeometryToResponse.h"

namespace vesktools {

// Pressure at a point of a rigid sphere of radius a from a point source at
// distance r from its centre (r > a), relative to the free-field pressure the
// source would give at the centre, in the convention of the response's DFT
// (a delay tau is e^(-i omega tau), so p = 1 + (3/2) i ka cos + O((ka)^2)):
// the complex conjugate of the physical (e^(-i omega t))
//   -(e^(-ikr) / (k a^2)) r * sum_n (2n+1) P_n(cos_angle) h_n(kr) / h_n'(ka)
// with h_n = j_n + i y_n the outgoing spherical Hankel function; cos_angle is the cosine of
// the angle between the source's and the point's directions. ka and kr are
// radians, 0 < ka < kr (ToolError otherwise).
// The Hankel functions enter only as ratios h_n/h_(n-1) built by upward
// recursion, so nothing overflows at high ka. Terms are summed until one
// (without its P_n) falls below 1e-10 of the sum beyond n > ka; throws
// ToolError when that takes more than max_terms.
std::complex<double> SpherePressure(double ka, double kr, double cos_angle, std::size_t max_terms = 20000);

// Adds to `response` (n = 0 .. size-1) gain times the impulse response from a
// point source at `source` (metres, from the sphere's centre) to the point of
// the sphere of radius `radius_m` in the direction `mic` (any length):
// the spectrum (1/r) p(ka, kr, cos) e^(-i omega (latency/fs + r/c)), the free
// field's delay and 1/r convention (the static limit
// sum_n (2n+1)/(n+1) (a/r)^n P_n at 0 Hz), evaluated on a grid of at least
// 1024 points and band-limited by a raised-cosine taper from 0.9 of the Nyquist
// frequency to zero at it. The taps before sample 0 or beyond the end are
// cut. Throws ToolError when the source is not outside the sphere or the
// earliest arrival with the filter's half-width does not fit.
void AddSphereResponse(std::vector<double>& response, const Point3& source, const Point3& mic, double radius_m,
                       double gain, const ResponseSettings& settings);

}  // namespace vesktools

#endif
