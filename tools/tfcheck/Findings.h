// What a check found, and the thresholds it judged by.
#ifndef VESK_TFCHECK_FINDINGS_H
#define VESK_TFCHECK_FINDINGS_H

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace vesktools {

// One finding: `kind` is a fixed word scripts can match ("swapped-channels",
// "array-scale", "sampling-rate", "speed-of-sound", "delay-scale",
// "source-moved", "source-outlier", "microphone", "delay-scatter",
// "non-finite", "clipping", "noise", "clock-drift", "level", "dc-offset",
// "recording-rate", "recording-short", "recording-channels",
// "tsp-origin", "band-snr", "array-position", "channel-latency"); `text` says what and where in words.
struct Finding {
  std::string kind;
  std::string text;
};

// The limits both checks use; docs/toolkit.md explains each. Delays in
// samples of the file's rate.
struct Thresholds {
  double scaleTolerance = 0.03;     // |factor - 1| below this is no finding
  double scaleFitGain = 4.0;        // the factor must cut the squared misfit this many times
  double swapFitGain = 2.0;         // the permutation must halve the misfit ...
  double swapMinSamples = 0.5;      // ... and gain this much per source
  double sourceMinSamples = 0.15;   // RMS residual of a source that may stand out
  double sourceRelative = 4.0;      // ... and this many times the median source
  double micMinSamples = 0.15;      // median |residual| of a microphone that may stand out
  double micRelative = 3.0;         // ... and this many times the median microphone
  double scatterSamples = 0.3;      // median |residual| of the whole file
  double snrMinDb = 20.0;           // SNR of the averaged periods
  double snrBelowMedianDb = 10.0;   // a recording this far below the median SNR
  double bandSnrMinDb = 10.0;       // an octave band's SNR after averaging (and a TF bin's)
  double levelFromMedianDb = 10.0;  // a recording this far from the median level
  double dcOffset = 0.01;           // full scale
  double driftSmearSamples = 0.25;  // drift times the span of the averaged periods
  // The array measured from the delays (--estimate-array):
  double arrayPositionMm = 3.0;       // a fitted position this far from the file's ...
  double arrayPositionSigmas = 3.0;   // ... and this many of its standard deviations
  double latencySamples = 0.5;        // a channel's latency this far from the mean ...
  double latencySigmas = 3.0;         // ... beyond this many of its standard deviations
  double undeterminedSpread = 0.05;   // RMS spread of the direction cosines along an axis the fit may move
  double fitOutlierMinSamples = 0.1;  // RMS fit residual of a source that may stand out ...
  double fitOutlierRelative = 5.0;    // ... and this many times the median source
};

// Median of the values (mean of the middle two for an even count); 0 for
// none.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + mid, v.end());
  if (v.size() % 2) return v[mid];
  return 0.5 * (v[mid] + *std::max_element(v.begin(), v.begin() + mid));
}

// A number in a finding's text with a fixed number of decimals.
inline std::string Fixed(double v, int digits) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(digits);
  out << v;
  return out.str();
}

}  // namespace vesktools

#endif
