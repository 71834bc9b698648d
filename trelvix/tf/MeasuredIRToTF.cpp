#include "tf/MeasuredIRToTF.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <sstream>
#include <tuple>
#include <utility>

#include <boost/format.hpp>

#include "base/RealFft.h"
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
    throw std::runtime_error((boost::format("unknown Source structure version: %d") % source->GetVersion()).str());
  }
  return *source2;
}

veskio2::Vector3<float> CartesianOf(const Source2& source) { return source.GetPosition().ToCartesian(); }

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

// The per-source steps of the measured computation, run source by source so
// that only one source's windows are held. Reports and the first
// error found after loading are kept until every source is loaded, so that
// they come out as when loading finished before processing began.
class SourcePipeline {
public:
  SourcePipeline(const TFMakingParameters& param, IRProvider& provider, const SourceList& sources)
      : param_(param), provider_(provider), sources_(sources), numMic_(provider.GetNumMics()) {}

  // Loads the windows of source `src` into the rows (numMic x nfft).
  void Load(std::size_t src) {
    rows_.resize(numMic_);
    const int cutStart = AsSource2(sources_[src], src).GetCutStart();
    for (std::size_t mic = 0; mic < numMic_; ++mic) {
      const uint32_t nfft = param_.nfft;
      const uint64_t start = cutStart < 1 ? 0 : static_cast<uint64_t>(cutStart) - 1;
      const uint64_t needed = start + nfft;
      // A window that cannot lie inside any response is not read.
      const std::size_t length =
          cutStart < 1 ? provider_.GetIRLength(src, mic)
                       : provider_.GetIRWindow(src, mic, static_cast<std::size_t>(start), nfft, &rows_[mic]);
      if (length == 0) {
        const std::string message = (boost::format("failed GetIR(src=%d, mic=%d)") % src % mic).str();
        std::cerr << message << std::endl;
        throw std::runtime_error(message);
      }
      if (cutStart < 1) {
        throw std::runtime_error((boost::format("cutStart of src %d is %d, but counts from 1 (mic %d has %d samples, "
                                                "%d needed)") %
                                  src % cutStart % mic % length % nfft)
                                     .str());
      }
      if (length < needed) {
        throw std::runtime_error(
            (boost::format("impulse response of src %d, mic %d is too short: %d samples available, "
                           "%d needed (cutStart %d, nfft %d)") %
             src % mic % length % needed % cutStart % nfft)
                .str());
      }
    }
  }

  // GTF: the source's responses divided by their total energy.
  // Zero or overflowing energy would write values that are not finite, or
  // exact zeros: the run stops once every source is loaded.
  void NormalizeSourceEnergy(std::size_t src) {
    float energy = 0.0f;
    for (std::size_t mic = 0; mic < rows_.size(); ++mic) {
      float partial = 0.0f;
      for (float sample : rows_[mic]) partial += sample * sample;
      energy += partial;
      if (!std::isfinite(energy)) {
        KeepError((boost::format("the energy of src %d overflows single precision at mic %d: "
                                 "its impulse responses are far too large") %
                   src % mic)
                      .str());
        return;
      }
    }
    if (energy == 0.0f) {
      KeepError((boost::format("the impulse responses of src %d have zero energy in single precision at every "
                               "microphone (mic 0 to %d), so its transfer functions would not be finite") %
                 src % (rows_.empty() ? 0 : rows_.size() - 1))
                    .str());
      return;
    }
    for (auto& row : rows_)
      for (float& sample : row) sample /= energy;
  }

  // M2PG: keeps the direct sound; cutEnd > 0 fixes the end, 0 ends
  // direct_length samples after the peak. Notes the responses that peak
  // late (sample 200 or later) for the report. `kept` numbers the source
  // among those kept.
  void TruncateAfterDirectSound(std::size_t src, std::size_t kept) {
    const uint32_t nfft = param_.nfft;
    const uint32_t cutEnd = static_cast<uint32_t>(AsSource2(sources_[src], src).GetCutEnd());
    if (cutEnd > 0 && nfft <= cutEnd) {
      if (numMic_ > 0) KeepError((boost::format("cut_end exceeds the number of FFT: src %d") % kept).str());
      return;
    }
    for (std::size_t mic = 0; mic < numMic_; ++mic) {
      auto& row = rows_[mic];
      if (cutEnd > 0) {
        std::fill(row.begin() + cutEnd, row.end(), 0.0f);
      } else {
        const uint64_t end = static_cast<uint64_t>(FirstPeak(row)) + 1 + param_.direct_length;
        if (end < nfft) std::fill(row.begin() + static_cast<std::ptrdiff_t>(end), row.end(), 0.0f);
      }
      if (FirstPeak(row) > 199) latePeaks_.emplace_back(src, kept, mic);
    }
  }

  const std::vector<std::vector<float>>& Rows() const { return rows_; }

