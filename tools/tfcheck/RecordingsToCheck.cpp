#include "RecordingsToCheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <boost/pointer_cast.hpp>

#include "base/RealFft.h"
#include "SoundFile.h"
#include "SpectrumToDelay.h"
#include "ToolError.h"
#include "veskio2/VeskConfig.h"
#include "base/Constants.h"
#include "dravik/Invocation.h"

namespace vesktools {
namespace vc = veskio2::veskconfig;

namespace {

double Db(double power) { return power > 0 ? 10.0 * std::log10(power) : -300.0; }

// target[i] += x[i] over length frames of numCh channels, and the per
// channel extremes into high/low. For common channel counts (C a multiple
// of 4) four channels at a time in GCC's vector type, the extremes in
// registers: the compiler does not pack them on its own.
typedef float Float4 __attribute__((vector_size(16)));

template <std::size_t C>
void AddPeriodSegmentOf(const float* x, float* target, std::size_t length, float* high, float* low) {
  constexpr std::size_t K = C / 4;
  Float4 h[K], l[K];
  std::memcpy(h, high, sizeof h);
  std::memcpy(l, low, sizeof l);
  for (std::size_t f = 0; f < length; ++f)
    for (std::size_t k = 0; k < K; ++k) {
      Float4 v, t;
      std::memcpy(&v, x + f * C + 4 * k, sizeof v);
      std::memcpy(&t, target + f * C + 4 * k, sizeof t);
      t += v;
      std::memcpy(target + f * C + 4 * k, &t, sizeof t);
      h[k] = h[k] > v ? h[k] : v;
      l[k] = l[k] < v ? l[k] : v;
    }
  std::memcpy(high, h, sizeof h);
  std::memcpy(low, l, sizeof l);
}

void AddPeriodSegment(const float* __restrict x, float* __restrict target, std::size_t length, std::size_t numCh,
                      float* __restrict high, float* __restrict low) {
  switch (numCh) {
    case 4:
      return AddPeriodSegmentOf<4>(x, target, length, high, low);
    case 8:
      return AddPeriodSegmentOf<8>(x, target, length, high, low);
    case 12:
      return AddPeriodSegmentOf<12>(x, target, length, high, low);
    case 16:
      return AddPeriodSegmentOf<16>(x, target, length, high, low);
    default:
      break;
  }
  for (std::size_t f = 0; f < length; ++f)
    for (std::size_t ch = 0; ch < numCh; ++ch) {
      const float v = x[f * numCh + ch];
      target[f * numCh + ch] += v;
      high[ch] = high[ch] > v ? high[ch] : v;
      low[ch] = low[ch] < v ? low[ch] : v;
    }
}

// Energy per sample of a real signal from its one-sided spectrum.
double PowerFromSpectrum(const std::complex<double>* x, std::size_t n) {
  double e = std::norm(x[0]) + std::norm(x[n / 2]);
  for (std::size_t k = 1; k < n / 2; ++k) e += 2.0 * std::norm(x[k]);
  return e / (static_cast<double>(n) * static_cast<double>(n));
}

// Signal and noise power summed over the period's bins [binLo, binHi]:
// noise[k] one period's, from the halves' difference; the signal is the
// mean's power less the noise that averaging leaves in it.
struct BandPower {
  double signal = 0, noise = 0;
};

BandPower SumBins(const std::vector<std::complex<double>>& mean, const std::vector<std::complex<double>>& diff,
                  std::size_t binLo, std::size_t binHi, double diffToNoise, double periods) {
  BandPower p;
  for (std::size_t k = binLo; k <= binHi && k < mean.size(); ++k) {
    const double noise = std::norm(diff[k]) * diffToNoise;
    p.noise += noise;
    p.signal += std::norm(mean[k]) - noise / periods;
  }
  return p;
}

// One period's SNR in dB from band sums, within -60 .. 150 dB (a signal
// below the noise's estimate reads as -60).
double BandSnrDb(const BandPower& p) {
  if (!(p.noise > 0)) return 150.0;
  return std::clamp(10.0 * std::log10(std::max(p.signal, 0.0) / p.noise + 1e-300), -60.0, 150.0);
}

}  // namespace

std::vector<OctaveBand> OctaveBands(int rateHz) {
  const double nyquist = rateHz / 2.0;
  std::vector<OctaveBand> bands;
  for (double centre = 125.0; centre / std::sqrt(2.0) < nyquist; centre *= 2.0)
    bands.push_back(OctaveBand{centre, centre / std::sqrt(2.0), std::min(centre * std::sqrt(2.0), nyquist)});
  return bands;
}

struct RecordingChecker::Impl {
  std::vector<OctaveBand> bands;
  // Sized by the list's tspLength only once a recording really holds all
  // the periods: a period far beyond the recordings takes no memory.
  std::unique_ptr<vesk::RealFft<double>> fft;
  std::unique_ptr<DelayEstimator> estimator;
  std::vector<std::complex<double>> first, cross, diff, mean;
  std::vector<float> block, halves[2];
};

RecordingChecker::RecordingChecker(const std::string& listPath, const TspLayout& layout,
                                   const RecordingsSettings& settings)
    : layout_(layout), settings_(settings) {
  if (layout.periods == 0 || layout.periodLength < 16 || layout.periodLength % 2)
    throw ToolError(listPath + ": expected at least one period of an even length of at least 16 samples, found " +
                    std::to_string(layout.periods) + " of " + std::to_string(layout.periodLength));
  impl_ = std::make_unique<Impl>();
  impl_->bands = OctaveBands(settings.expectedRateHz);
}

RecordingChecker::~RecordingChecker() = default;

void RecordingChecker::Check(RecordingSamples& samples, const std::vector<unsigned int>& micIndices,
                             RecordingFigures& rec) {
  const TspLayout& layout = layout_;
  const std::size_t n = layout.periodLength;
  const std::size_t firstCount = layout.periods / 2, secondCount = layout.periods - firstCount;
  constexpr std::size_t kBlock = 8192;
  std::unique_ptr<vesk::RealFft<double>>& fft = impl_->fft;
  std::unique_ptr<DelayEstimator>& estimator = impl_->estimator;
  std::vector<std::complex<double>>& first = impl_->first;
  std::vector<std::complex<double>>& cross = impl_->cross;
  std::vector<std::complex<double>>& diff = impl_->diff;
  std::vector<std::complex<double>>& mean = impl_->mean;
  std::vector<float>& block = impl_->block;
  std::vector<float>(&halves)[2] = impl_->halves;
  rec.sampleRateHz = samples.sampleRateHz;
  rec.frames = samples.frames;
  rec.channels = samples.channels;
  rec.listedChannels.assign(micIndices.begin(), micIndices.end());
  std::sort(rec.listedChannels.begin(), rec.listedChannels.end());
  rec.listedChannels.erase(std::unique(rec.listedChannels.begin(), rec.listedChannels.end()), rec.listedChannels.end());
  const std::size_t numCh = rec.channels;
  const std::size_t regionEnd = static_cast<std::size_t>(layout.offset) + n * layout.periods;
  rec.complete = rec.frames >= regionEnd;
  // Per channel sums; the two half averages interleaved like the frames
  // ([sample][channel]), so the inner loop runs over one frame.
  std::vector<double> sum(numCh, 0.0), sumSq(numCh, 0.0), regionSq(numCh, 0.0);
  std::vector<float> high(numCh, 0.0f), low(numCh, 0.0f), segHigh(numCh), segLow(numCh), blockSum(numCh),
      blockSq(numCh);
  std::vector<std::size_t> clipped(numCh, 0);
  bool periodic = rec.complete && layout.periods >= 2;
  // Float sums: 1e-7 relative per period added, far below any noise a
  // recording holds; half the memory traffic of doubles.
  if (periodic && !fft) {
    fft.reset(new vesk::RealFft<double>(n));
    estimator.reset(new DelayEstimator(n, 1, false));
    for (auto* spectrum : {&first, &cross, &diff, &mean}) spectrum->resize(n / 2 + 1);
  }
  if (periodic)
    for (auto& half : halves) {
      half.resize(n * numCh);  // kept from recording to recording: no page faults for each
      std::fill(half.begin(), half.end(), 0.0f);
    }
  const float fullScale = static_cast<float>(samples.fullScale);
  block.resize(kBlock * numCh);
  std::size_t t0 = 0;
  for (std::size_t got; (got = samples.read(block.data(), kBlock)) > 0; t0 += got) {
    // Segments of the block that lie in one period (or outside the
    // averaged region) need no division per sample.
    for (std::size_t t = t0; t < t0 + got;) {
      std::size_t segmentEnd = t0 + got;
      float* target = nullptr;
      bool inRegion = false;
      if (t < layout.offset) {
        segmentEnd = std::min<std::size_t>(segmentEnd, layout.offset);
      } else if (t < regionEnd) {
        const std::size_t rel = t - layout.offset, period = rel / n;
        segmentEnd = std::min(segmentEnd, layout.offset + (period + 1) * n);
        inRegion = true;
        if (periodic) target = halves[period < firstCount ? 0 : 1].data() + (rel % n) * numCh;
      }
      const float* x = block.data() + (t - t0) * numCh;
      const std::size_t length = segmentEnd - t;
      double* sq = inRegion ? regionSq.data() : sumSq.data();
      // Frame by frame with the channels innermost: contiguous, and with
      // the figures behind restrict pointers the compiler vectorises over
      // channels. Sums within a segment (at most 8192 frames) are float,
      // about 1e-4 relative, and go into double sums per segment.
      float* __restrict hiP = segHigh.data();
      float* __restrict loP = segLow.data();
      std::fill(segHigh.begin(), segHigh.end(), 0.0f);
      std::fill(segLow.begin(), segLow.end(), 0.0f);
      if (target) {
        // The averaged periods: their sums and powers follow from the
        // halves at the end; here only the extremes.
        AddPeriodSegment(x, target, length, numCh, hiP, loP);
      } else {
        float* __restrict sumP = blockSum.data();
        float* __restrict sqP = blockSq.data();
        std::fill(blockSum.begin(), blockSum.end(), 0.0f);
        std::fill(blockSq.begin(), blockSq.end(), 0.0f);
        for (std::size_t f = 0; f < length; ++f) {
          const float* __restrict xf = x + f * numCh;
          for (std::size_t ch = 0; ch < numCh; ++ch) {
            const float v = xf[ch];
            sumP[ch] += v;
            sqP[ch] += v * v;
            hiP[ch] = hiP[ch] > v ? hiP[ch] : v;
            loP[ch] = loP[ch] < v ? loP[ch] : v;
          }
        }
        for (std::size_t ch = 0; ch < numCh; ++ch) {
          sum[ch] += blockSum[ch];
          sq[ch] += blockSq[ch];
        }
      }
      for (std::size_t ch = 0; ch < numCh; ++ch) {
        high[ch] = std::max(high[ch], segHigh[ch]);
        low[ch] = std::min(low[ch], segLow[ch]);
        if (segHigh[ch] >= fullScale || segLow[ch] <= -1.0f)  // rare: count the clipped samples
          for (std::size_t f = 0; f < length; ++f)
            clipped[ch] += (x[f * numCh + ch] >= fullScale || x[f * numCh + ch] <= -1.0f) ? 1 : 0;
      }
      t = segmentEnd;
    }
  }
  // The frames really read count, not the header's claim (a cut file).
  if (t0 < rec.frames) {
    rec.frames = t0;
    rec.complete = rec.frames >= regionEnd;
    periodic = periodic && rec.complete;
  }
  const double nyquist = rec.sampleRateHz / 2.0;
  const double binHz = rec.sampleRateHz / static_cast<double>(n);
  const auto binLo = static_cast<std::size_t>(std::max(1.0, std::ceil(settings_.bandLowHz / binHz)));
  const auto binHi = static_cast<std::size_t>(std::min(
      std::floor((settings_.bandHighHz > 0 ? settings_.bandHighHz : 0.8 * nyquist) / binHz), double(n / 2 - 1)));
  for (std::size_t mic = 0; mic < rec.listedChannels.size() && rec.listedChannels[mic] < numCh; ++mic) {
    const std::size_t ch = rec.listedChannels[mic];
    ChannelFigures c;
    c.channel = ch;
    c.mic = mic;
    const double frames = static_cast<double>(std::max<std::size_t>(rec.frames, 1));
    c.clipped = clipped[ch];
    c.peakDbfs = 20.0 * std::log10(std::max(double(std::max(high[ch], -low[ch])), 1e-15));
    c.rmsDbfs = rec.complete ? Db(regionSq[ch] / static_cast<double>(n * layout.periods))
                             : Db((regionSq[ch] + sumSq[ch]) / frames);
    double regionSum = 0;
    if (periodic) {
      // The averaged periods were only summed: their sum, power, noise
      // and drift all come from the two halves.
      c.periodic = true;
      const double toFirst = 1.0 / static_cast<double>(firstCount), toSecond = 1.0 / static_cast<double>(secondCount);
      const float* half = halves[0].data() + ch;
      for (std::size_t i = 0; i < n; ++i) fft->Time()[i] = half[i * numCh] * toFirst;
      fft->Forward();
      std::copy(fft->Spectrum(), fft->Spectrum() + n / 2 + 1, first.begin());
      regionSum = first[0].real() * static_cast<double>(firstCount);  // bin 0: the sum
      half = halves[1].data() + ch;
      for (std::size_t i = 0; i < n; ++i) fft->Time()[i] = half[i * numCh] * toSecond;
      fft->Forward();
      const std::complex<double>* second = fft->Spectrum();
      regionSum += second[0].real() * static_cast<double>(secondCount);
      for (std::size_t k = 0; k <= n / 2; ++k) cross[k] = second[k] * std::conj(first[k]);
      // The second half arrives later by the drift times its distance.
      const double shift =
          binHi > binLo + 3 ? WrapDelay(estimator->Estimate(cross.data(), false, binLo, binHi, 0.0), double(n)) : 0.0;
      const double spacing = 0.5 * static_cast<double>(layout.periods) * static_cast<double>(n);
      c.driftPpm = shift / spacing * 1e6;
      // Noise: the halves' difference once the second is moved back.
      const double wFirst = double(firstCount) / layout.periods, wSecond = double(secondCount) / layout.periods;
      const std::complex<double> step = std::polar(1.0, 2.0 * vesk::kPi * shift / double(n));
      std::complex<double> rotation(1.0, 0.0);
      for (std::size_t k = 0; k <= n / 2; ++k, rotation *= step) {
        const std::complex<double> aligned = second[k] * rotation;
        diff[k] = first[k] - aligned;
        mean[k] = first[k] * wFirst + aligned * wSecond;
      }
      const double noise = PowerFromSpectrum(diff.data(), n) / (1.0 / firstCount + 1.0 / secondCount);
      const double meanPowerWithNoise = PowerFromSpectrum(mean.data(), n);
      const double meanPower = std::max(meanPowerWithNoise - noise / layout.periods, 0.0);
      // Mean square over the periods = the mean period's + the part of
      // the noise that averaging removed.
      c.rmsDbfs = Db(meanPowerWithNoise + noise * (layout.periods - 1) / layout.periods);
      c.snrDb = std::min(150.0, Db(meanPower) - Db(std::max(noise, 1e-300)));
      c.snrAveragedDb = std::min(150.0, c.snrDb + 10.0 * std::log10(double(layout.periods)));
      // The same per band, and at the bins of the TF to be made.
      const double diffToNoise = 1.0 / (1.0 / firstCount + 1.0 / secondCount), periods = layout.periods;
      for (const OctaveBand& band : impl_->bands) {
        const auto lo = static_cast<std::size_t>(std::max(1.0, std::ceil(band.lowHz / binHz)));
        const auto hi = static_cast<std::size_t>(std::min(std::ceil(band.highHz / binHz) - 1.0, double(n / 2)));
        c.bandSnrDb.push_back(band.lowHz >= nyquist || hi < lo
                                  ? std::nan("")
                                  : BandSnrDb(SumBins(mean, diff, lo, hi, diffToNoise, periods)));
      }
      if (settings_.tfNfft > 0) {
        const double tfBinHz = rec.sampleRateHz / static_cast<double>(settings_.tfNfft);
        // Averaging divides the noise by the periods; cutting nfft samples
        // of the period's response keeps nfft / N of the noise and all of the
        // direct sound (a shorter M2PG cut keeps even less noise).
        const double gain =
            10.0 * std::log10(periods) +
            10.0 * std::log10(std::max(1.0, static_cast<double>(n) / static_cast<double>(settings_.tfNfft)));
        c.tfBinSnrDb.resize(settings_.tfNfft / 2 + 1);
        for (std::size_t j = 0; j < c.tfBinSnrDb.size(); ++j) {
          const double hz = static_cast<double>(j) * tfBinHz;
          auto lo = static_cast<std::size_t>(std::max(0.0, std::ceil((hz - tfBinHz / 2) / binHz)));
          auto hi = static_cast<std::size_t>(std::min(std::floor((hz + tfBinHz / 2) / binHz), double(n / 2)));
          if (hi < lo)
            lo = hi = std::min(static_cast<std::size_t>(std::lround(hz / binHz)), n / 2);  // a TF finer than the period
          c.tfBinSnrDb[j] =
              static_cast<float>(std::min(150.0, BandSnrDb(SumBins(mean, diff, lo, hi, diffToNoise, periods)) + gain));
        }
      }
    }
    c.dcOffset = (sum[ch] + regionSum) / frames;
    rec.perChannel.push_back(c);
  }
  std::vector<double> levels, snrs, drifts;
  for (const auto& c : rec.perChannel) {
    levels.push_back(c.rmsDbfs);
    if (c.periodic) {
      snrs.push_back(c.snrDb);
      drifts.push_back(c.driftPpm);
    }
  }
  rec.levelDb = Median(levels);
  rec.snrDb = Median(snrs);
  rec.driftPpm = Median(drifts);
}

std::vector<Finding> RecordingFindings(const RecordingFigures& r, const TspLayout& layout,
                                       const RecordingsSettings& settings, const Thresholds& limits, double medianLevel,
                                       double medianSnr, bool* drifting) {
  std::vector<Finding> found;
  *drifting = false;
  auto add = [&](const char* kind, const std::string& text) { found.push_back(Finding{kind, r.name + ": " + text}); };
  if (r.sampleRateHz != settings.expectedRateHz)
    add("recording-rate", "recorded at " + std::to_string(r.sampleRateHz) + " Hz, the TF is to be made at " +
                              std::to_string(settings.expectedRateHz) + " Hz (--sampling-freq)");
  if (!r.complete)
    add("recording-short", std::to_string(r.frames) + " frames, the list's offset and periods need " +
                               std::to_string(layout.offset + std::size_t(layout.periodLength) * layout.periods));
  if (!r.listedChannels.empty() && r.channels <= r.listedChannels.back())
    add("recording-channels", std::to_string(r.channels) + " channels, the list's micIndices name channel " +
                                  std::to_string(r.listedChannels.back()) + " (channels count from 0)");
  if (r.perChannel.empty()) return found;
  std::ostringstream clip, dc;
  std::size_t clippedTotal = 0;
  for (const auto& c : r.perChannel) {
    if (c.clipped) {
      clip << (clippedTotal ? ", " : "") << "channel " << c.channel << " (" << c.clipped << ")";
      clippedTotal += c.clipped;
    }
    if (std::fabs(c.dcOffset) > limits.dcOffset)
      dc << (dc.tellp() > 0 ? ", " : "") << "channel " << c.channel << " (" << Fixed(c.dcOffset, 4) << ")";
  }
  if (clippedTotal) add("clipping", std::to_string(clippedTotal) + " samples at full scale: " + clip.str());
  if (dc.tellp() > 0) add("dc-offset", "DC offset beyond " + Fixed(limits.dcOffset, 3) + " of full scale: " + dc.str());
  if (std::fabs(r.levelDb - medianLevel) > limits.levelFromMedianDb)
    add("level", "level " + Fixed(r.levelDb, 1) + " dBFS against a median of " + Fixed(medianLevel, 1) +
                     " dBFS: gain, cable or loudspeaker changed");
  if (r.complete && layout.periods >= 2) {
    const double averaged = r.snrDb + 10.0 * std::log10(double(layout.periods));
    if (r.snrDb < medianSnr - limits.snrBelowMedianDb || averaged < limits.snrMinDb)
      add("noise", "SNR " + Fixed(r.snrDb, 1) + " dB per period (" + Fixed(averaged, 1) +
                       " dB averaged) against a median of " + Fixed(medianSnr, 1) + " dB");
    if (std::fabs(r.driftPpm) * 1e-6 * double(layout.periodLength) * layout.periods > limits.driftSmearSamples)
      *drifting = true;
  }
  return found;
}

namespace {

// One recording named by sources at different places holds only one of
// them: every figure of the others would be judged against the wrong
// position. Told on standard error (the report stays as it is).
void WarnSharedRecordings(const std::string& listPath, const std::vector<vc::Source2>& sources) {
  std::map<std::string, std::size_t> firstSource;
  std::set<std::string> shared;
  std::string first;
  for (std::size_t s = 0; s < sources.size(); ++s) {
    if (!sources[s].HasPosition() || !sources[s].HasFiles()) continue;
    for (const vc::File1& file : sources[s].GetFiles()) {
      if (!file.HasName()) continue;
      const auto found = firstSource.emplace(file.GetName().raw(), s);
      if (found.second || found.first->second == s) continue;
      const vc::Source2& other = sources[found.first->second];
      if (other.GetPosition().ToCartesian() == sources[s].GetPosition().ToCartesian()) continue;
      if (!shared.insert(found.first->first).second) continue;
      if (shared.size() == 1)
        first = "source " + std::to_string(found.first->second) + " and source " + std::to_string(s) +
                " lie at different positions but both name " + found.first->first;
    }
  }
  if (!shared.empty())
    std::cerr << "tfcheck: warning: " << listPath << ": " << first << " (" << shared.size()
              << (shared.size() == 1 ? " name is" : " names are")
              << " shared by different positions): one recording cannot hold two measurements; give the "
                 "template a --filepath with {ELEVATION:%d} or {HEIGHT:%d}\n";
}

}  // namespace

RecordingsCheck RecordingsToCheck(const std::string& listPath, const RecordingsSettings& settings,
                                  const Thresholds& limits) {
  RecordingsCheck out;
  out.listPath = listPath;
  out.expectedRateHz = settings.expectedRateHz;
  boost::shared_ptr<vc::TSPListFile2_0> list;
  std::vector<vc::Source2> sources;
  try {
    list = boost::dynamic_pointer_cast<vc::TSPListFile2_0>(vc::VeskConfigFileXMLReader(listPath).Read());
    if (!list) throw ToolError(listPath + ": expected a TSPListFile 2.0");
    out.periods = list->GetSynchronousAverage();
    out.offset = list->GetTspOffset();
    out.periodLength = list->HasTspLength() ? list->GetTspLength() : dravik::kDefaultSamplesPerFrame;
    sources = list->GetSources();
    if (list->HasOriginalImpulseFile()) {
      out.originName = list->GetOriginalImpulseFile().name.raw();
      out.originIsWave = list->GetOriginalImpulseFile().kind == vc::OriginalImpulseFile::PCM_WAVE;
    }
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(listPath + ": " + e.what());
  } catch (const veskio2::AnalyzeError& e) {
    throw ToolError(e.what());
  }
  const TspLayout layout{out.periods, out.offset, out.periodLength};
  out.bands = OctaveBands(settings.expectedRateHz);
  RecordingChecker checker(listPath, layout, settings);
  WarnSharedRecordings(listPath, sources);

  for (std::size_t s = 0; s < sources.size(); ++s) {
    const vc::Source2& source = sources[s];
    if (!source.HasPosition() || !source.HasFiles())
      throw ToolError(listPath + ": source " + std::to_string(s) + " has no position or no files");
    const auto cart = source.GetPosition().ToCartesian();
    for (const vc::File1& file : source.GetFiles()) {
      if (!file.HasName()) throw ToolError(listPath + ": source " + std::to_string(s) + " names a file without name");
      RecordingFigures rec;
      rec.name = file.GetName().raw();
      rec.source = s;
      rec.azimuthDeg = std::fmod(std::atan2(cart.y, cart.x) * 180.0 / vesk::kPi + 360.0, 360.0);
      rec.elevationDeg = std::atan2(cart.z, std::hypot(cart.x, cart.y)) * 180.0 / vesk::kPi;
      rec.path = rec.name;  // as trelvix opens it: relative to the working directory
      SoundReader reader(rec.path);
      RecordingSamples samples;
      samples.sampleRateHz = reader.SampleRateHz();
      samples.frames = reader.Frames();
      samples.channels = static_cast<std::size_t>(reader.Channels());
      samples.fullScale = reader.FullScale();
      samples.read = [&reader](float* interleaved, std::size_t frames) { return reader.Read(interleaved, frames); };
      std::vector<unsigned int> micIndices;
      try {
        micIndices = file.GetMicIndices();
      } catch (const veskio2::NotInitialized& e) {
        throw ToolError(listPath + ": source " + std::to_string(s) + ", file " + rec.name + ": " + e.what());
      }
      checker.Check(samples, micIndices, rec);
      out.recordings.push_back(std::move(rec));
    }
  }

  // Findings. The origin, as dravik opens it, must hold at least one period.
  if (!out.originName.empty()) {
    std::size_t originSamples = 0;
    std::string problem;
    if (out.originIsWave) {
      try {
        originSamples = SoundReader(out.originName).Frames();
      } catch (const ToolError& e) {
        problem = e.what();
      }
    } else {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(out.originName, ec);
      if (ec)
        problem = "cannot open " + out.originName + ": " + ec.message();
      else
        originSamples = static_cast<std::size_t>(bytes / 4);
    }
    if (problem.empty() && originSamples < out.periodLength)
      problem = out.originName + " holds " + std::to_string(originSamples) + " samples, tspLength is " +
                std::to_string(out.periodLength);
    if (!problem.empty())
      out.findings.push_back(Finding{"tsp-origin", problem + ": dravik cannot divide by the played TSP"});
  }
  std::vector<double> levels, snrs;
  for (const auto& r : out.recordings) {
    levels.push_back(r.levelDb);
    if (r.complete && out.periods >= 2) snrs.push_back(r.snrDb);
  }
  const double medianLevel = Median(levels), medianSnr = Median(snrs);
  std::vector<const RecordingFigures*> drifting;
  for (const auto& r : out.recordings) {
    bool drifts = false;
    for (Finding& finding : RecordingFindings(r, layout, settings, limits, medianLevel, medianSnr, &drifts))
      out.findings.push_back(std::move(finding));
    if (drifts) drifting.push_back(&r);
  }
  // Bands within the analysis band whose SNR after averaging is low: one
  // finding per band over all recordings and channels.
  const double gainDb = out.periods >= 2 ? 10.0 * std::log10(double(out.periods)) : 0.0;
  const double judgedHighHz = settings.bandHighHz > 0 ? settings.bandHighHz : 0.4 * settings.expectedRateHz;
  for (std::size_t b = 0; b < out.bands.size(); ++b) {
    const OctaveBand& band = out.bands[b];
    if (band.centreHz < settings.bandLowHz || band.centreHz > judgedHighHz) continue;
    std::vector<double> low;
    std::size_t channels = 0;
    std::string example;
    for (const auto& r : out.recordings)
      for (const auto& c : r.perChannel) {
        if (b >= c.bandSnrDb.size() || !std::isfinite(c.bandSnrDb[b])) continue;
        ++channels;
        if (c.bandSnrDb[b] + gainDb >= limits.bandSnrMinDb) continue;
        low.push_back(c.bandSnrDb[b] + gainDb);
        if (example.empty()) example = r.name + " channel " + std::to_string(c.channel);
      }
    if (low.empty()) continue;
    out.findings.push_back(Finding{
        "band-snr", "the " + Fixed(band.centreHz, 0) + " Hz octave band (" + Fixed(band.lowHz, 0) + " - " +
                        Fixed(band.highHz, 0) + " Hz) is below " + Fixed(limits.bandSnrMinDb, 0) +
                        " dB SNR after averaging in " + std::to_string(low.size()) + " of " + std::to_string(channels) +
                        " channels (median " + Fixed(Median(low), 1) + " dB; first " + example +
                        "): the source is almost silent there or the noise loud: more level in that band, more "
                        "periods or a quieter room"});
  }
  if (!drifting.empty()) {
    std::vector<double> ppm;
    std::ostringstream names;
    for (std::size_t i = 0; i < drifting.size(); ++i) {
      ppm.push_back(drifting[i]->driftPpm);
      if (i < 4) names << (i ? ", " : "") << drifting[i]->name;
    }
    if (drifting.size() > 4) names << ", ...";
    const double median = Median(ppm);
    std::ostringstream text;
    text << drifting.size() << " of " << out.recordings.size() << " recordings (" << names.str()
         << "): the recorder's clock runs " << Fixed(std::fabs(median), 1) << " ppm "
         << (median > 0 ? "faster" : "slower") << " than the player's; the averaged periods slide by "
         << Fixed(std::fabs(median) * 1e-6 * out.periodLength * out.periods, 2)
         << " samples: play and record on one clock";
    out.findings.push_back(Finding{"clock-drift", text.str()});
  }
  return out;
}

}  // namespace vesktools
