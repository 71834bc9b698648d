#include "provider/WaveFileChecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>

#include <boost/format.hpp>
#include <sndfile.h>

#include "base/SoundFileHandle.h"
#include "veskio2/RegularFile.h"
#include "dravik/Invocation.h"
#include "options/OptionDefaults.h"

namespace trelvix {

using veskio2::veskconfig::OriginalImpulseFile;
using veskio2::veskconfig::TSPListFile2_0;

namespace {

// Why `path` cannot be opened for reading; empty when it can. A wave file
// must also be one that libsndfile reads, whose header is then in *info.
std::string OpenProblem(const std::string& path, bool wave, SF_INFO* info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  // A pipe could block the open, a device never end: the impulse
  // calculator refuses those too.
  if (!S_ISREG(st.st_mode)) return veskio2::kNotRegularFile;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  if (!wave) return "";
  *info = SF_INFO{};
  const vesk::SoundFileHandle file(sf_open(path.c_str(), SFM_READ, info));
  if (!file) return sf_strerror(nullptr);
  return "";
}

// The line for a TSP origin that cannot be opened.
std::string OriginLine(const std::string& name, const std::string& problem) {
  std::string line = "cannot open the TSP origin file " + name + ": " + problem;
  if (name == kOriginalImpulseFilePlaceholder) {
    line +=
        " (this is the template's placeholder name: give the origin tspgen wrote to the template's "
        "--original-impulse-file, or edit originalImpulseFile in the list)";
  }
  return line;
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
  const std::string originProblem = OpenProblem(originName, origin.kind == OriginalImpulseFile::PCM_WAVE, &originInfo);
  if (!originProblem.empty()) return OriginLine(originName, originProblem);
  return "";
}

std::vector<PreflightProblem> PreflightRecordings(const TSPListFile2_0& list) {
  std::vector<PreflightProblem> lines;
  try {
    // Frames dravik needs: the offset plus the averaged periods, when the
    // list gives them all.
    uint64_t needed = 0;
    if (list.HasTspOffset() && list.HasSynchronousAverage()) {
      const uint64_t period = list.HasTspLength() ? list.GetTspLength() : dravik::kDefaultSamplesPerFrame;
      needed = list.GetTspOffset() + period * list.GetSynchronousAverage();
    }
    std::set<std::string> seen;
    for (const auto& source : list.GetSources()) {
      if (!source.HasFiles()) continue;
      for (const auto& file : source.GetFiles()) {
        if (!file.HasName()) continue;
        const std::string wave = file.GetName().raw();
        if (!seen.insert(wave).second) continue;
        SF_INFO info{};
        const std::string problem = OpenProblem(wave, true, &info);
        if (!problem.empty()) {
          lines.push_back({wave, "cannot open the recording " + wave + ": " + problem});
        } else if (info.channels > 0 && needed > 0 && static_cast<uint64_t>(info.frames) < needed) {
          lines.push_back(
              {wave, (boost::format("the recording %s is cut short: it has %d frames, but tspOffset %d "
                                    "and %d periods of %d samples need %d") %
                      wave % info.frames % list.GetTspOffset() % list.GetSynchronousAverage() %
                      (list.HasTspLength() ? list.GetTspLength() : dravik::kDefaultSamplesPerFrame) % needed)
                         .str()});
        }
      }
    }
    if (list.HasOriginalImpulseFile()) {
      const OriginalImpulseFile origin = list.GetOriginalImpulseFile();
      if (origin.kind == OriginalImpulseFile::PCM_WAVE || origin.kind == OriginalImpulseFile::RAW_FLOAT) {
        SF_INFO originInfo{};
        const std::string problem =
            OpenProblem(origin.name.raw(), origin.kind == OriginalImpulseFile::PCM_WAVE, &originInfo);
        if (!problem.empty()) lines.push_back({"", OriginLine(origin.name.raw(), problem)});
      }
    }
  } catch (const std::exception&) {
    // An unset or odd field: the runs themselves report it as they always do.
  }
  return lines;
}

}  // namespace trelvix
