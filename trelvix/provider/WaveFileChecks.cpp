#include "provider/WaveFileChecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <boost/format.hpp>
#include <sndfile.h>

#include "base/SoundFileHandle.h"

namespace trelvix {

using veskio2::veskconfig::OriginalImpulseFile;

namespace {

// Why `path` cannot be opened for reading; empty when it can. A wave file
// must also be one that libsndfile reads, whose header is then in *info.
std::string OpenProblem(const std::string& path, bool wave, SF_INFO* info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  // A pipe could block the open, a device never end: dravik judges those.
  if (!S_ISREG(st.st_mode)) return "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  if (!wave) return "";
  *info = SF_INFO{};
  const vesk::SoundFileHandle file(sf_open(path.c_str(), SFM_READ, info));
  if (!file) return sf_strerror(nullptr);
  return "";
}

}  // namespace

std::string CheckRecordingAndOrigin(const std::string& wave, const std::vector<unsigned int>& micIndices,
                                    unsigned int samplingFreqHz, const OriginalImpulseFile& origin) {
  SF_INFO info{};
  const std::string problem = OpenProblem(wave, true, &info);
  if (!problem.empty()) return "cannot open the recording " + wave + ": " + problem;
  if (info.channels > 0) {  // a regular file that libsndfile read
    if (samplingFreqHz != 0 && static_cast<unsigned int>(info.samplerate) != samplingFreqHz) {
      throw WaveFileMismatch((boost::format("%s is sampled at %d Hz, but the run is at %d Hz: give "
                                            "--sampling-freq %d, or resample the recording") %
                              wave % info.samplerate % samplingFreqHz % info.samplerate)
                                 .str());
    }
    if (!micIndices.empty()) {
      const unsigned int highest = *std::max_element(micIndices.begin(), micIndices.end());
      const unsigned long needed = static_cast<unsigned long>(highest) + 1;
      if (static_cast<unsigned long>(info.channels) < needed) {
        throw WaveFileMismatch((boost::format("%s has %d channels, but its micIndices need %d "
                                              "(the highest micIndex is %d)") %
                                wave % info.channels % needed % highest)
                                   .str());
      }
    }
  }
  if (origin.kind != OriginalImpulseFile::PCM_WAVE && origin.kind != OriginalImpulseFile::RAW_FLOAT) return "";
  const std::string originName = origin.name.raw();
  SF_INFO originInfo{};
  const std::string originProblem =
      OpenProblem(originName, origin.kind == OriginalImpulseFile::PCM_WAVE, &originInfo);
  if (!originProblem.empty()) return "cannot open the TSP origin file " + originName + ": " + originProblem;
  return "";
}

}  // namespace trelvix
