#include "RecordingsToCheck.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include <boost/pointer_cast.hpp>

#include "RealFft.h"
#include "SoundFile.h"
#include "SpectrumToDelay.h"
#include "ToolError.h"
#include "veskio2/VeskConfig.h"

namespace vesktools {
namespace vc = veskio2::veskconfig;

namespace {

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : 0.5 * (v[mid - 1] + v[mid]);
}

double Db(double power) { return power > 0 ? 10.0 * std::log10(power) : -300.0; }

std::string Fixed(double v, int digits) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(digits);
  out << v;
  return out.str();
}

// Per channel running figures; the two half averages hold one period each.
struct ChannelAccumulator {
  double sum = 0, sumSq = 0, peak = 0, periodSumSq = 0;
  std::size_t clipped = 0;
  std::vector<double> first, second;
};

// Energy per sample of a real signal from its one-sided spectrum.
double PowerFromSpectrum(const std::complex<double>* x, std::size_t n) {
  double e = std::norm(x[0]) + std::norm(x[n / 2]);
  for (std::size_t k = 1; k < n / 2; ++k) e += 2.0 * std::norm(x[k]);
  return e / (static_cast<double>(n) * static_cast<double>(n));
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
    out.periodLength = list->HasTspLength() ? list->GetTspLength() : 16384;
    sources = list->GetSources();
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(listPath + ": " + e.what());
  } catch (const veskio2::AnalyzeError& e) {
    throw ToolError(e.what());
  }
  if (out.periods == 0 || out.periodLength < 16 || out.periodLength % 2)
    throw ToolError(listPath + ": expected at least one period of an even length of at least 16 samples, found " +
                    std::to_string(out.periods) + " of " + std::to_string(out.periodLength));
  const std::size_t n = out.periodLength;
  const std::size_t firstCount = out.periods / 2, secondCount = out.periods - firstCount;

  RealFft fft(n);
  DelayEstimator estimator(n, 1);
  std::vector<std::complex<double>> first(n / 2 + 1), cross(n / 2 + 1), diff(n / 2 + 1), mean(n / 2 + 1);
  constexpr std::size_t kBlock = 8192;
  std::vector<double> block;

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
      rec.azimuthDeg = std::fmod(std::atan2(cart.y, cart.x) * 180.0 / M_PI + 360.0, 360.0);
      rec.elevationDeg = std::atan2(cart.z, std::hypot(cart.x, cart.y)) * 180.0 / M_PI;
      rec.path = rec.name;  // as trelvix opens it: relative to the working directory
      SoundReader reader(rec.path);
      rec.sampleRateHz = reader.SampleRateHz();
      rec.frames = reader.Frames();
      rec.channels = static_cast<std::size_t>(reader.Channels());
      std::vector<unsigned int> micIndices;
      try {
        micIndices = file.GetMicIndices();
      } catch (const veskio2::NotInitialized& e) {
        throw ToolError(listPath + ": source " + std::to_string(s) + ", file " + rec.name + ": " + e.what());
      }
      rec.listedChannels = micIndices.size();
      const std::size_t numCh = rec.channels;
      const std::size_t regionEnd = static_cast<std::size_t>(out.offset) + n * out.periods;
      rec.complete = rec.frames >= regionEnd;
      std::vector<ChannelAccumulator> acc(numCh);
      if (rec.complete && out.periods >= 2)
        for (auto& a : acc) {
          a.first.assign(n, 0.0);
          a.second.assign(n, 0.0);
        }
      const double fullScale = reader.FullScale();
      block.resize(kBlock * numCh);
      std::size_t t0 = 0;
      for (std::size_t got; (got = reader.Read(block.data(), kBlock)) > 0; t0 += got) {
        for (std::size_t ch = 0; ch < numCh; ++ch) {
          ChannelAccumulator& a = acc[ch];
          double sum = 0, sumSq = 0, peak = a.peak, periodSumSq = 0;
          std::size_t clipped = 0;
          for (std::size_t i = 0; i < got; ++i) {
            const double v = block[i * numCh + ch];
            sum += v;
            sumSq += v * v;
            const double mag = std::fabs(v);
            peak = std::max(peak, mag);
            clipped += (v >= fullScale || v <= -1.0) ? 1 : 0;
          }
          // The averaged region: one half or the other.
          const std::size_t lo = std::max(t0, static_cast<std::size_t>(out.offset)), hi = std::min(t0 + got, regionEnd);
          for (std::size_t t = lo; t < hi; ++t) {
            const double v = block[(t - t0) * numCh + ch];
            periodSumSq += v * v;
            if (a.first.empty()) continue;
            const std::size_t rel = t - out.offset, period = rel / n;
            (period < firstCount ? a.first : a.second)[rel % n] += v;
          }
          a.sum += sum;
          a.sumSq += sumSq;
          a.peak = peak;
          a.periodSumSq += periodSumSq;
          a.clipped += clipped;
        }
      }
      const double nyquist = rec.sampleRateHz / 2.0;
      const double binHz = rec.sampleRateHz / static_cast<double>(n);
      const auto binLo = static_cast<std::size_t>(std::max(1.0, std::ceil(settings.bandLowHz / binHz)));
      const auto binHi = static_cast<std::size_t>(std::min(
          std::floor((settings.bandHighHz > 0 ? settings.bandHighHz : 0.8 * nyquist) / binHz), double(n / 2 - 1)));
      for (std::size_t ch = 0; ch < numCh; ++ch) {
        ChannelAccumulator& a = acc[ch];
        ChannelFigures c;
        c.micIndex = ch < micIndices.size() ? micIndices[ch] : static_cast<unsigned int>(ch);
        const double frames = static_cast<double>(std::max<std::size_t>(rec.frames, 1));
        c.dcOffset = a.sum / frames;
        c.clipped = a.clipped;
        c.peakDbfs = 20.0 * std::log10(std::max(a.peak, 1e-15));
        const double regionFrames = rec.complete ? static_cast<double>(n * out.periods) : frames;
        c.rmsDbfs = Db((rec.complete ? a.periodSumSq : a.sumSq) / regionFrames);
        if (!a.first.empty() && binHi > binLo + 3) {
          c.periodic = true;
          for (double& v : a.first) v /= static_cast<double>(firstCount);
          for (double& v : a.second) v /= static_cast<double>(secondCount);
          std::copy(a.first.begin(), a.first.end(), fft.Time());
          fft.Forward();
          std::copy(fft.Spectrum(), fft.Spectrum() + n / 2 + 1, first.begin());
          std::copy(a.second.begin(), a.second.end(), fft.Time());
          fft.Forward();
          const std::complex<double>* second = fft.Spectrum();
          for (std::size_t k = 0; k <= n / 2; ++k) cross[k] = second[k] * std::conj(first[k]);
          // The second half arrives later by the drift times its distance.
          const double shift = WrapDelay(estimator.Estimate(cross.data(), false, binLo, binHi, 0.0), double(n));
          const double spacing = 0.5 * static_cast<double>(out.periods) * static_cast<double>(n);
          c.driftPpm = shift / spacing * 1e6;
          // Noise: the halves' difference once the second is moved back.
          const double wFirst = double(firstCount) / out.periods, wSecond = double(secondCount) / out.periods;
          for (std::size_t k = 0; k <= n / 2; ++k) {
            const std::complex<double> aligned = second[k] * std::polar(1.0, 2.0 * M_PI * double(k) * shift / double(n));
            diff[k] = first[k] - aligned;
            mean[k] = first[k] * wFirst + aligned * wSecond;
          }
          const double noise = PowerFromSpectrum(diff.data(), n) / (1.0 / firstCount + 1.0 / secondCount);
          const double meanPower = std::max(PowerFromSpectrum(mean.data(), n) - noise / out.periods, 0.0);
          c.snrDb = std::min(150.0, Db(meanPower) - Db(std::max(noise, 1e-300)));
          c.snrAveragedDb = std::min(150.0, c.snrDb + 10.0 * std::log10(double(out.periods)));
        }
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
      out.recordings.push_back(std::move(rec));
    }
  }

  // Findings.
  std::vector<double> levels, snrs;
  for (const auto& r : out.recordings) {
    levels.push_back(r.levelDb);
    if (r.complete && out.periods >= 2) snrs.push_back(r.snrDb);
  }
  const double medianLevel = Median(levels), medianSnr = Median(snrs);
  std::vector<const RecordingFigures*> drifting;
  for (const auto& r : out.recordings) {
    auto add = [&](const char* kind, const std::string& text) { out.findings.push_back(Finding{kind, r.name + ": " + text}); };
    if (r.sampleRateHz != settings.expectedRateHz)
      add("recording-rate", "recorded at " + std::to_string(r.sampleRateHz) + " Hz, the TF is to be made at " +
                                std::to_string(settings.expectedRateHz) + " Hz (--sampling-freq)");
    if (!r.complete)
      add("recording-short", std::to_string(r.frames) + " frames, the list's offset and periods need " +
                                 std::to_string(out.offset + std::size_t(out.periodLength) * out.periods));
    if (r.channels < r.listedChannels)
      add("recording-channels", std::to_string(r.channels) + " channels, the list names " +
                                    std::to_string(r.listedChannels) + " micIndices for it");
    if (r.channels < 1) continue;
    std::ostringstream clip, dc;
    std::size_t clippedTotal = 0;
    for (const auto& c : r.perChannel) {
      if (c.clipped) {
        clip << (clippedTotal ? ", " : "") << "micIndex " << c.micIndex << " (" << c.clipped << ")";
        clippedTotal += c.clipped;
      }
      if (std::fabs(c.dcOffset) > limits.dcOffset)
        dc << (dc.tellp() > 0 ? ", " : "") << "micIndex " << c.micIndex << " (" << Fixed(c.dcOffset, 4) << ")";
    }
    if (clippedTotal) add("clipping", std::to_string(clippedTotal) + " samples at full scale: " + clip.str());
    if (dc.tellp() > 0) add("dc-offset", "DC offset beyond " + Fixed(limits.dcOffset, 3) + " of full scale: " + dc.str());
    if (std::fabs(r.levelDb - medianLevel) > limits.levelFromMedianDb)
      add("level", "level " + Fixed(r.levelDb, 1) + " dBFS against a median of " + Fixed(medianLevel, 1) +
                       " dBFS: gain, cable or loudspeaker changed");
    if (r.complete && out.periods >= 2) {
      const double averaged = r.snrDb + 10.0 * std::log10(double(out.periods));
      if (r.snrDb < medianSnr - limits.snrBelowMedianDb || averaged < limits.snrMinDb)
        add("noise", "SNR " + Fixed(r.snrDb, 1) + " dB per period (" + Fixed(averaged, 1) +
                         " dB averaged) against a median of " + Fixed(medianSnr, 1) + " dB");
      if (std::fabs(r.driftPpm) * 1e-6 * double(out.periodLength) * out.periods > limits.driftSmearSamples)
        drifting.push_back(&r);
    }
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
         << "): the recorder's clock runs " << Fixed(median, 1) << " ppm " << (median > 0 ? "faster" : "slower")
         << " than the player's; the averaged periods slide by " << Fixed(std::fabs(median) * 1e-6 * out.periodLength * out.periods, 2)
         << " samples: play and record on one clock";
    out.findings.push_back(Finding{"clock-drift", text.str()});
  }
  return out;
}

}  // namespace vesktools
