#include "DelaysToGeometryCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <sstream>

#include "CostsToAssignment.h"
#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {
namespace {

double Distance(const Vec3& a, const Vec3& b) { return (a - b).Length(); }

Vec3 Centre(const std::vector<Vec3>& points) {
  Vec3 c;
  for (const Vec3& p : points) c = c + p;
  return c / static_cast<double>(points.size());
}

// Delays in samples from every source to every microphone, each source's
// mean over the microphones removed.
std::vector<std::vector<double>> CentredPrediction(const std::vector<Vec3>& sources, const std::vector<Vec3>& mics,
                                                   double samplesPerMetre) {
  std::vector<std::vector<double>> g(sources.size(), std::vector<double>(mics.size()));
  for (std::size_t s = 0; s < sources.size(); ++s) {
    double mean = 0;
    for (std::size_t m = 0; m < mics.size(); ++m) mean += g[s][m] = Distance(sources[s], mics[m]) * samplesPerMetre;
    mean /= static_cast<double>(mics.size());
    for (double& v : g[s]) v -= mean;
  }
  return g;
}

std::vector<std::vector<double>> Centred(const std::vector<std::vector<double>>& d) {
  std::vector<std::vector<double>> c = d;
  for (auto& row : c) {
    const double mean = std::accumulate(row.begin(), row.end(), 0.0) / static_cast<double>(row.size());
    for (double& v : row) v -= mean;
  }
  return c;
}

std::vector<std::vector<double>> SortedRows(std::vector<std::vector<double>> d) {
  for (auto& row : d) std::sort(row.begin(), row.end());
  return d;
}

std::vector<Vec3> ScaledAbout(const std::vector<Vec3>& points, const Vec3& centre, double factor) {
  std::vector<Vec3> out;
  for (const Vec3& p : points) out.push_back(centre + (p - centre) * factor);
  return out;
}

double SquaredMisfit(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b,
                     double scaleB, const std::vector<std::size_t>& rows) {
  double sum = 0;
  for (std::size_t s : rows)
    for (std::size_t m = 0; m < a[s].size(); ++m) {
      const double d = a[s][m] - scaleB * b[s][m];
      sum += d * d;
    }
  return sum;
}

double Degrees(double rad) { return rad * 180.0 / vesk::kPi; }

void Direction(const Vec3& v, double& azimuthDeg, double& elevationDeg) {
  azimuthDeg = Degrees(std::atan2(v.y, v.x));
  if (azimuthDeg < 0) azimuthDeg += 360.0;
  elevationDeg = Degrees(std::atan2(v.z, std::hypot(v.x, v.y)));
}

Vec3 FromDirection(double azimuthDeg, double elevationDeg, double distance) {
  const double az = azimuthDeg * vesk::kPi / 180.0, el = elevationDeg * vesk::kPi / 180.0;
  return Vec3(std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)) * distance;
}

// Names a delay-scale factor after the commonest mistake that produces it.
void NameScale(ScaleFit& fit, const GeometryInput& in, const Thresholds& limits) {
  const double units[] = {0.001, 0.01, 0.1, 10.0, 100.0, 1000.0, 0.0254, 1.0 / 0.0254, 0.3048, 1.0 / 0.3048};
  for (double u : units)
    if (std::fabs(fit.arrayScale / u - 1.0) < 0.05 || fit.rmsArrayScale < 0.5 * fit.rmsDelayScale) {
      fit.cause = "array-scale";
      return;
    }
  const double rates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000, 192000};
  if (std::fabs(fit.delayScale - 1.0) > 0.02)
    for (double r : rates)
      if (std::fabs(fit.delayScale * in.samplingHz / r - 1.0) < 0.01) {
        fit.cause = "sampling-rate";
        fit.impliedRateHz = r;
        return;
      }
  fit.impliedSpeed = in.speedOfSound / fit.delayScale;
  if (std::fabs(fit.delayScale - 1.0) < 0.15 && std::fabs(fit.delayScale - 1.0) > limits.scaleTolerance) {
    fit.cause = "speed-of-sound";
    fit.impliedTemperatureC = 273.15 * (std::pow(fit.impliedSpeed / 331.3, 2) - 1.0);
    return;
  }
  fit.cause = "delay-scale";
}

}  // namespace

