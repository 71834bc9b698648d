#include "tf/MeasuredIRToTF.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <utility>

#include <boost/format.hpp>

#include "tf/ConfigInputs.h"
#include "tf/IRToSpectrum.h"
#include "tf/TFToVeskFile.h"

namespace trelvix {

using veskio2::veskconfig::Source;
using veskio2::veskconfig::Source2;

namespace {

using SourceList = std::vector<boost::shared_ptr<Source>>;

const Source2& AsSource2(const boost::shared_ptr<Source>& source, std::size_t src) {
  if (!source) throw std::runtime_error((boost::format("source %d of the list is missing") % src).str());
  const Source2* source2 = dynamic_cast<const Source2*>(source.get());
  if (source->GetVersion() != 2 || !source2) {
    throw std::runtime_error(
        (boost::format("unknown Source structure version: %d") % source->GetVersion()).str());
  }
  return *source2;
}

veskio2::Vector3<float> CartesianOf(const Source2& source) {
  return source.GetPosition().ToCartesian();
}

// Index of the first sample with the largest magnitude.
std::size_t FirstPeak(const std::vector<float>& row) {
  std::size_t peak = 0;
  for (std::size_t i = 1; i < row.size(); ++i)
    if (std::fabs(row[i]) > std::fabs(row[peak])) peak = i;
  return peak;
}

void CheckMicCombination(const std::vector<veskio2::veskconfig::Mic1>& mics,
                         const std::vector<unsigned int>& providerIndices) {
  bool same = mics.size() == providerIndices.size();
  for (std::size_t i = 0; same && i < mics.size(); ++i) {
    const unsigned int micIndex = mics[i].GetMicIndex();
    same = std::find(providerIndices.begin(), providerIndices.end(), micIndex) != providerIndices.end();
  }
  if (!same) {
    std::cerr << "mic combinations are not same" << std::endl;
    throw std::runtime_error("mic combinations are not same");
  }
}

// GTF: every source's responses divided by their total energy.
void NormalizeSourceEnergy(IRArray& ir) {
  for (std::size_t src = 0; src < ir.size(); ++src) {
    float energy = 0.0f;
    for (const auto& row : ir[src]) {
      float partial = 0.0f;
      for (float sample : row) partial += sample * sample;
      energy += partial;
    }
    if (energy == 0.0f) {
      std::cerr << "warning: the impulse responses of src " << src
                << " are all zero; its transfer functions are not finite" << std::endl;
    }
    for (auto& row : ir[src])
      for (float& sample : row) sample /= energy;
  }
}

// M2PG: the position straight below the array, (0, 0, -1), is reserved.
void RemoveReservedPosition(SourceList& kept, IRArray& ir) {
  for (std::size_t i = 0; i < kept.size();) {
    const veskio2::Vector3<float> p = CartesianOf(AsSource2(kept[i], i));
    if (p.x == 0.0f && p.y == 0.0f && p.z == -1.0f) {
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
      ir.erase(ir.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

// M2PG: keeps the direct sound; cutEnd > 0 fixes the end, 0 ends
// direct_length samples after the peak.
void TruncateAfterDirectSound(const SourceList& kept, IRArray& ir, uint32_t nfft,
                              uint32_t directLength) {
  for (std::size_t src = 0; src < kept.size(); ++src) {
    const uint32_t cutEnd = static_cast<uint32_t>(AsSource2(kept[src], src).GetCutEnd());
    for (auto& row : ir[src]) {
      if (cutEnd > 0) {
        if (nfft <= cutEnd) {
          throw std::runtime_error((boost::format("cut_end exceeds the number of FFT: src %d") % src).str());
        }
        std::fill(row.begin() + cutEnd, row.end(), 0.0f);
      } else {
        const uint64_t end = static_cast<uint64_t>(FirstPeak(row)) + 1 + directLength;
        if (end < nfft) std::fill(row.begin() + static_cast<std::ptrdiff_t>(end), row.end(), 0.0f);
      }
    }
  }
}

// M2PG: names the files whose responses peak late (sample 200 or later).
void ReportLatePeaks(const SourceList& kept, const IRArray& ir, std::ostream& report) {
  std::vector<std::pair<uint32_t, uint32_t>> latePeaks;
  for (std::size_t src = 0; src < ir.size(); ++src)
    for (std::size_t mic = 0; mic < ir[src].size(); ++mic)
      if (FirstPeak(ir[src][mic]) > 199) latePeaks.emplace_back(src, mic);
  for (const auto& [src, mic] : latePeaks) {
    for (const auto& file : AsSource2(kept[src], src).GetFiles()) {
      for (unsigned int index : file.GetMicIndices()) {
        if (index == mic) report << file.GetName().raw() << " src " << src << ", mic " << index << "\n";
      }
    }
  }
  report.flush();
}

}  // namespace

IRArray LoadIR(const veskio2::veskconfig::MicArrayLocationFile2_0& /*micArray*/, IRProvider& provider,
               const SourceList& sources, uint32_t nfft) {
  const std::size_t numSrc = provider.GetNumSources();
  const std::size_t numMic = provider.GetNumMics();
  // Rows are sized once their samples are known to cover the window, so an
  // nfft beyond every response never allocates.
  IRArray ir = MakeArray3<float>(numSrc, numMic, 0, 0.0f);
  if (sources.size() < numSrc) {
    throw std::runtime_error((boost::format("the provider lists %d sources but describes %d") % numSrc %
                              sources.size())
                                 .str());
  }
  for (std::size_t src = 0; src < numSrc; ++src) {
    const int cutStart = AsSource2(sources[src], src).GetCutStart();
    for (std::size_t mic = 0; mic < numMic; ++mic) {
      const std::vector<float> samples = provider.GetIR(src, mic);
      if (samples.empty()) {
        const std::string message = (boost::format("failed GetIR(src=%d, mic=%d)") % src % mic).str();
        std::cerr << message << std::endl;
        throw std::runtime_error(message);
      }
      if (cutStart < 1) {
        throw std::runtime_error(
            (boost::format("cutStart of src %d is %d, but counts from 1 (mic %d has %d samples, "
                           "%d needed)") %
             src % cutStart % mic % samples.size() % nfft)
                .str());
      }
      const uint64_t start = static_cast<uint64_t>(cutStart) - 1;
      const uint64_t needed = start + nfft;
      if (samples.size() < needed) {
        throw std::runtime_error(
            (boost::format("impulse response of src %d, mic %d is too short: %d samples available, "
                           "%d needed (cutStart %d, nfft %d)") %
             src % mic % samples.size() % needed % cutStart % nfft)
                .str());
      }
      ir[src][mic].assign(samples.begin() + static_cast<std::ptrdiff_t>(start),
                          samples.begin() + static_cast<std::ptrdiff_t>(needed));
    }
  }
  return ir;
}

boost::shared_ptr<veskio2::vesk::VeskFile> MakeMeasuredTF(const TFMakingParameters& param,
                                                          IRProvider& provider, uint32_t irLength,
                                                          std::ostream& report) {
  const auto micArray = ReadMicArrayLocationFile(param.mic_array_location_file);
  const std::vector<veskio2::veskconfig::Mic1> mics = micArray->GetMics();
  if (provider.GetNumSources() == 0) throw std::runtime_error("Empty TF vector");

  const auto providerIndices = provider.GetMicIndices();
  if (!providerIndices) throw std::runtime_error("the impulse-response provider gave no microphone indices");
  CheckMicCombination(mics, *providerIndices);
  // The list's own microphone count sizes every source; it must be the
  // array's, or the file would hold transfer functions of microphones that
  // it does not describe.
  if (provider.GetNumMics() != mics.size()) {
    const std::string& list = param.ir_list_file.empty() ? param.tsp_list_file : param.ir_list_file;
    throw std::runtime_error((boost::format("%s gives %d microphones per source (numMic), but %s lists %d") % list %
                              provider.GetNumMics() % param.mic_array_location_file % mics.size())
                                 .str());
  }

  const SourceList sources = provider.GetSources();
  IRArray ir = LoadIR(*micArray, provider, sources, param.nfft);
  SourceList kept = sources;
  kept.resize(ir.size());

  if (param.tf_type == TFType::GTF) {
    NormalizeSourceEnergy(ir);
  } else {
    RemoveReservedPosition(kept, ir);
    TruncateAfterDirectSound(kept, ir, param.nfft, param.direct_length);
    ReportLatePeaks(kept, ir, report);
  }

  TFArray tf = DoFFT(ir, param.nfft);
  if (param.tf_type == TFType::GTF) {
    ConjugateTF(tf);
    Normalize(tf, param.nfft, param.normalize_src, param.normalize_mic, param.normalize_freq, report);
  }

  std::vector<veskio2::Vector3<float>> positions;
  for (std::size_t src = 0; src < kept.size(); ++src) positions.push_back(CartesianOf(AsSource2(kept[src], src)));
  return AssembleTFFile(tf, positions, micArray, param.nfft, irLength, param.sampling_freq, param.tf_type);
}

}  // namespace trelvix
