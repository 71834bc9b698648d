// Where the transfer-function maker gets one impulse response per
// (source, microphone) from.
#ifndef TRELVIX_PROVIDER_IRPROVIDER_H
#define TRELVIX_PROVIDER_IRPROVIDER_H

#include <cstddef>
#include <cstdint>
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
  virtual std::size_t GetNumSources() = 0;
  virtual std::size_t GetNumMics() = 0;
  virtual std::vector<boost::shared_ptr<veskio2::veskconfig::Source>> GetSources() = 0;
  virtual boost::shared_ptr<std::vector<unsigned int>> GetMicIndices() = 0;
};

}  // namespace trelvix

#endif
