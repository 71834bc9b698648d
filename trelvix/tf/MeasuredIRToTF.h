// Measured impulse responses to the transfer-function file.
#ifndef TRELVIX_TF_MEASUREDIRTOTF_H
#define TRELVIX_TF_MEASUREDIRTOTF_H

#include <cstdint>
#include <ostream>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "provider/IRProvider.h"
#include "tf/MultiDimVector.h"
#include "tf/TFJob.h"
#include "tf/TFMakingParameters.h"
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

namespace trelvix {

// One window of nfft samples per (source, microphone), starting at each
// source's cutStart (counted from 1). Throws std::runtime_error naming the
// source and microphone when the provider gives nothing or the window does
// not lie inside the impulse response.
IRArray LoadIR(const veskio2::veskconfig::MicArrayLocationFile2_0& micArray, IRProvider& provider,
               const std::vector<boost::shared_ptr<veskio2::veskconfig::Source>>& sources, uint32_t nfft);

// Checks that the provider covers the array's microphones, then source by
// source loads the windows, post-processes them by output type and
// transforms them straight into the TF array, which the file then takes
// over. irLength (samples) is recorded in the file. Report lines (late
// peaks, "tf_vect size") go to `report`; warnings to standard error. Throws
// std::runtime_error for every failure.
boost::shared_ptr<veskio2::vesk::VeskFile> MakeMeasuredTF(const TFJob& job, IRProvider& provider, uint32_t irLength,
                                                          std::ostream& report);

// The same for the microphone-array location file that `param` names.
boost::shared_ptr<veskio2::vesk::VeskFile> MakeMeasuredTF(const TFMakingParameters& param, IRProvider& provider,
                                                          uint32_t irLength, std::ostream& report);

}  // namespace trelvix

#endif
