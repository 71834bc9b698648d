#include "CheckToReport.h"

#include <filesystem>

#include <cmath>
#include <cstdio>
#include <set>
#include <utility>
#include <sstream>

#include "JsonWriter.h"

namespace vesktools {
namespace {

using JsonText = veskio2::JsonWriter;
// The check's figures are estimates: seven significant digits.
constexpr int kJsonDigits = 7;

std::string Format(const char* format, double a) {
  char text[64];
  std::snprintf(text, sizeof text, format, a);
  return text;
}

void FindingsToJson(JsonText& json, const std::vector<Finding>& findings) {
  json.Key("findings");
  json.BeginArray();
  for (const Finding& f : findings) {
    json.BeginObject();
    json.Field("kind", f.kind);
    json.Field("text", f.text);
    json.EndObject();
  }
  json.EndArray();
  json.Field("verdict", Verdict(findings));
}

void Matrix(JsonText& json, const char* key, const std::vector<std::vector<double>>& m, double toMicroseconds) {
  json.Key(key);
  json.BeginArray();
  for (const auto& row : m) {
    json.BeginArray();
    for (double v : row) json.Number(v * toMicroseconds);
    json.EndArray();
  }
  json.EndArray();
}

void PointToJson(JsonText& json, const char* key, const Vec3& v, double scale) {
  json.Key(key);
  json.BeginArray();
  for (double c : {v.x, v.y, v.z}) json.Number(c * scale);
  json.EndArray();
}

void ArrayEstimateToText(const ArrayEstimate& estimate, const std::vector<std::string>& labels, std::size_t numSources,
                         std::ostream& out) {
  out << "array from the delays (free-field arrival times: on a head or a body, effective positions): "
      << estimate.sourcesUsed << " of " << numSources << " sources fitted; common latency "
      << Format("%.3f", estimate.commonLatencySamples) << " samples (+-"
      << Format("%.3f", estimate.commonLatencySigmaSamples) << ")\n";
  out << "  microphone       file x, y, z (m)             fitted x, y, z (m)           moved mm (+-)    "
         "latency samples (+-)  residual\n";
  for (std::size_t m = 0; m < estimate.mics.size(); ++m) {
    const MicEstimate& e = estimate.mics[m];
    std::string axes;
    for (const std::string& a : e.undetermined) axes += (axes.empty() ? "  not determined: " : ", ") + a;
    char line[320];
    std::snprintf(line, sizeof line,
                  "  %-16s %8.4f %8.4f %8.4f    %8.4f %8.4f %8.4f    %6.2f (%4.2f)   %+7.3f (%5.3f)     %6.3f%s\n",
                  labels[m].c_str(), e.filePosition.x, e.filePosition.y, e.filePosition.z, e.fittedPosition.x,
                  e.fittedPosition.y, e.fittedPosition.z, e.differenceMm, e.differenceSigmaMm, e.latencySamples,
                  e.latencySigmaSamples, e.rmsResidualSamples, axes.c_str());
    out << line;
  }
  for (const std::string& note : estimate.notes) out << "note: " << note << "\n";
  for (const ExcludedSource& x : estimate.excluded)
    out << "left out of the fit: source " << x.src << " (azimuth " << Format("%.1f", x.azimuthDeg) << " deg, elevation "
        << Format("%.1f", x.elevationDeg) << " deg): " << x.reason << "\n";
}

void ArrayEstimateToJson(JsonText& json, const ArrayEstimate& estimate, const std::vector<std::string>& labels) {
  json.Key("arrayEstimate");
  json.BeginObject();
  json.Field("sourcesUsed", estimate.sourcesUsed);
  json.Field("commonLatencySamples", estimate.commonLatencySamples);
  json.Field("commonLatencySigmaSamples", estimate.commonLatencySigmaSamples);
  json.Key("microphones");
  json.BeginArray();
  for (std::size_t m = 0; m < estimate.mics.size(); ++m) {
    const MicEstimate& e = estimate.mics[m];
    json.BeginObject();
    json.Field("label", labels[m]);
    PointToJson(json, "filePositionM", e.filePosition, 1.0);
    PointToJson(json, "fittedPositionM", e.fittedPosition, 1.0);
    PointToJson(json, "sigmaMm", e.sigmaMetres, 1000.0);
    json.Field("differenceMm", e.differenceMm);
    json.Field("differenceSigmaMm", e.differenceSigmaMm);
    json.Field("latencySamples", e.latencySamples);
    json.Field("latencySigmaSamples", e.latencySigmaSamples);
    json.Field("rmsResidualSamples", e.rmsResidualSamples);
    json.Field("undetermined", e.undetermined);
    json.EndObject();
  }
  json.EndArray();
  json.Key("excludedSources");
  json.BeginArray();
  for (const ExcludedSource& x : estimate.excluded) {
    json.BeginObject();
    json.Field("source", x.src);
    json.Field("azimuthDeg", x.azimuthDeg);
    json.Field("elevationDeg", x.elevationDeg);
    json.Field("reason", x.reason);
    json.EndObject();
  }
  json.EndArray();
  json.Field("notes", estimate.notes);
  json.EndObject();
}

void FindingsToText(const std::vector<Finding>& findings, std::ostream& out) {
  for (const Finding& f : findings) out << "finding " << f.kind << ": " << f.text << "\n";
  out << "verdict: " << Verdict(findings) << "\n";
}

}  // namespace

std::string Verdict(const std::vector<Finding>& findings) {
  if (findings.empty()) return "consistent";
  std::set<std::string> kinds;
  std::string list;
  for (const Finding& f : findings)
    if (kinds.insert(f.kind).second) list += (list.empty() ? "" : ", ") + f.kind;
  return "suspect: " + std::to_string(findings.size()) + (findings.size() == 1 ? " finding (" : " findings (") + list +
         ")";
}

void TfCheckToText(const TfCheckContext& context, const GeometryCheck& check, std::ostream& out) {
  const TfMeasurement& tf = *context.tf;
  const GeometryInput& in = *context.input;
  const double us = 1e6 / in.samplingHz;
  out << "tfcheck: " << tf.path << ": " << tf.kind << ", " << tf.NumSources() << " sources x " << tf.NumMics()
      << " microphones, nfft " << tf.nfft << ", " << in.samplingHz << " Hz; band " << context.bandLowHz << " - "
      << context.bandHighHz << " Hz, speed of sound " << in.speedOfSound << " m/s\n";
  out << "residual = measured - geometric delay, relative to the array centre (1 sample = " << Format("%.1f", us)
      << " us)\n";
  out << "  microphone        median (us / samples)   worst (us / samples)   verdict\n";
  for (std::size_t m = 0; m < check.mics.size(); ++m) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-16s %9.1f / %6.3f     %9.1f / %6.3f     %s\n", in.micLabels[m].c_str(),
                  check.mics[m].medianSamples * us, check.mics[m].medianSamples, check.mics[m].worstSamples * us,
                  check.mics[m].worstSamples, check.mics[m].suspect ? "suspect" : "ok");
    out << line;
  }
  out << "scale: delay differences " << Format("%.4f", check.scale.delayScale) << " x the geometry's, array scale "
      << Format("%.4f", check.scale.arrayScale) << " (misfit " << Format("%.3f", check.scale.rmsAsIs)
      << " samples RMS as is)\n";
  out << "channel order: misfit " << Format("%.3f", check.misfitAsIs) << " samples per source as is, "
      << Format("%.3f", check.misfitBestOrder) << " in the best order\n";
  std::size_t standing = 0;
  for (const auto& s : check.sources) standing += s.standsOut;
  out << "sources: " << standing << " of " << check.sources.size() << " stand out; median residual "
      << Format("%.3f", check.medianAbsSamples) << " samples\n";
  if (context.arrayEstimate) ArrayEstimateToText(*context.arrayEstimate, in.micLabels, tf.NumSources(), out);
  FindingsToText(check.findings, out);
}

