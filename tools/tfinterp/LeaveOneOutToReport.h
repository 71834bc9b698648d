// How good the interpolation of a measurement is: every measured direction
// predicted from the others, per octave band and method.
#ifndef VESK_TFINTERP_LEAVEONEOUTTOREPORT_H
#define VESK_TFINTERP_LEAVEONEOUTTOREPORT_H

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "MeasurementToAligned.h"
#include "TfFileToMeasurement.h"

namespace vesktools {

constexpr std::array<Method, 4> kAllMethods = {Method::DELAY_ALIGNED, Method::COMPLEX_ALIGNED, Method::COMPLEX,
                                               Method::NEAREST};

struct BandFigures {
  double lowHz = 0, highHz = 0;
  // Per method of kAllMethods: the spectral distortion, RMS over the band's
  // bins of 20 log10(|predicted| / |measured|) (bins where both are
  // non-zero) of one spectrum, averaged over microphones and directions; and
  // the median and 90th percentile of |arg(predicted / measured)| in
  // degrees (to 0.01 deg).
  std::array<double, 4> distortionDb{}, phaseMedianDeg{}, phaseP90Deg{};
  std::size_t values = 0;  // bins x microphones x directions in the band
};

struct LeaveOneOut {
  std::string path, grid;
  std::size_t directions = 0, predicted = 0, numMics = 0;
  double spacingDeg = 0, arrayRadiusM = 0;
  // c / (2 r spacing), c = 343 m/s: above it neighbours differ by more than
  // half a period at the array's rim, and raw complex weighting aliases.
  double aliasingHz = 0, aliasingDoubledHz = 0;
  std::vector<BandFigures> bands;  // octaves from 250 Hz up to Nyquist
};

// Predicts every distinct measured direction from the others (the spacing
// around it so doubled) with every method; a direction on the edge of the
// measured region, which the others do not surround, is not predicted.
// Every core is used; the figures do not depend on how many there are.
// Throws ToolError as MeasurementToTargets does for the file.
LeaveOneOut MeasurementToLeaveOneOut(const TfMeasurement& tf);

void LeaveOneOutToText(const LeaveOneOut& report, std::ostream& out);
std::string LeaveOneOutToJson(const LeaveOneOut& report);

}  // namespace vesktools

#endif
