// A look at the files dravik is about to read for one recording, so that a
// recording that does not fit the run is refused by name, and a file that
// cannot be opened is named with the reason.
#ifndef TRELVIX_PROVIDER_WAVEFILECHECKS_H
#define TRELVIX_PROVIDER_WAVEFILECHECKS_H

#include <stdexcept>
#include <string>
#include <vector>

#include "veskio2/VeskConfig.h"

namespace trelvix {

// A recording that does not fit the run: another sampling rate, or fewer
// channels than its micIndices need.
class WaveFileMismatch : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Checks the recording `wave` (the name as the list gives it, relative to
// the current directory) and the TSP origin before dravik runs for them.
// Reads only the headers. Throws WaveFileMismatch when the recording's rate
// differs from `samplingFreqHz` (0: not checked) or it has fewer channels
// than its highest micIndex + 1. Returns one line naming the recording or
// the origin that cannot be opened and the system's reason; empty when both
// open; a file that is not regular (a device, a pipe) cannot ("not a
// regular file").
std::string CheckRecordingAndOrigin(const std::string& wave, const std::vector<unsigned int>& micIndices,
                                    unsigned int samplingFreqHz,
                                    const veskio2::veskconfig::OriginalImpulseFile& origin);

// Everything that would make dravik fail on the list's files, found before
// the first run so that all of it is told at once: one line for each
// recording (each distinct name once, in list order) and for the TSP origin
// that cannot be opened, naming the file and the reason (the origin's line
// says when it is the template's placeholder name), and one for each
// recording with fewer frames than tspOffset plus the averaged periods
// need. Reads only headers; never throws; empty when all is well.
struct PreflightProblem {
  std::string recording;  // the recording's name as the list gives it; empty for the origin
  std::string line;
};
std::vector<PreflightProblem> PreflightRecordings(const veskio2::veskconfig::TSPListFile2_0& list);

}  // namespace trelvix

#endif
