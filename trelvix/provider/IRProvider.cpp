#include "provider/IRProvider.h"

#include <stdexcept>

#include <boost/format.hpp>

#include "provider/MicIndexTable.h"

namespace trelvix {

int32_t mic_index_table[kMicIndexTableSize] = {};

namespace {
void CheckMicOrdinal(std::size_t mic) {
  if (mic >= kMicIndexTableSize) {
    throw std::runtime_error(
        (boost::format("microphone %d is outside the microphone index table (at most %d microphones)") %
         mic % kMicIndexTableSize)
            .str());
  }
}
}  // namespace

int32_t MicIndexOf(std::size_t mic) {
  CheckMicOrdinal(mic);
  return mic_index_table[mic];
}

void SetMicIndexOf(std::size_t mic, int32_t micIndex) {
  CheckMicOrdinal(mic);
  mic_index_table[mic] = micIndex;
}

}  // namespace trelvix
