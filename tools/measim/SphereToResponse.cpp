#include "SphereToResponse.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "base/RealFft.h"
#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {

std::complex<double> SpherePressure(double ka, double kr, double cos_angle, std::size_t max_terms) {
  using C = std::complex<double>;
  const double t = std::max(-1.0, std::min(1.0, cos_angle));
  double pPrev = 0.0, p = 1.0;  // P_(n-1), P_n
  if (!(ka > 0) || !(kr > ka)) {
    std::ostringstream msg;
    msg << "the sphere's series needs 0 < ka < kr, found ka " << ka << ", kr " << kr;
    throw ToolError(msg.str());
  }
  const C i(0.0, 1.0);
  // rho_n(x) = h_n(x) / h_(n-1)(x): rho_1 = 1/x - i, rho_(n+1) = (2n+1)/x - 1/rho_n.
  C rhoA = 1.0 / ka - i, rhoR = 1.0 / kr - i;
  // n = 0: h_0'/h_0 = -rho_1.
  C q = 1.0;  // h_n(kr)/h_n(ka) divided by h_0(kr)/h_0(ka)
  C sum = q / (-rhoA);
  int small = 0;
  for (std::size_t n = 1; n < max_terms; ++n) {
    const double nd = static_cast<double>(n);
    q *= rhoR / rhoA;
    const C dn = 1.0 / rhoA - (nd + 1.0) / ka;  // h_n'(ka)/h_n(ka)
    const double pNext = ((2.0 * nd - 1.0) * t * p - (nd - 1.0) * pPrev) / nd;
    pPrev = p;
    p = pNext;
    const C coefficient = (2.0 * nd + 1.0) * q / dn;
    sum += coefficient * p;
    if (nd > ka && std::abs(coefficient) < 1e-10 * std::abs(sum)) {
      if (++small == 2) return std::conj(-std::exp(-i * ka) * sum / ka);
    } else {
      small = 0;
    }
    rhoA = (2.0 * nd + 1.0) / ka - 1.0 / rhoA;
    rhoR = (2.0 * nd + 1.0) / kr - 1.0 / rhoR;
  }
  std::ostringstream msg;
  msg << "the sphere's series did not converge in " << max_terms << " terms (ka " << ka << ", kr " << kr << ")";
  throw ToolError(msg.str());
}

namespace {

// The static (ka = 0) limit for a source at r from the centre of a sphere of
// radius a: sum_n (2n+1)/(n+1) (a/r)^n P_n(t).
double StaticPressure(double aOverR, double t) {
  double pPrev = 0.0, p = 1.0, power = 1.0, sum = 1.0;
  for (int n = 1; n < 100000; ++n) {
    const double pNext = ((2.0 * n - 1.0) * t * p - (n - 1.0) * pPrev) / n;
    pPrev = p;
    p = pNext;
    power *= aOverR;
    const double coefficient = (2.0 * n + 1.0) / (n + 1.0) * power;
    sum += coefficient * p;
    if (coefficient < 1e-10 * std::fabs(sum)) break;
  }
  return sum;
}

double Norm(const Point3& p) { return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z); }

}  // namespace

void AddSphereResponse(std::vector<double>& response, const Point3& source, const Point3& mic, double radius_m,
                       double gain, const ResponseSettings& settings, bool cut_late) {
  const double r = Norm(source), micNorm = Norm(mic);
  const double a = radius_m;
  if (!(r > a) || !(micNorm > 0)) {
    std::ostringstream msg;
    msg << "a source " << r << " m from the centre is not outside the sphere of radius " << a << " m";
    throw ToolError(msg.str());
  }
  const double t = (source.x * mic.x + source.y * mic.y + source.z * mic.z) / (r * micNorm);
  const double fs = settings.sampling_hz, c = settings.speed_of_sound_mps;
  const double h = settings.delay_filter.half_width_samples;
  const double delay = settings.latency_samples + (r - a) * fs / c;  // earliest arrival, samples
  if (!(h > 0) || delay - h < 0 || (!cut_late && delay + h > static_cast<double>(response.size()) - 1)) {
    std::ostringstream msg;
    msg << "a delay of " << delay << " samples with a filter half-width of " << h << " does not fit into "
        << response.size() << " samples";
    throw ToolError(msg.str());
  }
  // The kernel lasts about the time sound needs round the sphere; the grid
  // holds many times that so that its circular wrap is negligible.
  std::size_t size = 1024;
  while (static_cast<double>(size) < 16.0 * (vesk::kPi + 2.0) * a * fs / c) size *= 2;
  const std::size_t before = size / 4;  // room for the band limit's pre-ringing
  const double whole = std::floor(delay), frac = delay - whole;
  vesk::RealFft<double> fft(size);
  std::complex<double>* spectrum = fft.Spectrum();
  const std::size_t bins = fft.NumBins();
  for (std::size_t bin = 0; bin < bins; ++bin) {
    const double share = static_cast<double>(bin) / static_cast<double>(bins - 1);  // of the Nyquist frequency
    const double taper = share <= 0.9 ? 1.0 : 0.5 * (1.0 + std::cos(vesk::kPi * (share - 0.9) / 0.1));
    if (taper == 0.0) {
      spectrum[bin] = 0.0;
      continue;
    }
    const double omega = 2.0 * vesk::kPi * static_cast<double>(bin) / static_cast<double>(size);  // radians per sample
    const double k = omega * fs / c;                                                              // radians per metre
    // e^(-ika) takes the earliest arrival's delay out of the pressure.
    const std::complex<double> p = bin == 0 ? std::complex<double>(StaticPressure(a / r, t))
                                            : SpherePressure(k * a, k * r, t) * std::polar(1.0, -k * a);
    spectrum[bin] = p * (taper / r) * std::polar(1.0, -omega * (static_cast<double>(before) + frac));
  }
  fft.Inverse();
  const double scale = gain / static_cast<double>(size);
  const auto offset = static_cast<long>(whole) - static_cast<long>(before);
  for (std::size_t j = 0; j < size; ++j) {
    const long n = offset + static_cast<long>(j);
    if (n >= 0 && n < static_cast<long>(response.size()))
      response[static_cast<std::size_t>(n)] += scale * fft.Time()[j];
  }
}

}  // namespace vesktools
