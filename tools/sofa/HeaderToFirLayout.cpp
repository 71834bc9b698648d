#include "HeaderToFirLayout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "ToolError.h"
#include "base/Constants.h"

namespace vesksofa {

using vesktools::ToolError;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> SplitCommas(const std::string& s) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, ',')) parts.push_back(Lower(Trim(part)));
  return parts;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

bool IsMetre(const std::string& unit) {
  return unit == "metre" || unit == "meter" || unit == "metres" || unit == "meters";
}
bool IsDegree(const std::string& unit) { return unit == "degree" || unit == "degrees"; }

std::string Shape(const std::vector<std::string>& dims) {
  std::string s = "(";
  for (std::size_t i = 0; i < dims.size(); ++i) s += (i ? ", " : "") + dims[i];
  return s + ")";
}

const std::string* Attribute(const std::map<std::string, std::string>& attrs, const std::string& name) {
  const auto it = attrs.find(name);
  return it == attrs.end() ? nullptr : &it->second;
}

bool IsNumeric(ValueType t) { return t == ValueType::Double || t == ValueType::Float || t == ValueType::Integer; }

// The variable, numeric, with one of the allowed shapes; returns which one.
std::size_t ExpectShape(const SofaHeader& header, const std::string& name,
                        const std::vector<std::vector<std::string>>& shapes) {
  const SofaVariable& var = header.vars.at(name);
  if (!IsNumeric(var.type)) throw ToolError(name + ": expected numeric values, found another type");
  for (std::size_t i = 0; i < shapes.size(); ++i)
    if (var.dims == shapes[i]) return i;
  std::string expected;
  for (std::size_t i = 0; i < shapes.size(); ++i) expected += (i ? " or " : "") + Shape(shapes[i]);
  throw ToolError(name + ": expected dimensions " + expected + ", found " + Shape(var.dims));
}

// Type and Units of a position variable.
void ReadCoordinateSystem(const SofaVariable& var, Coordinates& c) {
  const std::string* type = Attribute(var.attrs, "Type");
  const std::string kind = type ? Lower(Trim(*type)) : "cartesian";
  if (kind == "spherical")
    c.spherical = true;
  else if (kind != "cartesian")
    throw ToolError(c.name + ": unsupported Type \"" + *type + "\" (expected cartesian or spherical)");
  const std::string* units = Attribute(var.attrs, "Units");
  if (!units) return;
  const std::vector<std::string> parts = SplitCommas(*units);
  bool ok;
  if (c.spherical) {
    ok = parts.size() == 3 && IsDegree(parts[0]) && IsDegree(parts[1]) && IsMetre(parts[2]);
  } else {
    ok = (parts.size() == 1 || parts.size() == 3) &&
         std::all_of(parts.begin(), parts.end(), [](const std::string& p) { return IsMetre(p); });
  }
  if (!ok)
    throw ToolError(c.name + ": unsupported Units \"" + *units + "\" for Type " +
                    (c.spherical ? "spherical" : "cartesian") + " (expected \"" +
                    (c.spherical ? "degree, degree, metre" : "metre") + "\")");
}

