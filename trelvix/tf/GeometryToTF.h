// Free-field geometry (source and microphone positions) to the
// transfer-function file.
#ifndef TRELVIX_TF_GEOMETRYTOTF_H
#define TRELVIX_TF_GEOMETRYTOTF_H

#include <cstdint>
#include <ostream>

#include <boost/shared_ptr.hpp>

#include "base/Constants.h"
#include "tf/TFJob.h"
#include "tf/TFMakingParameters.h"
#include "veskio2/Vesk.h"

namespace trelvix {

// Speed of sound, metres per second, in the single precision of the TF path.
constexpr float kSpeedOfSound = static_cast<float>(vesk::kSpeedOfSound);

// Pure delays of unit magnitude: the value at bin k of source s and
// microphone j is e^(j phi), phi = (o_s - d_sj) 2 pi k / nfft, where d_sj is
// the distance in samples (metres × sampling_freq / 343) and o_s shifts the
// latest direct path to direct_length samples before the window's end
// (0 when no shift is needed). GTF output is conjugated. Writes one
// "GEO IR[" line per source to `report`. Needs the TSP list of `param` and
// numVertical 1; throws std::runtime_error (or std::range_error for a
// source at the origin) otherwise. The values are computed straight into
// the final array, on every usable core (each value on its own, so the
// bytes do not depend on the number of cores).
boost::shared_ptr<veskio2::vesk::VeskFile> MakeGeometricTF(const TFJob& job, std::ostream& report);

// The same for the files that `param` names.
boost::shared_ptr<veskio2::vesk::VeskFile> MakeGeometricTF(const TFMakingParameters& param, unsigned int numVertical,
                                                           std::ostream& report);

}  // namespace trelvix

#endif