std::string TfCheckToJson(const TfCheckContext& context, const GeometryCheck& check) {
  const TfMeasurement& tf = *context.tf;
  const GeometryInput& in = *context.input;
  const double us = 1e6 / in.samplingHz;
  JsonText json(kJsonDigits);
  json.BeginObject();
  json.Field("mode", "tf");
  json.Field("file", tf.path);
  json.Field("kind", tf.kind);
  json.Field("samplingRateHz", in.samplingHz);
  json.Field("nfft", tf.nfft);
  json.Field("bandLowHz", context.bandLowHz);
  json.Field("bandHighHz", context.bandHighHz);
  json.Field("speedOfSound", in.speedOfSound);
  json.Key("microphones");
  json.BeginArray();
  for (std::size_t m = 0; m < check.mics.size(); ++m) {
    json.BeginObject();
    json.Field("label", in.micLabels[m]);
    json.Field("medianUs", check.mics[m].medianSamples * us);
    json.Field("worstUs", check.mics[m].worstSamples * us);
    json.Field("medianSamples", check.mics[m].medianSamples);
    json.Field("worstSamples", check.mics[m].worstSamples);
    json.Field("bestOrderHolds", in.micLabels[check.bestOrder[m]]);
    json.Field("verdict", check.mics[m].suspect ? "suspect" : "ok");
    json.EndObject();
  }
  json.EndArray();
  json.Key("scale");
  json.BeginObject();
  json.Field("delayScale", check.scale.delayScale);
  json.Field("arrayScale", check.scale.arrayScale);
  json.Field("rmsAsIsSamples", check.scale.rmsAsIs);
  json.Field("rmsDelayScaleSamples", check.scale.rmsDelayScale);
  json.Field("rmsArrayScaleSamples", check.scale.rmsArrayScale);
  json.Field("cause", check.scale.cause);
  json.EndObject();
  json.Key("channelOrder");
  json.BeginObject();
  json.Field("misfitAsIsSamples", check.misfitAsIs);
  json.Field("misfitBestOrderSamples", check.misfitBestOrder);
  json.Field("swapped", check.swapped);
  json.EndObject();
  json.Key("sources");
  json.BeginArray();
  for (const auto& s : check.sources) {
    json.BeginObject();
    json.Field("azimuthDeg", s.azimuthDeg);
    json.Field("elevationDeg", s.elevationDeg);
    json.Field("rmsUs", s.rmsSamples * us);
    json.Field("rmsSamples", s.rmsSamples);
    json.Field("standsOut", s.standsOut);
    if (s.standsOut) {
      json.Field("fitAzimuthDeg", s.fitAzimuthDeg);
      json.Field("fitElevationDeg", s.fitElevationDeg);
      json.Field("movedDeg", s.movedDeg);
      json.Field("fitRmsSamples", s.fitRmsSamples);
    }
    json.EndObject();
  }
  json.EndArray();
  Matrix(json, "measuredUs", check.measured, us);
  Matrix(json, "predictedUs", check.predicted, us);
  Matrix(json, "residualUs", check.residual, us);
  if (context.arrayEstimate) ArrayEstimateToJson(json, *context.arrayEstimate, in.micLabels);
  FindingsToJson(json, check.findings);
  json.EndObject();
  return json.Text() + "\n";
}