Coordinates PositionVariable(const SofaHeader& header, const std::string& name, bool required, bool receiverShape) {
  Coordinates c;
  c.name = name;
  if (!header.vars.count(name)) {
    if (required) throw ToolError("missing variable " + name);
    return c;
  }
  c.present = true;
  if (receiverShape)
    c.perMeasurement = ExpectShape(header, name, {{"R", "C", "I"}, {"R", "C", "M"}}) == 1;
  else
    c.perMeasurement = ExpectShape(header, name, {{"I", "C"}, {"M", "C"}}) == 1;
  ReadCoordinateSystem(header.vars.at(name), c);
  return c;
}

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Scale(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 Minus(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Position m of a variable stored as 3 (I) or 3M (M) values; `fallback` when absent.
Vec3 At(const Coordinates& c, const std::vector<double>& values, std::size_t m, std::size_t measurements,
        const Vec3& fallback) {
  if (!c.present) return fallback;
  const std::size_t expected = c.perMeasurement ? 3 * measurements : 3;
  if (values.size() != expected)
    throw ToolError(c.name + ": expected " + std::to_string(expected) + " values, found " +
                    std::to_string(values.size()));
  return ToCartesian(values.data() + (c.perMeasurement ? 3 * m : 0), c.spherical);
}

}  // namespace

FirLayout InterpretFirHeader(const SofaHeader& header) {
  const std::string* conventions = Attribute(header.attrs, "Conventions");
  if (!conventions) throw ToolError("missing global attribute Conventions (expected \"SOFA\")");
  if (*conventions != "SOFA") throw ToolError("expected Conventions \"SOFA\", found \"" + *conventions + "\"");
  FirLayout layout;
  const std::string* convention = Attribute(header.attrs, "SOFAConventions");
  if (!convention) throw ToolError("missing global attribute SOFAConventions");
  layout.convention = *convention;
  const std::string* dataType = Attribute(header.attrs, "DataType");
  if (!dataType) throw ToolError("missing global attribute DataType");
  if (*dataType != "FIR")
    throw ToolError("unsupported DataType \"" + *dataType + "\" of convention " + *convention +
                    ": only FIR data (Data.IR of M x R x N) converts to impulse responses");

  for (const char* name : {"I", "C", "M", "R", "N"})
    if (!header.dims.count(name)) throw ToolError(std::string("missing dimension ") + name);
  if (header.dims.at("I") != 1)
    throw ToolError("dimension I: expected 1, found " + std::to_string(header.dims.at("I")));
  if (header.dims.at("C") != 3)
    throw ToolError("dimension C: expected 3, found " + std::to_string(header.dims.at("C")));
  const uint64_t m = header.dims.at("M"), r = header.dims.at("R"), n = header.dims.at("N");
  if (m == 0 || r == 0 || n == 0)
    throw ToolError("expected M, R and N of at least 1, found M " + std::to_string(m) + ", R " + std::to_string(r) +
                    ", N " + std::to_string(n));
  if (r > kMaxReceivers)
    throw ToolError("dimension R: expected at most " + std::to_string(kMaxReceivers) + " receivers, found " +
                    std::to_string(r));
  if (n > kMaxSamples)
    throw ToolError("dimension N: expected at most " + std::to_string(kMaxSamples) + " samples, found " +
                    std::to_string(n));
  if (m > kMaxResponses / r)
    throw ToolError("expected at most " + std::to_string(kMaxResponses) + " responses (M x R), found " +
                    std::to_string(m) + " x " + std::to_string(r));
  layout.measurements = static_cast<std::size_t>(m);
  layout.receivers = static_cast<std::size_t>(r);
  layout.samples = static_cast<std::size_t>(n);

  for (const char* name : {"Data.IR", "Data.SamplingRate"})
    if (!header.vars.count(name)) throw ToolError(std::string("missing variable ") + name);
  ExpectShape(header, "Data.IR", {{"M", "R", "N"}});
  layout.samplingRatePerMeasurement = ExpectShape(header, "Data.SamplingRate", {{"I"}, {"M"}}) == 1;
  if (const std::string* units = Attribute(header.vars.at("Data.SamplingRate").attrs, "Units")) {
    const std::string u = Lower(Trim(*units));
    if (u != "hertz" && u != "hz")
      throw ToolError("Data.SamplingRate: unsupported Units \"" + *units + "\" (expected \"hertz\")");
  }
  if (header.vars.count("Data.Delay")) {
    layout.hasDelay = true;
    layout.delayPerMeasurement = ExpectShape(header, "Data.Delay", {{"I", "R"}, {"M", "R"}}) == 1;
  }
  layout.source = PositionVariable(header, "SourcePosition", true, false);
  layout.receiver = PositionVariable(header, "ReceiverPosition", true, true);
  layout.listener = PositionVariable(header, "ListenerPosition", false, false);
  layout.listenerView = PositionVariable(header, "ListenerView", false, false);
  layout.listenerUp = PositionVariable(header, "ListenerUp", false, false);
  return layout;
}

void CheckBelievableSize(const FirLayout& layout, uint64_t fileBytes) {
  // Measured responses compress by a few times at most; allow 1000 times and
  // a small file's worth of silence on top.
  constexpr uint64_t kRatio = 1000, kSlack = uint64_t(64) << 20;
  const uint64_t bytes = uint64_t(layout.measurements) * layout.receivers * layout.samples * 4;
  if (bytes > kSlack && bytes / kRatio > fileBytes)
    throw ToolError("Data.IR: " + std::to_string(layout.measurements) + " x " + std::to_string(layout.receivers) +
                    " x " + std::to_string(layout.samples) + " values (" + std::to_string(bytes) +
                    " bytes as .flt) cannot come from a file of " + std::to_string(fileBytes) + " bytes");
}

Vec3 ToCartesian(const double* v, bool spherical) {
  if (!spherical) return {v[0], v[1], v[2]};
  const double azimuth = v[0] * vesk::kPi / 180.0, elevation = v[1] * vesk::kPi / 180.0, radius = v[2];
  return {radius * std::cos(elevation) * std::cos(azimuth), radius * std::cos(elevation) * std::sin(azimuth),
          radius * std::sin(elevation)};
}

double CheckedSamplingRate(const std::vector<double>& rates) {
  if (rates.empty()) throw ToolError("Data.SamplingRate: expected a value, found none");
  for (double rate : rates) {
    if (!std::isfinite(rate) || rate <= 0)
      throw ToolError("Data.SamplingRate: expected a positive rate in hertz, found " + Number(rate));
    if (rate != rates[0])
      throw ToolError("Data.SamplingRate: expected one rate for all measurements, found " + Number(rates[0]) + " and " +
                      Number(rate));
  }
  return rates[0];
}

void CheckZeroDelays(const std::vector<double>& delays, std::size_t receivers) {
  for (std::size_t i = 0; i < delays.size(); ++i)
    if (delays[i] != 0)
      throw ToolError("Data.Delay: unsupported delay of " + Number(delays[i]) + " samples (measurement " +
                      std::to_string(i / std::max<std::size_t>(receivers, 1)) + ", receiver " +
                      std::to_string(i % std::max<std::size_t>(receivers, 1)) + "): only zero delays are supported");
}

std::vector<Vec3> ReceiverPositions(const FirLayout& layout, const std::vector<double>& values) {
  const std::size_t r = layout.receivers, k = layout.receiver.perMeasurement ? layout.measurements : 1;
  if (values.size() != r * 3 * k)
    throw ToolError("ReceiverPosition: expected " + std::to_string(r * 3 * k) + " values, found " +
                    std::to_string(values.size()));
  std::vector<Vec3> positions;
  for (std::size_t rec = 0; rec < r; ++rec) {
    // Stored [R][C][I or M]: the three coordinates of one measurement are k apart.
    double first[3];
    for (std::size_t c = 0; c < 3; ++c) first[c] = values[(rec * 3 + c) * k];
    for (std::size_t j = 1; j < k; ++j)
      for (std::size_t c = 0; c < 3; ++c)
        if (values[(rec * 3 + c) * k + j] != first[c])
          throw ToolError("ReceiverPosition: receiver " + std::to_string(rec) + " moves at measurement " +
                          std::to_string(j) + "; a microphone-array file holds one position per microphone");
    const Vec3 p = ToCartesian(first, layout.receiver.spherical);
    if (!Finite(p)) throw ToolError("ReceiverPosition: receiver " + std::to_string(rec) + " is not finite");
    positions.push_back(p);
  }
  return positions;
}

std::vector<Vec3> SourcePositions(const FirLayout& layout, const std::vector<double>& source,
                                  const std::vector<double>& listener, const std::vector<double>& view,
                                  const std::vector<double>& up) {
  const std::size_t m = layout.measurements;
  std::vector<Vec3> positions;
  positions.reserve(m);
  for (std::size_t i = 0; i < m; ++i) {
    const Vec3 s = At(layout.source, source, i, m, {});
    const Vec3 l = At(layout.listener, listener, i, m, {});
    const Vec3 v = At(layout.listenerView, view, i, m, {1, 0, 0});
    const Vec3 u = At(layout.listenerUp, up, i, m, {0, 0, 1});
    const double viewLength = std::sqrt(Dot(v, v));
    const Vec3 ex = viewLength > 0 ? Scale(v, 1 / viewLength) : Vec3{};
    const Vec3 upOrtho = Minus(u, Scale(ex, Dot(u, ex)));
    const double upLength = std::sqrt(Dot(upOrtho, upOrtho));
    if (!(viewLength > 0) || !(upLength > 1e-9 * std::sqrt(Dot(u, u))) || !std::isfinite(viewLength) ||
        !std::isfinite(upLength))
      throw ToolError("ListenerView and ListenerUp of measurement " + std::to_string(i) +
                      " do not give a frame (zero, parallel or not finite)");
    const Vec3 ez = Scale(upOrtho, 1 / upLength);
    const Vec3 ey = Cross(ez, ex);
    const Vec3 rel = Minus(s, l);
    const Vec3 p{Dot(rel, ex), Dot(rel, ey), Dot(rel, ez)};
    if (!Finite(p)) throw ToolError("SourcePosition of measurement " + std::to_string(i) + " is not finite");
    positions.push_back(p);
  }
  return positions;
}

}  // namespace vesksofa
