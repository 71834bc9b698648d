#include "tf/IRToSpectrum.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <boost/format.hpp>

#include "base/Cores.h"
#include "base/RealFft.h"

namespace trelvix {

TFArray DoFFT(const IRArray& ir, uint32_t nfft) {
  if (nfft == 0) throw std::runtime_error("nfft must be at least 1, but 0 is given");
  const std::size_t numBins = nfft / 2 + 1;
  TFArray tf(ir.size());
  if (ir.empty()) return tf;
  vesk::RealFft<float> fft(nfft);
  for (std::size_t src = 0; src < ir.size(); ++src) {
    tf[src].assign(ir[src].size(), std::vector<std::complex<float>>(numBins));
    for (std::size_t mic = 0; mic < ir[src].size(); ++mic) {
      const std::vector<float>& row = ir[src][mic];
      if (row.size() != nfft) {
        throw std::runtime_error((boost::format("impulse response of src %d, mic %d has %d samples, "
                                                "but nfft is %d") %
                                  src % mic % row.size() % nfft)
                                     .str());
      }
      fft.Forward(row.data(), tf[src][mic].data());
    }
  }
  return tf;
}

void ConjugateTF(TFArray& tf) {
  vesk::OverCores(tf.size(), [&tf](std::size_t first, std::size_t last) {
    for (std::size_t src = first; src < last; ++src)
      for (auto& mic : tf[src])
        for (auto& v : mic) v = std::conj(v);
  });
}

namespace {

bool AllFinite(const std::vector<std::complex<float>>& row) {
  for (const std::complex<float>& v : row)
    if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) return false;
  return true;
}

}  // namespace

void FinishTF(TFArray& tf, const TFMakingParameters& param, bool normalize, std::ostream& report) {
  if (param.tf_type == TFType::GTF) {
    ConjugateTF(tf);
    if (normalize) Normalize(tf, param.nfft, param.normalize_src, param.normalize_mic, param.normalize_freq, report);
  }
  // A gigabyte of values is scanned on every core; the first bad source
  // found by any slice is then searched again for its microphone and bin.
  std::mutex firstBadLock;
  std::size_t firstBadSrc = tf.size();
  vesk::OverCores(tf.size(), [&](std::size_t first, std::size_t last) {
    for (std::size_t src = first; src < last; ++src)
      for (const auto& mic : tf[src])
        if (!AllFinite(mic)) {
          std::lock_guard<std::mutex> lock(firstBadLock);
          firstBadSrc = std::min(firstBadSrc, src);
          return;
        }
  });
  if (firstBadSrc == tf.size()) return;
  const std::size_t src = firstBadSrc;
  for (std::size_t mic = 0; mic < tf[src].size(); ++mic)
    for (std::size_t bin = 0; bin < tf[src][mic].size(); ++bin) {
      const std::complex<float> v = tf[src][mic][bin];
      if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) {
        throw std::runtime_error(
            (boost::format("the transfer function of src %d, mic %d is not finite (bin %d)") % src % mic % bin).str());
      }
    }
}

void Normalize(TFArray& tf, uint32_t nfft, bool normalize_src, bool normalize_mic, bool normalize_freq,
               std::ostream& report) {
  const std::size_t lastBin = nfft / 2;
  for (auto& src : tf)
    for (auto& mic : src)
      if (lastBin < mic.size()) mic[lastBin] = 0.0f;
  if (!normalize_src && !normalize_mic && !normalize_freq) return;

  const std::size_t numSrc = tf.size();
  const std::size_t numMic = numSrc ? tf[0].size() : 0;
  const std::size_t numBins = numMic ? tf[0][0].size() : 0;
  report << "tf_vect size: " << numSrc << ", " << numMic << ", " << numBins << std::endl;
  for (const auto& src : tf) {
    if (src.size() != numMic) throw std::runtime_error("Normalize needs as many microphones for every source");
    for (const auto& mic : src)
      if (mic.size() != numBins) throw std::runtime_error("Normalize needs as many bins for every spectrum");
  }

  // A block spans a whole flagged axis and one index of every other axis.
  const std::size_t srcBlocks = normalize_src ? 1 : numSrc;
  const std::size_t micBlocks = normalize_mic ? 1 : numMic;
  const std::size_t binBlocks = normalize_freq ? 1 : numBins;
  const std::size_t srcSpan = normalize_src ? numSrc : 1;
  const std::size_t micSpan = normalize_mic ? numMic : 1;
  const std::size_t binSpan = normalize_freq ? numBins : 1;
  for (std::size_t sb = 0; sb < srcBlocks; ++sb) {
    for (std::size_t mb = 0; mb < micBlocks; ++mb) {
      for (std::size_t bb = 0; bb < binBlocks; ++bb) {
        const std::size_t s0 = sb * srcSpan, m0 = mb * micSpan, k0 = bb * binSpan;
        float energy = 0.0f;
        for (std::size_t s = s0; s < s0 + srcSpan; ++s)
          for (std::size_t m = m0; m < m0 + micSpan; ++m)
            for (std::size_t k = k0; k < k0 + binSpan; ++k) {
              const std::complex<float> v = tf[s][m][k];
              energy += v.real() * v.real() + v.imag() * v.imag();
            }
        const double norm = std::sqrt(static_cast<double>(energy));
        if (!std::isfinite(norm) || norm == 0.0) continue;
        const float scale = static_cast<float>(norm);
        for (std::size_t s = s0; s < s0 + srcSpan; ++s)
          for (std::size_t m = m0; m < m0 + micSpan; ++m)
            for (std::size_t k = k0; k < k0 + binSpan; ++k) tf[s][m][k] /= scale;
      }
    }
  }
}

}  // namespace trelvix
