// A measured transfer-function file to one at the targets' positions.
#ifndef VESK_TFINTERP_MEASUREMENTTOTARGETS_H
#define VESK_TFINTERP_MEASUREMENTTOTARGETS_H

#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "MeasurementToAligned.h"
#include "TfFileToMeasurement.h"
#include "veskio2/Vesk.h"

namespace vesktools {

struct InterpolationSettings {
  Method method = Method::DELAY_ALIGNED;
  bool extrapolateNearest = false;  // else a target outside the measured region is refused
};

struct InterpolationCounts {
  std::size_t measured = 0, interpolated = 0, extrapolated = 0;
  std::string grid;  // DirectionGrid::Describe()
};

// Throws ToolError when the file holds a non-finite value (naming source,
// microphone and bin) or no microphone, and for the first target (in list
// order) outside the measured region when that is refused, naming its
// index, position and direction.
void CheckFiniteMeasurement(const TfMeasurement& tf);

// The file of the same type, fftLength, sampling rate and microphones (its
// vgtf::Fmt and vgtf::Spec copied, Spec's note saying how it was made) with
// one source per target at the target's position. A target at a measured
// direction gets that direction's stored values bit for bit. The
// measurement's spectra are used up (they are aligned in place).
boost::shared_ptr<veskio2::vesk::VeskFile> MeasurementToTargets(TfMeasurement& tf,
                                                                const std::vector<veskio2::Vector3<float>>& targets,
                                                                const InterpolationSettings& settings,
                                                                InterpolationCounts& counts);

}  // namespace vesktools

#endif
