// SOFA header interpretation: a text description of what netCDF would report
// (dimensions, attributes, variables, small variables' values) either is
// accepted as a consistent FIR layout or raises ToolError; nothing else.
// An input that starts as a netCDF file does (the HDF5 signature, or "CDF"
// and a version byte) goes whole through sofa2vesk's own reading and
// checking instead, from a memory file: it is accepted or raises ToolError.
// Lines:  dim NAME LENGTH | attr NAME TEXT | var NAME TYPE DIM... |
//         vattr VAR NAME TEXT | values VAR NUMBER...
// TYPE: double float int text other. Variables without "values" get values
// of the size their layout expects.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "HeaderToFirLayout.h"
#include "SofaToIrList.h"
#include "ToolError.h"

using namespace vesksofa;

namespace {

ValueType ParseType(const std::string& word) {
  if (word == "double") return ValueType::Double;
  if (word == "float") return ValueType::Float;
  if (word == "int") return ValueType::Integer;
  if (word == "text") return ValueType::Text;
  return ValueType::Other;
}

std::string Rest(std::istringstream& in) {
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  return rest;
}

// Values of the expected size (1, 3 or 3M per the variable's shape), varied
// but deterministic; empty when too large to bother.
std::vector<double> Expected(std::size_t count, double base) {
  std::vector<double> v;
  if (count > (1u << 16)) return v;
  for (std::size_t i = 0; i < count; ++i) v.push_back(base + static_cast<double>(i % 7));
  return v;
}

bool IsNetcdf(const uint8_t* data, size_t size) {
  static const char kHdf5[] = "\x89HDF\r\n\x1a\n";
  return (size >= 8 && std::memcmp(data, kHdf5, 8) == 0) ||
         (size >= 4 && std::memcmp(data, "CDF", 3) == 0 && (data[3] == 1 || data[3] == 2 || data[3] == 5));
}

// The bytes as a file of their own, through CheckSofaInput.
void CheckAsFile(const uint8_t* data, size_t size) {
  const int fd = ::memfd_create("sofa", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  for (size_t done = 0; done < size;) {
    const ssize_t wrote = ::write(fd, data + done, size - done);
    if (wrote <= 0) std::abort();
    done += static_cast<size_t>(wrote);
  }
  try {
    CheckSofaInput("/proc/self/fd/" + std::to_string(fd));
  } catch (const vesktools::ToolError&) {
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (IsNetcdf(data, size)) {
    CheckAsFile(data, size);
    return 0;
  }
  SofaHeader header;
  std::map<std::string, std::vector<double>> values;
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string kind, name;
    in >> kind >> name;
    if (kind == "dim") {
      uint64_t length = 0;
      in >> length;
      header.dims[name] = length;
    } else if (kind == "attr") {
      header.attrs[name] = Rest(in);
    } else if (kind == "var") {
      std::string type, dim;
      in >> type;
      SofaVariable& var = header.vars[name];
      var.type = ParseType(type);
      while (in >> dim) var.dims.push_back(dim);
    } else if (kind == "vattr") {
      std::string attr;
      in >> attr;
      header.vars[name].attrs[attr] = Rest(in);
    } else if (kind == "values") {
      double v;
      auto& list = values[name];
      while (list.size() < (1u << 16) && in >> v) list.push_back(v);
    }
  }

  FirLayout layout;
  try {
    layout = InterpretFirHeader(header);
  } catch (const vesktools::ToolError&) {
    return 0;
  }
  if (layout.measurements == 0 || layout.receivers == 0 || layout.samples == 0 || layout.receivers > kMaxReceivers ||
      layout.samples > kMaxSamples || layout.measurements > kMaxResponses / layout.receivers)
    std::abort();

  try {
    CheckBelievableSize(layout, size);
  } catch (const vesktools::ToolError&) {
  }
  const std::size_t m = layout.measurements;
  const auto valuesOf = [&](const std::string& name, std::size_t expected, double base) {
    const auto it = values.find(name);
    return it != values.end() ? it->second : Expected(expected, base);
  };
  const auto positionValues = [&](const Coordinates& c, double base) {
    if (!c.present) return std::vector<double>();
    return valuesOf(c.name, c.perMeasurement ? 3 * m : 3, base);
  };
  try {
    const double rate =
        CheckedSamplingRate(valuesOf("Data.SamplingRate", layout.samplingRatePerMeasurement ? m : 1, 48000));
    if (!(rate > 0)) std::abort();
    if (layout.hasDelay)
      CheckZeroDelays(valuesOf("Data.Delay", (layout.delayPerMeasurement ? m : 1) * layout.receivers, 0),
                      layout.receivers);
    const std::vector<Vec3> receivers = ReceiverPositions(
        layout, valuesOf("ReceiverPosition", layout.receivers * 3 * (layout.receiver.perMeasurement ? m : 1), 0.1));
    if (receivers.size() != layout.receivers) std::abort();
    const std::vector<Vec3> sources =
        SourcePositions(layout, positionValues(layout.source, 1), positionValues(layout.listener, 0),
                        positionValues(layout.listenerView, 1), positionValues(layout.listenerUp, 2));
    if (sources.size() != m) std::abort();
  } catch (const vesktools::ToolError&) {
  }
  return 0;
}
