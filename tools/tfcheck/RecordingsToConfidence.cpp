#include "RecordingsToConfidence.h"

#include <algorithm>
#include <cmath>

#include "ToolError.h"
#include "base/Constants.h"

namespace vesktools {
namespace {

double AngleDeg(double a, double b) {  // a - b wrapped to [-180, 180)
  return std::fmod(std::fmod(a - b, 360.0) + 540.0, 360.0) - 180.0;
}

}  // namespace

TfConfidence RecordingsToConfidence(const RecordingsCheck& check, const TfMeasurement& tf, const Thresholds& limits) {
  TfConfidence out;
  out.lowSnrLimitDb = limits.bandSnrMinDb;
  const double binHz = tf.samplingHz / static_cast<double>(tf.nfft);
  for (const OctaveBand& band : check.bands)
    if (band.lowHz < tf.samplingHz / 2) out.bands.push_back(band);
  // The channels of each list source, in the list's file order.
  std::vector<std::vector<const ChannelFigures*>> channels;
  std::vector<const RecordingFigures*> firstRecording;
  for (const RecordingFigures& r : check.recordings) {
    if (r.source >= channels.size()) {
      channels.resize(r.source + 1);
      firstRecording.resize(r.source + 1, nullptr);
    }
    if (!firstRecording[r.source]) firstRecording[r.source] = &r;
    for (const ChannelFigures& c : r.perChannel) channels[r.source].push_back(&c);
  }
  if (channels.size() != tf.NumSources())
    throw ToolError(tf.path + " holds " + std::to_string(tf.NumSources()) + " sources, " + check.listPath + " " +
                    std::to_string(channels.size()) + ": --tf needs the TF file made from this list");
  const double maxPhaseDeg = 180.0 / std::sqrt(3.0);  // standard deviation of a uniform phase
  for (std::size_t s = 0; s < tf.NumSources(); ++s) {
    SourceConfidence source;
    const Vec3& p = tf.sourcePositions[s];
    source.azimuthDeg = std::fmod(std::atan2(p.y, p.x) * 180.0 / vesk::kPi + 360.0, 360.0);
    source.elevationDeg = std::atan2(p.z, std::hypot(p.x, p.y)) * 180.0 / vesk::kPi;
    const RecordingFigures* rec = firstRecording[s];
    if (!rec ||
        std::fabs(AngleDeg(rec->azimuthDeg, source.azimuthDeg)) * std::cos(source.elevationDeg * vesk::kPi / 180) >
            0.05 ||
        std::fabs(rec->elevationDeg - source.elevationDeg) > 0.05)
      throw ToolError(tf.path + ": source " + std::to_string(s) + " lies elsewhere than " + check.listPath +
                      "'s: --tf needs the TF file made from this list");
    if (channels[s].size() < tf.NumMics())
      throw ToolError(check.listPath + ": source " + std::to_string(s) + " has " + std::to_string(channels[s].size()) +
                      " checked channels, " + tf.path + " " + std::to_string(tf.NumMics()) + " microphones");
    for (std::size_t m = 0; m < tf.NumMics(); ++m) {
      const ChannelFigures& c = *channels[s][m];
      MicConfidence mic;
      if (c.tfBinSnrDb.size() != tf.nfft / 2 + 1) {  // a recording without two whole periods: no figures
        source.mics.push_back(mic);
        continue;
      }
      std::size_t low = 0, counted = 0;
      std::vector<std::vector<double>> bandSnr(out.bands.size());
      std::vector<double> magnitude2(out.bands.size(), 0.0), phase2(out.bands.size(), 0.0);
      for (std::size_t bin : tf.binIndex) {
        if (bin == 0) continue;
        const double snr = c.tfBinSnrDb[bin];
        ++counted;
        low += snr < limits.bandSnrMinDb ? 1 : 0;
        const double hz = static_cast<double>(bin) * binHz;
        for (std::size_t b = 0; b < out.bands.size(); ++b) {
          if (hz < out.bands[b].lowHz || hz >= out.bands[b].highHz) continue;
          const double halfNoise = std::pow(10.0, -snr / 20.0) / std::sqrt(2.0);  // e / sqrt 2
          const double magnitudeDb = 20.0 * std::log10(1.0 + halfNoise);
          const double phaseDeg = std::min(maxPhaseDeg, std::atan(halfNoise) * 180.0 / vesk::kPi);
          bandSnr[b].push_back(snr);
          magnitude2[b] += magnitudeDb * magnitudeDb;
          phase2[b] += phaseDeg * phaseDeg;
        }
      }
      mic.lowSnrShare = counted ? static_cast<double>(low) / static_cast<double>(counted) : 0.0;
      for (std::size_t b = 0; b < out.bands.size(); ++b) {
        const double count = static_cast<double>(bandSnr[b].size());
        mic.snrDb.push_back(bandSnr[b].empty() ? std::nan("") : Median(bandSnr[b]));
        mic.magnitudeDb.push_back(bandSnr[b].empty() ? std::nan("") : std::sqrt(magnitude2[b] / count));
        mic.phaseDeg.push_back(bandSnr[b].empty() ? std::nan("") : std::sqrt(phase2[b] / count));
      }
      source.mics.push_back(mic);
    }
    out.sources.push_back(source);
  }
  return out;
}

}  // namespace vesktools