void ConfidenceToText(const TfConfidence& confidence, const TfMeasurement& tf, std::ostream& out) {
  std::vector<double> shares;
  double worst = -1;
  std::size_t worstSource = 0, worstMic = 0;
  for (std::size_t s = 0; s < confidence.sources.size(); ++s)
    for (std::size_t m = 0; m < confidence.sources[s].mics.size(); ++m) {
      const double share = confidence.sources[s].mics[m].lowSnrShare;
      shares.push_back(share);
      if (share > worst) {
        worst = share;
        worstSource = s;
        worstMic = m;
      }
    }
  out << tf.path << " (nfft " << tf.nfft << "): bins below " << Format("%.0f", confidence.lowSnrLimitDb)
      << " dB SNR after averaging: median " << Format("%.1f", 100.0 * Median(shares)) << " %, worst "
      << Format("%.1f", 100.0 * std::max(worst, 0.0)) << " % (source " << worstSource << ", microphone " << worstMic
      << ")\n";
  out << "  band (Hz)   SNR dB   magnitude +- dB   phase +- deg   (medians over sources and microphones)\n";
  for (std::size_t b = 0; b < confidence.bands.size(); ++b) {
    std::vector<double> snr, magnitude, phase;
    for (const SourceConfidence& source : confidence.sources)
      for (const MicConfidence& mic : source.mics)
        if (b < mic.snrDb.size() && std::isfinite(mic.snrDb[b])) {
          snr.push_back(mic.snrDb[b]);
          magnitude.push_back(mic.magnitudeDb[b]);
          phase.push_back(mic.phaseDeg[b]);
        }
    if (snr.empty()) continue;
    char line[160];
    std::snprintf(line, sizeof line, "  %8.0f   %6.1f   %15.3f   %12.2f\n", confidence.bands[b].centreHz, Median(snr),
                  Median(magnitude), Median(phase));
    out << line;
  }
}

