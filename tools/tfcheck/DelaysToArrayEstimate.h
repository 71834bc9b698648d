// Measures the array back from a measurement: each microphone's position
// and each channel's latency, fitted to the direct-path arrival delays of
// every source.
#ifndef VESK_TFCHECK_DELAYSTOARRAYESTIMATE_H
#define VESK_TFCHECK_DELAYSTOARRAYESTIMATE_H

#include <cstddef>
#include <string>
#include <vector>

#include "Findings.h"
#include "TfFileToMeasurement.h"
#include "base/Constants.h"

namespace vesktools {

struct ArrayEstimateInput {
  // [src][mic] samples from the start of each source's window: absolute
  // arrival times, so every source's window must start at the same sample.
  std::vector<std::vector<double>> delays;
  std::vector<Vec3> sourcePositions;   // metres, point sources at their listed distance
  std::vector<Vec3> micPositions;      // metres: the array file's, one per channel
  std::vector<std::string> micLabels;  // "micIndex 3"
  // Per source: "" to use it, otherwise why it stays out of the fit (the
  // check's source-moved or source-outlier finding).
  std::vector<std::string> sourceExcluded;
  double samplingHz = 16000;
  double speedOfSound = vesk::kSpeedOfSound;  // metres per second
};

struct MicEstimate {
  Vec3 filePosition, fittedPosition;  // metres
  Vec3 sigmaMetres;                   // standard deviation per axis (0 on an axis kept at the file's value)
  double differenceMm = 0;            // |fitted - file|
  double differenceSigmaMm = 0;       // standard deviation of that distance
  double latencySamples = 0;          // relative to the mean over the channels
  double latencySigmaSamples = 0;
  double rmsResidualSamples = 0;          // of the fit, over the sources used
  std::vector<std::string> undetermined;  // axes the sources cannot fix: "z", or a direction "(x, y, z)"
};

struct ExcludedSource {
  std::size_t src = 0;
  double azimuthDeg = 0, elevationDeg = 0;  // from the array file's centre
  std::string reason;
};

struct ArrayEstimate {
  std::vector<MicEstimate> mics;
  double commonLatencySamples = 0, commonLatencySigmaSamples = 0;  // mean latency over the channels
  std::size_t sourcesUsed = 0;
  std::vector<ExcludedSource> excluded;
  std::vector<std::string> notes;  // what the fit could not do; never a finding
  std::vector<Finding> findings;   // "array-position", "channel-latency"
};

// Per microphone, a Gauss-Newton least-squares fit of its position (metres)
// and its channel's latency (samples) to
//   delays[src][mic] = |source[src] - mic| * samplingHz / speedOfSound + latency
// over the sources not excluded, starting from the array file's position.
// A direction of the microphone's position that the sources' directions
// span by less than `limits.undeterminedSpread` (RMS of the direction
// cosines about their mean) is kept at the file's value and named in
// `undetermined` and a note. Uncertainties are sigma^2 (J^T J)^-1 with
// sigma^2 the residual sum of squares over the degrees of freedom.
// Sources excluded by the caller or holding a non-finite delay stay out;
// sources whose RMS residual over the microphones stands out
// (`limits.fitOutlierRelative` times the median source, at least
// `limits.fitOutlierMinSamples`) are left out and the fit is made again.
// Findings judged by `limits` (Findings.h). Throws ToolError for
// mismatched sizes or when fewer than 8 sources remain.
ArrayEstimate DelaysToArrayEstimate(const ArrayEstimateInput& in, const Thresholds& limits);

}  // namespace vesktools

#endif
