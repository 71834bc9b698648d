// Compares measured arrival delays with the free-field geometry of the
// positions a transfer-function file holds.
#ifndef VESK_TFCHECK_DELAYSTOGEOMETRYCHECK_H
#define VESK_TFCHECK_DELAYSTOGEOMETRYCHECK_H

#include <string>
#include <vector>

#include "Findings.h"
#include "TfFileToMeasurement.h"
#include "base/Constants.h"

namespace vesktools {

struct GeometryInput {
  std::vector<std::vector<double>> delays;  // [src][mic] samples, any common offset per source
  std::vector<Vec3> micPositions;           // metres
  std::vector<Vec3> sourcePositions;        // metres
  std::vector<std::string> micLabels;       // "micIndex 3" or "channel 3"
  double samplingHz = 16000;
  double speedOfSound = vesk::kSpeedOfSound;  // metres per second
};

struct ScaleFit {
  double delayScale = 1;  // measured / predicted delay differences (speed of sound or rate)
  double arrayScale = 1;  // factor on the microphone positions about their centre
  double rmsAsIs = 0, rmsDelayScale = 0, rmsArrayScale = 0;  // samples, order-free misfit
  std::string cause;  // "" (none), "array-scale", "sampling-rate", "speed-of-sound", "delay-scale"
  double impliedRateHz = 0, impliedSpeed = 0, impliedTemperatureC = 0;
};

struct SourceResult {
  double rmsSamples = 0;
  bool standsOut = false;
  bool refitted = false;                    // a nearby direction fits clearly better
  double azimuthDeg = 0, elevationDeg = 0;  // as the file says, about the array centre
  double fitAzimuthDeg = 0, fitElevationDeg = 0, movedDeg = 0, fitRmsSamples = 0;
};

struct MicResult {
  double medianSamples = 0, worstSamples = 0;  // |residual| over the sources that do not stand out
  bool suspect = false;
};

struct GeometryCheck {
  ScaleFit scale;
  std::vector<std::size_t> bestOrder;          // channel m fits the geometry of microphone bestOrder[m] best
  double misfitAsIs = 0, misfitBestOrder = 0;  // mean over sources of sum over mics |centred difference|, samples
  bool swapped = false;
  std::vector<std::vector<double>> measured;   // [src][mic] samples relative to the array centre
  std::vector<std::vector<double>> predicted;  // [src][mic] samples, geometry after the fits above
  std::vector<std::vector<double>> residual;   // measured - predicted
  std::vector<MicResult> mics;
  std::vector<SourceResult> sources;
  double medianAbsSamples = 0;
  std::vector<Finding> findings;
};

// Judges the delays with `limits` (Findings.h). Order: (1) the scale of the
// delay differences, fitted on each source's sorted centred delays so that a
// channel swap cannot bias it, named by the nearest common mistake; (2) the
// channel order, by an assignment over the misfit of every channel against
// every microphone; (3) per source and per microphone residuals. Each
// finding's correction is applied before the next step, so several faults
// are named at once. Throws ToolError for mismatched sizes.
GeometryCheck DelaysToGeometryCheck(const GeometryInput& in, const Thresholds& limits);

}  // namespace vesktools

#endif
