// Where the transfer-function maker gets one impulse response per
// (source, microphone) from.
#ifndef TRELVIX_PROVIDER_IRPROVIDER_H
#define TRELVIX_PROVIDER_IRPROVIDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "veskio2/VeskConfig.h"

namespace trelvix {

// micIndex of the m-th microphone (file order) of the microphone-array
// location file; filled by the transfer-function maker, read by providers.
constexpr std::size_t kMicIndexTableSize = 1000;
extern int32_t mic_index_table[kMicIndexTableSize];

class IRProvider {
public:
  virtual ~IRProvider() = default;
  // Samples of the impulse response of source `src` at microphone `mic`
  // (ordinal in the location file); empty when it cannot be read.
  virtual std::vector<float> GetIR(std::size_t src, std::size_t mic) = 0;
  // The length (samples) of that impulse response, and, when it holds
  // samples [start, start + count), those samples in *window (resized to
  // `count`; left alone when the window does not fit). 0 when it cannot be
  // read, reported as GetIR reports it. Providers of files read only what the window needs.
  virtual std::size_t GetIRWindow(std::size_t src, std::size_t mic, std::size_t start, std::size_t count,
                                  std::vector<float>* window);
  // The length (samples) of that impulse response, 0 when it cannot be read.
  virtual std::size_t GetIRLength(std::size_t src, std::size_t mic) { return GetIRWindow(src, mic, 0, 0, nullptr); }
  virtual std::size_t GetNumSources() = 0;
  virtual std::size_t GetNumMics() = 0;
  virtual std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> GetSources() = 0;
  virtual boost::shared_ptr<std::vector<unsigned int>> GetMicIndices() = 0;
};

// GetIRWindow over the .flt file `name`: reads only the window, takes the
// length from the file's size, and reports an unreadable file on standard
// error as "<name>: <reason>". Throws std::runtime_error naming the file and
// the sample index (from 0) when a sample of the window is not finite.
std::size_t ReadFltWindow(const std::string& name, std::size_t start, std::size_t count, std::vector<float>* window);

}  // namespace trelvix

#endif
