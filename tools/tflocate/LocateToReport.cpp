#include "LocateToReport.h"

#include <cmath>
#include <cstdio>

#include "JsonWriter.h"

namespace vesktools {
namespace {

using JsonText = veskio2::JsonWriter;
constexpr int kJsonDigits = 7;  // estimates: seven significant digits

std::string Format(const char* format, double a) {
  char text[64];
  std::snprintf(text, sizeof text, format, a);
  return text;
}

std::string Angles(const Direction& d) { return Format("%.1f", d.azimuthDeg) + "/" + Format("%.1f", d.elevationDeg); }

void Header(const Steering& s, Method method, JsonText& json) {
  json.Field("tf", s.path);
  json.Field("method", std::string(MethodName(method)));
  json.Key("bandHz");
  json.BeginArray();
  json.Number(s.bandLowHz);
  json.Number(s.bandHighHz);
  json.EndArray();
  json.Key("samplingRate");
  json.Integer(s.samplingHz);
}

void DirectionFields(JsonText& json, const Direction& d, const char* az = "azimuthDeg",
                     const char* el = "elevationDeg") {
  json.Key(az);
  json.Number(d.azimuthDeg);
  json.Key(el);
  json.Number(d.elevationDeg);
}

void RunToJson(const LocateRun& run, bool withSpectra, JsonText& json) {
  Header(run.steering, run.method, json);
  json.Field("recording", run.recording);
  json.Key("blocks");
  json.BeginArray();
  for (const BlockResult& b : run.blocks) {
    json.BeginObject();
    json.Key("startS");
    json.Number(b.startS);
    json.Key("endS");
    json.Number(b.endS);
    if (run.haveTruth) json.Field("errorsDeg", b.errorsDeg);
    json.Key("peaks");
    json.BeginArray();
    for (const Peak& p : b.peaks) {
      json.BeginObject();
      DirectionFields(json, p.direction);
      json.Key("nearestSource");
      json.Integer(static_cast<long long>(p.nearestSource));
      json.Key("power");
      json.Number(p.power);
      json.EndObject();
    }
    json.EndArray();
    if (withSpectra) json.Field("spectrum", b.spectrum);
    json.EndObject();
  }
  json.EndArray();
  json.Key("estimate");
  json.BeginArray();
  for (const EstimateDirection& e : run.estimate) {
    json.BeginObject();
    DirectionFields(json, e.direction);
    json.Key("support");
    json.Number(e.support);
    json.EndObject();
  }
  json.EndArray();
  if (run.haveTruth) {
    json.Key("errors");
    json.BeginObject();
    json.Key("meanDeg");
    json.Number(run.errors.meanDeg);
    json.Key("medianDeg");
    json.Number(run.errors.medianDeg);
    json.Key("within5Deg");
    json.Number(run.errors.within5Deg);
    json.Key("misses");
    json.Integer(static_cast<long long>(run.errors.misses));
    json.Key("falseAlarms");
    json.Integer(static_cast<long long>(run.errors.falseAlarms));
    json.EndObject();
  }
  if (withSpectra) {
    json.Key("points");
    json.BeginArray();
    for (const Direction& d : run.grid.points) {
      json.BeginArray();
      json.Number(d.azimuthDeg);
      json.Number(d.elevationDeg);
      json.EndArray();
    }
    json.EndArray();
  }
}

void RunToText(const LocateRun& run, std::ostream& out) {
  const Steering& s = run.steering;
  out << "tflocate: " << run.recording << " with " << s.path << " (" << s.kind << ", " << s.numSources << " sources x "
      << s.numMics << " microphones, nfft " << s.nfft << ", " << s.samplingHz << " Hz)\n";
  out << "method " << MethodName(run.method) << ", band " << Format("%.0f", s.bandLowHz) << " - "
      << Format("%.0f", s.bandHighHz) << " Hz (" << s.bins.size() << " bins), " << run.blocks.size() << " blocks"
      << (run.grid.regular ? ", peaks refined between grid points" : "") << "\n";
  out << "   start s    end s  peaks (azimuth/elevation deg, power)" << (run.haveTruth ? "  -> errors deg" : "")
      << "\n";
  for (const BlockResult& b : run.blocks) {
    out << Format("%8.2f", b.startS) << " " << Format("%8.2f", b.endS) << " ";
    for (const Peak& p : b.peaks) out << " " << Angles(p.direction) << " (" << Format("%.2f", p.power) << ")";
    if (run.haveTruth) {
      out << "  ->";
      for (double e : b.errorsDeg) out << " " << Format("%.1f", e);
    }
    out << "\n";
  }
  out << "estimate over the recording (direction: share of blocks):";
  std::size_t shown = 0;
  for (const EstimateDirection& e : run.estimate) {
    if (shown >= 3 && e.support < 0.1) break;  // the rest are stray peaks; --json lists them all
    out << " " << Angles(e.direction) << ": " << Format("%.0f", 100 * e.support) << " %;";
    ++shown;
  }
  if (shown < run.estimate.size()) out << " (" << run.estimate.size() - shown << " more under 10 %)";
  out << "\n";
}

std::string ErrorCells(const LocateRun& run) {
  if (!run.haveTruth) return "(no truth given)";
  const ErrorSummary& e = run.errors;
  char line[160];
  std::snprintf(line, sizeof line, "%8.2f %10.2f %9.0f %% %7zu %13zu", e.meanDeg, e.medianDeg, 100 * e.within5Deg,
                e.misses, e.falseAlarms);
  return line;
}

}  // namespace

void LocateToText(const std::vector<LocateRun>& runs, std::ostream& out) {
  for (const LocateRun& run : runs) {
    RunToText(run, out);
    out << "\n";
  }
  out << "TF file                                  mean deg  median deg  within 5 deg  misses  false alarms\n";
  for (const LocateRun& run : runs) {
    char name[48];
    std::snprintf(name, sizeof name, "%-40s", run.steering.path.c_str());
    out << name << " " << ErrorCells(run) << "\n";
  }
}

std::string LocateToJson(const std::vector<LocateRun>& runs, bool withSpectra) {
  JsonText json(kJsonDigits);
  json.BeginObject();
  RunToJson(runs[0], withSpectra, json);
  if (runs.size() > 1) {
    json.Key("compare");
    json.BeginObject();
    RunToJson(runs[1], withSpectra, json);
    json.EndObject();
  }
  json.EndObject();
  json.Newline();
  return json.Text();
}

void SelfTestToText(const Steering& s, const SearchGrid& grid, Method method, const SelfTest& test, std::ostream& out) {
  out << "tflocate self-test: " << s.path << " (" << s.kind << ", " << s.numSources << " sources x " << s.numMics
      << " microphones), " << MethodName(method) << ", band " << Format("%.0f", s.bandLowHz) << " - "
      << Format("%.0f", s.bandHighHz) << " Hz, SNR " << Format("%.1f", test.snrDb) << " dB\n";
  out << "each source localised among the others only (grid spacing " << Format("%.1f", grid.spacingDeg) << " deg)\n";
  out << "  source  azimuth/elevation  estimate (source)     error deg  nearest other deg  resolution deg\n";
  for (const SelfTestDirection& d : test.directions) {
    char line[200];
    std::snprintf(line, sizeof line, "  %6zu  %17s  %11s (%5zu) %11.1f %18.1f %15.1f\n", d.source,
                  Angles(d.truth).c_str(), Angles(d.estimate).c_str(), d.estimateSource, d.errorDeg, d.nearestOtherDeg,
                  d.resolutionDeg);
    out << line;
  }
  out << "error: mean " << Format("%.1f", test.meanErrorDeg) << " deg, median " << Format("%.1f", test.medianErrorDeg)
      << " deg, worst " << Format("%.1f", test.maxErrorDeg) << " deg; resolution (median) "
      << Format("%.1f", test.resolutionDeg) << " deg\n";
  if (test.ambiguities.empty()) {
    out << "ambiguities: none\n";
    return;
  }
  out << "ambiguities: " << test.ambiguities.size() << " pairs of distant directions with nearly alike responses\n";
  for (const Ambiguity& a : test.ambiguities)
    out << "  source " << a.source << " (" << Angles(grid.points[grid.pointOfSource[a.source]]) << ") ~ source "
        << a.other << " (" << Angles(grid.points[grid.pointOfSource[a.other]]) << "): similarity "
        << Format("%.3f", a.similarity) << "\n";
}

std::string SelfTestToJson(const Steering& s, const SearchGrid& grid, Method method, const SelfTest& test) {
  JsonText json(kJsonDigits);
  json.BeginObject();
  Header(s, method, json);
  json.Key("snrDb");
  json.Number(test.snrDb);
  json.Key("spacingDeg");
  json.Number(grid.spacingDeg);
  json.Key("resolutionDeg");
  json.Number(test.resolutionDeg);
  json.Key("directions");
  json.BeginArray();
  for (const SelfTestDirection& d : test.directions) {
    json.BeginObject();
    json.Key("source");
    json.Integer(static_cast<long long>(d.source));
    DirectionFields(json, d.truth);
    DirectionFields(json, d.estimate, "estimateAzimuthDeg", "estimateElevationDeg");
    json.Key("estimateSource");
    json.Integer(static_cast<long long>(d.estimateSource));
    json.Key("errorDeg");
    json.Number(d.errorDeg);
    json.Key("nearestOtherDeg");
    json.Number(d.nearestOtherDeg);
    json.Key("resolutionDeg");
    json.Number(d.resolutionDeg);
    json.EndObject();
  }
  json.EndArray();
  json.Key("ambiguities");
  json.BeginArray();
  for (const Ambiguity& a : test.ambiguities) {
    json.BeginObject();
    json.Key("source");
    json.Integer(static_cast<long long>(a.source));
    DirectionFields(json, grid.points[grid.pointOfSource[a.source]]);
    json.Key("other");
    json.Integer(static_cast<long long>(a.other));
    DirectionFields(json, grid.points[grid.pointOfSource[a.other]], "otherAzimuthDeg", "otherElevationDeg");
    json.Key("similarity");
    json.Number(a.similarity);
    json.EndObject();
  }
  json.EndArray();
  json.Key("errors");
  json.BeginObject();
  json.Key("meanDeg");
  json.Number(test.meanErrorDeg);
  json.Key("medianDeg");
  json.Number(test.medianErrorDeg);
  json.Key("maxDeg");
  json.Number(test.maxErrorDeg);
  json.EndObject();
  json.EndObject();
  json.Newline();
  return json.Text();
}

}  // namespace vesktools
