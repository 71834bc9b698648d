#include "LeaveOneOutToReport.h"

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <mutex>

#include "DirectionsToWeights.h"
#include "JsonWriter.h"
#include "MeasurementToTargets.h"
#include "NeighboursToSpectrum.h"
#include "base/Constants.h"
#include "base/Cores.h"

namespace vesktools {

namespace {

const double kSpeedOfSound = vesk::kSpeedOfSound;  // metres per second
const double kPhaseStepDeg = 0.01;                 // histogram resolution
const std::size_t kPhaseSteps = 18001;             // 0 .. 180 degrees

double Percentile(const std::vector<uint64_t>& histogram, double fraction) {
  uint64_t total = 0;
  for (uint64_t n : histogram) total += n;
  if (total == 0) return NAN;
  const double wanted = fraction * static_cast<double>(total);
  uint64_t seen = 0;
  for (std::size_t i = 0; i < histogram.size(); ++i) {
    seen += histogram[i];
    if (static_cast<double>(seen) >= wanted) return static_cast<double>(i) * kPhaseStepDeg;
  }
  return 180.0;
}

}  // namespace

LeaveOneOut MeasurementToLeaveOneOut(const TfMeasurement& tf) {
  CheckFiniteMeasurement(tf);
  const DirectionGrid grid(tf.sourcePositions);
  LeaveOneOut report;
  report.path = tf.path;
  report.grid = grid.Describe();
  report.directions = grid.NumDirections();
  report.numMics = tf.NumMics();
  report.spacingDeg = grid.SpacingRad() * 180.0 / vesk::kPi;
  for (const Vec3& m : tf.micPositions)
    report.arrayRadiusM = std::max(report.arrayRadiusM, std::sqrt(m.x * m.x + m.y * m.y + m.z * m.z));
  if (report.arrayRadiusM > 0 && grid.SpacingRad() > 0) {
    report.aliasingHz = kSpeedOfSound / (2.0 * report.arrayRadiusM * grid.SpacingRad());
    report.aliasingDoubledHz = report.aliasingHz / 2.0;
  }
  const double nyquist = tf.samplingHz / 2.0;
  for (double lo = 250.0; lo < nyquist; lo *= 2.0) {
    BandFigures band;
    band.lowHz = lo;
    band.highHz = std::min(2.0 * lo, nyquist);
    report.bands.push_back(band);
  }
  const std::size_t numBands = report.bands.size(), numBins = tf.binIndex.size(), numMics = tf.NumMics();
  std::vector<int> bandOf(numBins, -1);
  for (std::size_t j = 0; j < numBins; ++j) {
    const double hz = static_cast<double>(tf.binIndex[j]) * tf.samplingHz / static_cast<double>(tf.nfft);
    for (std::size_t b = 0; b < numBands; ++b)
      if (hz >= report.bands[b].lowHz && (hz < report.bands[b].highHz || (b + 1 == numBands && hz <= nyquist)))
        bandOf[j] = static_cast<int>(b);
  }

  const DirectionDelays delays = MeasurementToDelaysByDirection(tf, grid);
  const AlignedSpectra delayAligned(tf, grid, delays, Method::DELAY_ALIGNED, false);
  const AlignedSpectra complexAligned(tf, grid, delays, Method::COMPLEX_ALIGNED, false);

  const std::size_t numDirs = grid.NumDirections(), cells = numBands * kAllMethods.size();
  // Sums per direction, added up in direction order afterwards: the same
  // figures whatever the split over cores.
  std::vector<double> distortions(numDirs * cells, 0.0);  // sums of per-spectrum distortions
  std::vector<uint64_t> spectra(numDirs * cells, 0);
  std::vector<char> predicted(numDirs, 0);
  std::vector<uint64_t> histograms(cells * kPhaseSteps, 0);
  std::mutex merge;
  vesk::OverCores(
      numDirs,
      [&](std::size_t first, std::size_t last) {
        std::vector<uint64_t> local(cells * kPhaseSteps, 0);
        std::vector<std::complex<float>> guess(numBins);
        std::vector<double> bandSquares(numBands);
        std::vector<uint64_t> bandCount(numBands);
        for (std::size_t dir = first; dir < last; ++dir) {
          Neighbours nb;
          if (!grid.Locate(grid.Direction(dir), nb, dir, false)) continue;
          predicted[dir] = 1;
          for (std::size_t mic = 0; mic < numMics; ++mic) {
            const auto& truth = tf.Spectrum(grid.Source(dir), mic);
            for (std::size_t k = 0; k < kAllMethods.size(); ++k) {
              const Method method = kAllMethods[k];
              NeighboursToSpectrum(tf, grid, delays, method == Method::DELAY_ALIGNED ? &delayAligned : &complexAligned,
                                   method, nb, mic, guess.data());
              std::fill(bandSquares.begin(), bandSquares.end(), 0.0);
              std::fill(bandCount.begin(), bandCount.end(), 0);
              for (std::size_t j = 0; j < numBins; ++j) {
                if (bandOf[j] < 0) continue;
                const std::size_t b = static_cast<std::size_t>(bandOf[j]), cell = b * kAllMethods.size() + k;
                const std::complex<double> x(truth[j].real(), truth[j].imag()), y(guess[j].real(), guess[j].imag());
                if (std::abs(x) > 0 && std::abs(y) > 0) {
                  const double db = 20.0 * std::log10(std::abs(y) / std::abs(x));
                  bandSquares[b] += db * db;
                  bandCount[b] += 1;
                }
                const double error = std::fabs(std::arg(y * std::conj(x))) * 180.0 / vesk::kPi;
                local[cell * kPhaseSteps + std::min<std::size_t>(kPhaseSteps - 1, static_cast<std::size_t>(std::lround(
                                                                                      error / kPhaseStepDeg)))] += 1;
              }
              for (std::size_t b = 0; b < numBands; ++b) {
                if (bandCount[b] == 0) continue;
                const std::size_t cell = b * kAllMethods.size() + k;
                distortions[dir * cells + cell] += std::sqrt(bandSquares[b] / static_cast<double>(bandCount[b]));
                spectra[dir * cells + cell] += 1;
              }
            }
          }
        }
        std::lock_guard<std::mutex> lock(merge);
        for (std::size_t i = 0; i < local.size(); ++i) histograms[i] += local[i];
      },
      4);
  for (char p : predicted) report.predicted += p;
  for (std::size_t b = 0; b < numBands; ++b) {
    BandFigures& band = report.bands[b];
    for (std::size_t k = 0; k < kAllMethods.size(); ++k) {
      const std::size_t cell = b * kAllMethods.size() + k;
      double sum = 0;
      uint64_t n = 0;
      for (std::size_t dir = 0; dir < numDirs; ++dir) {
        sum += distortions[dir * cells + cell];
        n += spectra[dir * cells + cell];
      }
      band.distortionDb[k] = n ? sum / static_cast<double>(n) : NAN;
      const std::vector<uint64_t> h(histograms.begin() + cell * kPhaseSteps,
                                    histograms.begin() + (cell + 1) * kPhaseSteps);
      band.phaseMedianDeg[k] = Percentile(h, 0.5);
      band.phaseP90Deg[k] = Percentile(h, 0.9);
      if (k == 0)
        for (uint64_t c : h) band.values += c;
    }
  }
  return report;
}

void LeaveOneOutToText(const LeaveOneOut& r, std::ostream& out) {
  out << "leave-one-out: " << r.path << "\n"
      << "grid: " << r.grid << "; " << r.numMics << " microphones, array radius " << r.arrayRadiusM << " m\n"
      << "predicted " << r.predicted << " of " << r.directions
      << " directions from the others (the spacing around each doubled); the rest lie on the edge of the measured "
         "region\n"
      << "raw complex weighting aliases above " << std::lround(r.aliasingHz) << " Hz at this spacing ("
      << std::lround(r.aliasingDoubledHz) << " Hz at the doubled spacing of these predictions)\n";
  out << std::left << std::setw(13) << "band (Hz)" << std::setw(17) << "method" << std::right << std::setw(8) << "SD dB"
      << std::setw(14) << "phase median" << std::setw(11) << "phase p90"
      << "\n";
  out << std::fixed;
  for (const BandFigures& b : r.bands) {
    const std::string range = std::to_string(std::lround(b.lowHz)) + "-" + std::to_string(std::lround(b.highHz));
    for (std::size_t k = 0; k < kAllMethods.size(); ++k) {
      out << std::left << std::setw(13) << (k == 0 ? range : "") << std::setw(17) << MethodName(kAllMethods[k])
          << std::right << std::setprecision(2) << std::setw(8) << b.distortionDb[k] << std::setw(10)
          << b.phaseMedianDeg[k] << " deg" << std::setw(7) << b.phaseP90Deg[k] << " deg\n";
    }
  }
  out << std::defaultfloat;
}

std::string LeaveOneOutToJson(const LeaveOneOut& r) {
  veskio2::JsonWriter json(6);
  json.BeginObject();
  json.Field("file", r.path);
  json.Field("grid", r.grid);
  json.Field("directions", static_cast<unsigned long>(r.directions));
  json.Field("predicted", static_cast<unsigned long>(r.predicted));
  json.Field("microphones", static_cast<unsigned long>(r.numMics));
  json.Field("spacingDeg", r.spacingDeg);
  json.Field("arrayRadiusM", r.arrayRadiusM);
  json.Field("aliasingHz", r.aliasingHz);
  json.Field("aliasingDoubledSpacingHz", r.aliasingDoubledHz);
  json.Key("bands");
  json.BeginArray();
  for (const BandFigures& b : r.bands) {
    json.BeginObject();
    json.Field("lowHz", b.lowHz);
    json.Field("highHz", b.highHz);
    json.Field("values", static_cast<unsigned long>(b.values));
    json.Key("methods");
    json.BeginObject();
    for (std::size_t k = 0; k < kAllMethods.size(); ++k) {
      json.Key(MethodName(kAllMethods[k]));
      json.BeginObject();
      json.Field("distortionDb", b.distortionDb[k]);
      json.Field("phaseMedianDeg", b.phaseMedianDeg[k]);
      json.Field("phaseP90Deg", b.phaseP90Deg[k]);
      json.EndObject();
    }
    json.EndObject();
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  json.Newline();
  return json.Text();
}

}  // namespace vesktools