GeometryCheck DelaysToGeometryCheck(const GeometryInput& in, const Thresholds& limits) {
  const std::size_t numSources = in.sourcePositions.size(), numMics = in.micPositions.size();
  if (in.delays.size() != numSources || numMics < 3 || in.micLabels.size() != numMics)
    throw ToolError("delays, positions and labels disagree in size");
  for (const auto& row : in.delays)
    if (row.size() != numMics) throw ToolError("delays, positions and labels disagree in size");
  GeometryCheck out;
  const double samplesPerMetre = in.samplingHz / in.speedOfSound;
  const Vec3 centre = Centre(in.micPositions);
  const auto measuredCentred = Centred(in.delays);
  const auto measuredSorted = SortedRows(measuredCentred);

  // (1) Scale. The array-scale search runs on at most 256 sources spread
  // over the file, so a grid of any size costs the same.
  std::vector<std::size_t> all(numSources), subset;
  std::iota(all.begin(), all.end(), 0);
  const std::size_t stride = std::max<std::size_t>(1, numSources / 256);
  for (std::size_t s = 0; s < numSources; s += stride) subset.push_back(s);
  ScaleFit& fit = out.scale;
  {
    const auto predictedSorted = SortedRows(CentredPrediction(in.sourcePositions, in.micPositions, samplesPerMetre));
    double num = 0, den = 0;
    for (std::size_t s = 0; s < numSources; ++s)
      for (std::size_t m = 0; m < numMics; ++m) {
        num += measuredSorted[s][m] * predictedSorted[s][m];
        den += predictedSorted[s][m] * predictedSorted[s][m];
      }
    fit.delayScale = den > 0 ? num / den : 1.0;
    const double cells = static_cast<double>(numSources * numMics);
    fit.rmsAsIs = std::sqrt(SquaredMisfit(measuredSorted, predictedSorted, 1.0, all) / cells);
    fit.rmsDelayScale = std::sqrt(SquaredMisfit(measuredSorted, predictedSorted, fit.delayScale, all) / cells);
    auto arrayMisfit = [&](double logScale, const std::vector<std::size_t>& rows) {
      const auto g = SortedRows(CentredPrediction(
          in.sourcePositions, ScaledAbout(in.micPositions, centre, std::pow(10.0, logScale)), samplesPerMetre));
      return SquaredMisfit(measuredSorted, g, 1.0, rows);
    };
    double bestLog = 0, best = std::numeric_limits<double>::infinity();
    for (double lg = -3.5; lg <= 3.5; lg += 0.01) {
      const double j = arrayMisfit(lg, subset);
      if (j < best) {
        best = j;
        bestLog = lg;
      }
    }
    double lo = bestLog - 0.01, hi = bestLog + 0.01;  // golden section
    const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
    for (int i = 0; i < 40; ++i) {
      const double a = hi - ratio * (hi - lo), b = lo + ratio * (hi - lo);
      if (arrayMisfit(a, subset) < arrayMisfit(b, subset))
        hi = b;
      else
        lo = a;
    }
    fit.arrayScale = std::pow(10.0, 0.5 * (lo + hi));
    fit.rmsArrayScale = std::sqrt(arrayMisfit(std::log10(fit.arrayScale), all) / cells);
  }
  const double bestScaleRms = std::min(fit.rmsDelayScale, fit.rmsArrayScale);
  const bool scaleWrong = bestScaleRms * bestScaleRms * limits.scaleFitGain < fit.rmsAsIs * fit.rmsAsIs &&
                          (std::fabs(fit.delayScale - 1.0) > limits.scaleTolerance ||
                           std::fabs(fit.arrayScale - 1.0) > limits.scaleTolerance);
  std::vector<Vec3> mics = in.micPositions;
  double timeFactor = 1.0;  // applied to the predicted delays
  if (scaleWrong) {
    NameScale(fit, in, limits);
    std::ostringstream text;
    if (fit.cause == "array-scale") {
      mics = ScaledAbout(in.micPositions, centre, fit.arrayScale);
      text << "the microphone positions fit the delays best when scaled by " << Fixed(fit.arrayScale, 4);
      if (std::fabs(fit.arrayScale / 0.01 - 1.0) < 0.05)
        text << ": they look like centimetres, not metres";
      else if (std::fabs(fit.arrayScale / 0.001 - 1.0) < 0.05)
        text << ": they look like millimetres, not metres";
      else if (std::fabs(fit.arrayScale / 0.0254 - 1.0) < 0.05)
        text << ": they look like inches, not metres";
      else if (std::fabs(fit.arrayScale / 0.3048 - 1.0) < 0.05)
        text << ": they look like feet, not metres";
      else if (fit.arrayScale > 1)
        text << ": they are too small (a unit or a radius mistake?)";
      else
        text << ": they are too large (a unit or a radius mistake?)";
    } else {
      timeFactor = fit.delayScale;
      text << "the delays between microphones are " << Fixed(fit.delayScale, 4) << " times the geometry's";
      if (fit.cause == "sampling-rate")
        text << ": the responses look sampled at " << fit.impliedRateHz << " Hz, the file says " << in.samplingHz
             << " Hz";
      else if (fit.cause == "speed-of-sound")
        text << ": the speed of sound fits as " << Fixed(fit.impliedSpeed, 1) << " m/s (about "
             << Fixed(fit.impliedTemperatureC, 0) << " degC), not " << in.speedOfSound << " m/s";
      else
        text << " (neither a unit nor a common sampling-rate mistake)";
    }
    text << "; misfit " << Fixed(fit.rmsAsIs, 2) << " -> " << Fixed(bestScaleRms, 2) << " samples RMS";
    out.findings.push_back(Finding{fit.cause, text.str()});
  }

  // (2) Channel order.
  std::vector<std::vector<double>> predictedCentred = CentredPrediction(in.sourcePositions, mics, samplesPerMetre);
  for (auto& row : predictedCentred)
    for (double& v : row) v *= timeFactor;
  std::vector<std::vector<double>> cost(numMics, std::vector<double>(numMics, 0.0));
  for (std::size_t s = 0; s < numSources; ++s)
    for (std::size_t m = 0; m < numMics; ++m)
      for (std::size_t j = 0; j < numMics; ++j) cost[m][j] += std::fabs(measuredCentred[s][m] - predictedCentred[s][j]);
  for (const int mic : MinimumCostAssignment(cost)) out.bestOrder.push_back(static_cast<std::size_t>(mic));
  for (std::size_t m = 0; m < numMics; ++m) {
    out.misfitAsIs += cost[m][m];
    out.misfitBestOrder += cost[m][out.bestOrder[m]];
  }
  out.misfitAsIs /= static_cast<double>(numSources);
  out.misfitBestOrder /= static_cast<double>(numSources);
  out.swapped = out.misfitBestOrder * limits.swapFitGain < out.misfitAsIs &&
                out.misfitAsIs - out.misfitBestOrder > limits.swapMinSamples;
  if (out.swapped) {
    std::vector<char> seen(numMics, 0);
    std::ostringstream text;
    bool first = true;
    for (std::size_t m = 0; m < numMics; ++m) {
      if (seen[m] || out.bestOrder[m] == m) continue;
      std::vector<std::size_t> cycle;
      for (std::size_t k = m; !seen[k]; k = out.bestOrder[k]) {
        seen[k] = 1;
        cycle.push_back(k);
      }
      text << (first ? "" : "; ");
      first = false;
      if (cycle.size() == 2) {
        text << in.micLabels[cycle[0]] << " <-> " << in.micLabels[cycle[1]];
      } else {
        for (std::size_t k : cycle)
          text << "the channel of " << in.micLabels[k] << " holds " << in.micLabels[out.bestOrder[k]] << ", ";
        text << "a cycle of " << cycle.size();
      }
    }
    text << " (misfit per source " << Fixed(out.misfitAsIs, 2) << " -> " << Fixed(out.misfitBestOrder, 2)
         << " samples): swapped channels or cables";
    out.findings.push_back(Finding{"swapped-channels", text.str()});
  } else {
    std::iota(out.bestOrder.begin(), out.bestOrder.end(), 0);
  }

  // (3) Residuals with the channel order and scale found.
  out.measured.assign(numSources, std::vector<double>(numMics));
  out.predicted = out.measured;
  out.residual = out.measured;
  out.sources.resize(numSources);
  std::vector<double> sourceRms(numSources);
  auto predictedAt = [&](const Vec3& source, std::size_t m) {
    return (Distance(source, mics[out.bestOrder[m]]) - Distance(source, centre)) * samplesPerMetre * timeFactor;
  };
  auto rmsFor = [&](std::size_t s, const Vec3& source) {
    double offset = 0;
    for (std::size_t m = 0; m < numMics; ++m) offset += in.delays[s][m] - predictedAt(source, m);
    offset /= static_cast<double>(numMics);
    double sum = 0;
    for (std::size_t m = 0; m < numMics; ++m) {
      const double r = in.delays[s][m] - predictedAt(source, m) - offset;
      sum += r * r;
    }
    return std::sqrt(sum / static_cast<double>(numMics));
  };
  for (std::size_t s = 0; s < numSources; ++s) {
    double offset = 0;
    for (std::size_t m = 0; m < numMics; ++m) {
      out.predicted[s][m] = predictedAt(in.sourcePositions[s], m);
      offset += in.delays[s][m] - out.predicted[s][m];
    }
    offset /= static_cast<double>(numMics);
    double sum = 0;
    for (std::size_t m = 0; m < numMics; ++m) {
      out.measured[s][m] = in.delays[s][m] - offset;
      out.residual[s][m] = out.measured[s][m] - out.predicted[s][m];
      sum += out.residual[s][m] * out.residual[s][m];
    }
    sourceRms[s] = out.sources[s].rmsSamples = std::sqrt(sum / static_cast<double>(numMics));
    Direction(in.sourcePositions[s] - centre, out.sources[s].azimuthDeg, out.sources[s].elevationDeg);
  }
  const double medianSource = Median(sourceRms);
  const double sourceLimit = std::max(limits.sourceMinSamples, limits.sourceRelative * medianSource);
  for (std::size_t s = 0; s < numSources; ++s) {
    SourceResult& src = out.sources[s];
    if (src.rmsSamples <= sourceLimit) continue;
    src.standsOut = true;
    // Which nearby direction (same distance from the centre) fits best?
    const double distance = (in.sourcePositions[s] - centre).Length();
    double bestRms = src.rmsSamples, bestAz = src.azimuthDeg, bestEl = src.elevationDeg;
    auto tryDirection = [&](double az, double el) {
      if (el > 90 || el < -90) return;
      const double r = rmsFor(s, centre + FromDirection(az, el, distance));
      if (r < bestRms) {
        bestRms = r;
        bestAz = az;
        bestEl = el;
      }
    };
    for (double dAz = -45; dAz <= 45; dAz += 1)
      for (double dEl = -30; dEl <= 30; dEl += 2) tryDirection(src.azimuthDeg + dAz, src.elevationDeg + dEl);
    for (double step : {0.5, 0.2, 0.1, 0.05}) {
      const double az0 = bestAz, el0 = bestEl;
      for (double dAz = -4 * step; dAz <= 4 * step + 1e-9; dAz += step)
        for (double dEl = -4 * step; dEl <= 4 * step + 1e-9; dEl += step) tryDirection(az0 + dAz, el0 + dEl);
    }
    const Vec3 a = FromDirection(src.azimuthDeg, src.elevationDeg, 1), b = FromDirection(bestAz, bestEl, 1);
    const double cosAngle = std::clamp(a.x * b.x + a.y * b.y + a.z * b.z, -1.0, 1.0);
    src.fitAzimuthDeg = std::fmod(bestAz + 360.0, 360.0);
    src.fitElevationDeg = bestEl;
    src.movedDeg = Degrees(std::acos(cosAngle));
    src.fitRmsSamples = bestRms;
    src.refitted = bestRms <= std::max(limits.sourceMinSamples, 2.0 * medianSource) && src.movedDeg >= 1.0;
    std::ostringstream text;
    text << "source " << s << " (azimuth " << Fixed(src.azimuthDeg, 1) << " deg, elevation "
         << Fixed(src.elevationDeg, 1) << " deg): residual " << Fixed(src.rmsSamples, 2) << " samples RMS ("
         << Fixed(src.rmsSamples / in.samplingHz * 1e6, 1) << " us), typical " << Fixed(medianSource, 2);
    if (src.refitted) {
      text << "; it fits azimuth " << Fixed(src.fitAzimuthDeg, 1) << " deg, elevation " << Fixed(bestEl, 1) << " deg ("
           << Fixed(bestRms, 2) << " samples): the loudspeaker stood " << Fixed(src.movedDeg, 1)
           << " deg away from its listed position";
      out.findings.push_back(Finding{"source-moved", text.str()});
    } else {
      text << "; no nearby direction fits: a bad recording, an obstruction or a wrong position";
      out.findings.push_back(Finding{"source-outlier", text.str()});
    }
  }

  // Per microphone, over the sources that do not stand out.
  out.mics.resize(numMics);
  std::vector<double> micMedians(numMics), allAbs;
  for (std::size_t m = 0; m < numMics; ++m) {
    std::vector<double> abs;
    for (std::size_t s = 0; s < numSources; ++s)
      if (!out.sources[s].standsOut) abs.push_back(std::fabs(out.residual[s][m]));
    if (abs.empty())
      for (std::size_t s = 0; s < numSources; ++s) abs.push_back(std::fabs(out.residual[s][m]));
    out.mics[m].worstSamples = *std::max_element(abs.begin(), abs.end());
    micMedians[m] = out.mics[m].medianSamples = Median(abs);
    allAbs.insert(allAbs.end(), abs.begin(), abs.end());
  }
  out.medianAbsSamples = Median(allAbs);
  const double micLimit = std::max(limits.micMinSamples, limits.micRelative * Median(micMedians));
  for (std::size_t m = 0; m < numMics; ++m) {
    if (out.mics[m].medianSamples <= micLimit) continue;
    out.mics[m].suspect = true;
    std::ostringstream text;
    text << in.micLabels[m] << ": median residual " << Fixed(out.mics[m].medianSamples, 2) << " samples ("
         << Fixed(out.mics[m].medianSamples / in.samplingHz * 1e6, 1) << " us), worst "
         << Fixed(out.mics[m].worstSamples, 2) << ": its position, cable or capsule";
    out.findings.push_back(Finding{"microphone", text.str()});
  }
  if (out.medianAbsSamples > limits.scatterSamples) {
    std::ostringstream text;
    text << "the delays scatter by " << Fixed(out.medianAbsSamples, 2)
         << " samples (median) around the geometry: noisy or reverberant responses, or positions known only roughly";
    out.findings.push_back(Finding{"delay-scatter", text.str()});
  }
  return out;
}

}  // namespace vesktools