void ConfidenceToJson(JsonText& json, const TfConfidence& confidence, const TfMeasurement& tf) {
  json.Key("tfConfidence");
  json.BeginObject();
  json.Field("file", tf.path);
  json.Field("nfft", tf.nfft);
  json.Field("lowSnrLimitDb", confidence.lowSnrLimitDb);
  json.Key("bandsHz");
  json.BeginArray();
  for (const OctaveBand& band : confidence.bands) json.Number(band.centreHz);
  json.EndArray();
  json.Key("sources");
  json.BeginArray();
  for (std::size_t s = 0; s < confidence.sources.size(); ++s) {
    const SourceConfidence& source = confidence.sources[s];
    json.BeginObject();
    json.Field("source", s);
    json.Field("azimuthDeg", source.azimuthDeg);
    json.Field("elevationDeg", source.elevationDeg);
    json.Key("mics");
    json.BeginArray();
    for (const MicConfidence& mic : source.mics) {
      json.BeginObject();
      json.Field("lowSnrShare", mic.lowSnrShare);
      for (const auto& figure : {std::make_pair("snrDb", &mic.snrDb), std::make_pair("magnitudeDb", &mic.magnitudeDb),
                                 std::make_pair("phaseDeg", &mic.phaseDeg)}) {
        json.Key(figure.first);
        json.BeginArray();
        for (double v : *figure.second) json.Number(v);
        json.EndArray();
      }
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
}

void RecordingsCheckToText(const RecordingsCheck& check, std::ostream& out, const TfConfidence* confidence,
                           const TfMeasurement* tf) {
  out << "tfcheck: " << check.listPath << ": " << check.recordings.size() << " recordings, offset " << check.offset
      << ", " << check.periods << " periods of " << check.periodLength << " samples\n";
  out << "  recording                 src  level dBFS  peak dBFS  clipped  SNR dB (averaged)  drift ppm\n";
  for (const auto& r : check.recordings) {
    double peak = -300;
    std::size_t clipped = 0;
    for (const auto& c : r.perChannel) {
      peak = std::max(peak, c.peakDbfs);
      clipped += c.clipped;
    }
    char line[200];
    const bool periodic = r.complete && check.periods >= 2;
    std::snprintf(line, sizeof line, "  %-24s %4zu %10.1f %10.1f %8zu  %6.1f (%6.1f)    %8.2f\n", r.name.c_str(),
                  r.source, r.levelDb, peak, clipped, periodic ? r.snrDb : 0.0,
                  periodic ? r.snrDb + 10.0 * std::log10(double(check.periods)) : 0.0, periodic ? r.driftPpm : 0.0);
    out << line;
  }
  if (check.periods >= 2 && !check.bands.empty()) {
    out << "band SNR after averaging (median over recordings and channels):";
    for (std::size_t b = 0; b < check.bands.size(); ++b) {
      std::vector<double> snrs;
      for (const auto& r : check.recordings)
        for (const auto& c : r.perChannel)
          if (b < c.bandSnrDb.size() && std::isfinite(c.bandSnrDb[b])) snrs.push_back(c.bandSnrDb[b]);
      if (snrs.empty()) continue;
      out << (b ? ", " : " ") << Format("%.0f", check.bands[b].centreHz) << " Hz "
          << Format("%.1f", Median(snrs) + 10.0 * std::log10(double(check.periods))) << " dB";
    }
    out << "\n";
  }
  if (confidence && tf) ConfidenceToText(*confidence, *tf, out);
  FindingsToText(check.findings, out);
}

std::string RecordingsCheckToJson(const RecordingsCheck& check, const TfConfidence* confidence,
                                  const TfMeasurement* tf) {
  JsonText json(kJsonDigits);
  json.BeginObject();
  json.Field("mode", "recordings");
  json.Field("list", check.listPath);
  {
    std::error_code ec;  // where the list's recording names are read from
    const std::filesystem::path here = std::filesystem::current_path(ec);
    if (!ec) json.Field("directory", here.string());
  }
  json.Field("periods", check.periods);
  json.Field("offset", check.offset);
  json.Field("periodLength", check.periodLength);
  json.Field("expectedRateHz", check.expectedRateHz);
  json.Key("octaveBands");
  json.BeginArray();
  for (const OctaveBand& band : check.bands) {
    json.BeginObject();
    json.Field("centreHz", band.centreHz);
    json.Field("lowHz", band.lowHz);
    json.Field("highHz", band.highHz);
    json.EndObject();
  }
  json.EndArray();
  json.Key("recordings");
  json.BeginArray();
  for (const auto& r : check.recordings) {
    json.BeginObject();
    json.Field("name", r.name);
    json.Field("source", r.source);
    json.Field("azimuthDeg", r.azimuthDeg);
    json.Field("elevationDeg", r.elevationDeg);
    json.Field("sampleRateHz", r.sampleRateHz);
    json.Field("frames", r.frames);
    json.Field("complete", r.complete);
    json.Key("channels");
    json.BeginArray();
    for (const auto& c : r.perChannel) {
      json.BeginObject();
      json.Field("channel", c.channel);
      json.Field("mic", c.mic);
      json.Field("rmsDbfs", c.rmsDbfs);
      json.Field("peakDbfs", c.peakDbfs);
      json.Field("clipped", c.clipped);
      json.Field("dcOffset", c.dcOffset);
      if (c.periodic) {
        json.Field("snrDb", c.snrDb);
        json.Field("snrAveragedDb", c.snrAveragedDb);
        json.Field("driftPpm", c.driftPpm);
        const double gain = 10.0 * std::log10(double(check.periods));
        json.Field("bandSnrDb", c.bandSnrDb);
        json.Key("bandSnrAveragedDb");
        json.BeginArray();
        for (double v : c.bandSnrDb) json.Number(std::min(150.0, v + gain));
        json.EndArray();
      }
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
  }
  json.EndArray();
  if (confidence && tf) ConfidenceToJson(json, *confidence, *tf);
  FindingsToJson(json, check.findings);
  json.EndObject();
  return json.Text() + "\n";
}

}  // namespace vesktools