  // The one-sided spectra of the rows, as the next source of `tf`.
  void Transform(TFArray& tf) {
    if (!fft_) fft_.emplace(param_.nfft);  // made once the first window is known to fit
    const std::size_t numBins = param_.nfft / 2 + 1;
    tf.emplace_back(numMic_);
    for (std::size_t mic = 0; mic < numMic_; ++mic) {
      std::vector<std::complex<float>>& spectrum = tf.back()[mic];
      spectrum.resize(numBins);
      fft_->Forward(rows_[mic].data(), spectrum.data());
    }
  }

  // What was kept back while loading: the first error, then
  // the report of late peaks (by file name).
  void Finish(std::ostream& report) {
    if (!laterError_.empty()) throw std::runtime_error(laterError_);
    for (const auto& [src, kept, mic] : latePeaks_) {
      for (const auto& file : AsSource2(sources_[src], src).GetFiles()) {
        for (unsigned int index : file.GetMicIndices()) {
          if (index == mic) report << file.GetName().raw() << " src " << kept << ", mic " << index << "\n";
        }
      }
    }
    report.flush();
  }

private:
  const TFMakingParameters& param_;
  IRProvider& provider_;
  const SourceList& sources_;
  const std::size_t numMic_;
  std::vector<std::vector<float>> rows_;  // [mic][sample] of the current source
  std::optional<vesk::RealFft<float>> fft_;
  // The first error found while processing, thrown once every source is loaded.
  std::string laterError_;
  void KeepError(const std::string& message) {
    if (laterError_.empty()) laterError_ = message;
  }
  std::vector<std::tuple<std::size_t, std::size_t, std::size_t>> latePeaks_;  // src, kept, mic
};

// M2PG: the position straight below the array, (0, 0, -1), is reserved.
bool IsReservedPosition(const veskio2::Vector3<float>& p) { return p.x == 0.0f && p.y == 0.0f && p.z == -1.0f; }

}  // namespace

IRArray LoadIR(const veskio2::veskconfig::MicArrayLocationFile2_0& /*micArray*/, IRProvider& provider,
               const SourceList& sources, uint32_t nfft) {
  const std::size_t numSrc = provider.GetNumSources();
  if (sources.size() < numSrc) {
    throw std::runtime_error(
        (boost::format("the provider lists %d sources but describes %d") % numSrc % sources.size()).str());
  }
  TFMakingParameters param;
  param.nfft = nfft;
  SourcePipeline pipeline(param, provider, sources);
  IRArray ir;
  for (std::size_t src = 0; src < numSrc; ++src) {
    pipeline.Load(src);
    ir.push_back(pipeline.Rows());
  }
  return ir;
}

boost::shared_ptr<veskio2::vesk::VeskFile> MakeMeasuredTF(const TFJob& job, IRProvider& provider, uint32_t irLength,
                                                          std::ostream& report) {
  const TFMakingParameters& param = job.param;
  const std::vector<veskio2::veskconfig::Mic1>& mics = job.micArray->GetMics();
  if (provider.GetNumSources() == 0) throw std::runtime_error("Empty TF vector");

  const auto providerIndices = provider.GetMicIndices();
  if (!providerIndices) throw std::runtime_error("the impulse-response provider gave no microphone indices");
  CheckMicCombination(mics, *providerIndices);
  // The list's own microphone count sizes every source; it must be the
  // array's, or the file would hold transfer functions of microphones that
  // it does not describe.
  if (provider.GetNumMics() != mics.size()) {
    throw std::runtime_error((boost::format("%s gives %d microphones per source (numMic), but %s lists %d") %
                              job.ListPath() % provider.GetNumMics() % param.mic_array_location_file % mics.size())
                                 .str());
  }

  const SourceList sources = provider.GetSources();
  const std::size_t numSrc = provider.GetNumSources();
  if (sources.size() < numSrc) {
    throw std::runtime_error(
        (boost::format("the provider lists %d sources but describes %d") % numSrc % sources.size()).str());
  }
  const bool gtf = param.tf_type == TFType::GTF;
  SourcePipeline pipeline(param, provider, sources);
  TFArray tf;
  std::vector<veskio2::Vector3<float>> positions;
  for (std::size_t src = 0; src < numSrc; ++src) {
    pipeline.Load(src);
    const veskio2::Vector3<float> position = CartesianOf(AsSource2(sources[src], src));
    if (gtf) {
      pipeline.NormalizeSourceEnergy(src);
    } else if (IsReservedPosition(position)) {
      continue;
    } else {
      pipeline.TruncateAfterDirectSound(src, positions.size());
    }
    pipeline.Transform(tf);
    positions.push_back(position);
  }
  pipeline.Finish(report);
  FinishTF(tf, param, true, report);
  return AssembleTFFile(std::move(tf), positions, job.micArray, param.nfft, irLength, param.sampling_freq,
                        param.tf_type);
}

boost::shared_ptr<veskio2::vesk::VeskFile> MakeMeasuredTF(const TFMakingParameters& param, IRProvider& provider,
                                                          uint32_t irLength, std::ostream& report) {
  TFJob job;
  job.param = param;
  job.micArray = ReadMicArrayLocationFile(param.mic_array_location_file);
  return MakeMeasuredTF(job, provider, irLength, report);
}

}  // namespace trelvix
