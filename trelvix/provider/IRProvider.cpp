#include "provider/IRProvider.h"

#include <cmath>
#include <iostream>
#include <stdexcept>

#include <boost/format.hpp>

#include "provider/MicIndexTable.h"
#include "veskio2/FltFile.h"

namespace trelvix {

int32_t mic_index_table[kMicIndexTableSize] = {};

namespace {
void CheckMicOrdinal(std::size_t mic) {
  if (mic >= kMicIndexTableSize) {
    throw std::runtime_error(
        (boost::format("microphone %d is outside the microphone index table (at most %d microphones)") % mic %
         kMicIndexTableSize)
            .str());
  }
}
}  // namespace

std::size_t IRProvider::GetIRWindow(std::size_t src, std::size_t mic, std::size_t start, std::size_t count,
                                    std::vector<float>* window) {
  const std::vector<float> samples = GetIR(src, mic);
  if (window && start <= samples.size() && count <= samples.size() - start) {
    window->assign(samples.begin() + static_cast<std::ptrdiff_t>(start),
                   samples.begin() + static_cast<std::ptrdiff_t>(start + count));
  }
  return samples.size();
}

std::size_t ReadFltWindow(const std::string& name, std::size_t start, std::size_t count, std::vector<float>* window) {
  veskio2::flt::InputFile file(name);
  std::size_t length = file.Samples();
  if (length > 0 && window && start <= length && count <= length - start) {
    window->resize(count);
    if (!file.ReadWindow(start, count, window->data())) length = 0;
    // A non-finite sample would spread over every bin of its spectrum.
    for (std::size_t i = 0; length > 0 && i < count; ++i) {
      if (!std::isfinite((*window)[i])) {
        throw std::runtime_error((boost::format("%s: sample %d is not a finite number") % name % (start + i)).str());
      }
    }
  }
  if (length == 0) std::cerr << name << ": " << file.Problem() << std::endl;
  return length;
}

int32_t MicIndexOf(std::size_t mic) {
  CheckMicOrdinal(mic);
  return mic_index_table[mic];
}

void SetMicIndexOf(std::size_t mic, int32_t micIndex) {
  CheckMicOrdinal(mic);
  mic_index_table[mic] = micIndex;
}

}  // namespace trelvix
