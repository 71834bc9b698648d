// Impulse responses computed from recorded TSP waves by running dravik once
// per recorded wave file into a temporary directory.
#ifndef TRELVIX_PROVIDER_IRPROVIDERTSP_H
#define TRELVIX_PROVIDER_IRPROVIDERTSP_H

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "provider/IRProvider.h"

namespace trelvix {

// How dravik is started and where the reports about it go.
struct DravikInvocation {
  // Path of the program, or a bare name looked up on the search path.
  std::string program = "dravik";
  // True when standard output carries the transfer-function file: the
  // "Dravik: " and wait-status lines, and dravik's own standard output, then
  // go to standard error.
  bool reportToStderr = false;
  // The rate (Hz) every recording must have; 0 checks none.
  unsigned int samplingFreqHz = 0;
  // dravik runs kept going at once, looking ahead along the list; 0 takes
  // DravikJobs(), 1 runs one at a time with the program's own streams.
  unsigned jobs = 0;
};

// dravik beside the running executable when it is there, else "dravik".
std::string LocateDravik();

// Where the outputs for recorded wave file `wave` live, relative to the
// temporary directory: absolute names and ".." components are mapped to
// names below it, so no wave name reaches outside.
std::string WaveWorkDirectory(const std::string& wave);

// The micIndices of the first file of the first source that has them.
// Throws std::runtime_error "no mic index found in <file> tag".
boost::shared_ptr<std::vector<unsigned int>> GetMicIndicesFromTSPList(
    const boost::shared_ptr<veskio2::veskconfig::TSPListFile2_0>& list);

class IRProviderTSP : public IRProvider {
public:
  // Reads and checks the list; runs nothing and makes no directory yet.
  explicit IRProviderTSP(const std::string& listFile, const DravikInvocation& dravik = DravikInvocation());
  // The same over a list already read from `listFile`.
  IRProviderTSP(const boost::shared_ptr<veskio2::veskconfig::VeskConfigFile>& list, const std::string& listFile,
                const DravikInvocation& dravik = DravikInvocation());

  // Runs dravik for the wave file that covers the microphone (once per
  // wave file) and reads its output numbered mic + 1; empty when missing.
  std::vector<float> GetIR(std::size_t src, std::size_t mic) override;
  std::size_t GetIRWindow(std::size_t src, std::size_t mic, std::size_t start, std::size_t count,
                          std::vector<float>* window) override;
  std::size_t GetNumSources() override;
  // numMic, or the number of micIndices over the files of the first source.
  std::size_t GetNumMics() override;
  std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> GetSources() override;
  boost::shared_ptr<std::vector<unsigned int>> GetMicIndices() override;

  // Empty until the first GetIR call; the directory stays on disk.
  std::string GetTemporaryDirectory() const;

  class Impl;

private:
  boost::shared_ptr<Impl> impl_;
};

}  // namespace trelvix

#endif
