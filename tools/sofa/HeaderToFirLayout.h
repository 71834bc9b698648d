// Judges what a FIR SOFA file's header and small variables say and turns it
// into a checked description (sizes, shapes, coordinate systems), and turns
// stored positions into Cartesian metres in the listener's frame. No netCDF
// calls here: the reader feeds it, and so does the fuzz target.
// Errors are ToolError texts naming the variable or attribute at fault,
// without the file's name (the caller prefixes it).
#ifndef VESK_SOFA_HEADERTOFIRLAYOUT_H
#define VESK_SOFA_HEADERTOFIRLAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SofaHeader.h"

namespace vesksofa {

// Most receivers a microphone-array file can number (trelvix's microphone table).
constexpr std::size_t kMaxReceivers = 1000;
// Most (measurement, receiver) files one conversion writes.
constexpr std::size_t kMaxResponses = std::size_t(1) << 24;
// Most taps per response.
constexpr std::size_t kMaxSamples = std::size_t(1) << 26;

struct Vec3 {
  double x = 0, y = 0, z = 0;
};

// How one position variable stores its values.
struct Coordinates {
  std::string name;
  bool present = false;
  bool perMeasurement = false;  // M instead of I in its shape
  bool spherical = false;       // azimuth, elevation (degrees), radius (metres)
};

struct FirLayout {
  std::string convention;  // SOFAConventions
  std::size_t measurements = 0, receivers = 0, samples = 0;
  Coordinates source, receiver, listener, listenerView, listenerUp;
  bool samplingRatePerMeasurement = false;
  bool hasDelay = false, delayPerMeasurement = false;
};

// Checks a FIR file's header: Conventions "SOFA", DataType "FIR", Data.IR
// (M, R, N), Data.SamplingRate (I or M, hertz), Data.Delay (I or M, R),
// SourcePosition (I or M, C), ReceiverPosition (R, C, I or M), the optional
// listener variables, I = 1, C = 3, and the coordinate types and units.
FirLayout InterpretFirHeader(const SofaHeader& header);

// Refuses a layout whose responses (as float32 taps) would outweigh the file
// they come from by more than any compression makes believable: a header
// can declare data that was never written.
void CheckBelievableSize(const FirLayout& layout, uint64_t fileBytes);

// One stored position (three values) in Cartesian metres.
Vec3 ToCartesian(const double* values, bool spherical);

// The one sampling rate in Hz of `rates` (1 or M values): finite, positive, equal.
double CheckedSamplingRate(const std::vector<double>& rates);

// Throws unless every delay (samples) is 0: responses are taken as stored.
void CheckZeroDelays(const std::vector<double>& delays, std::size_t receivers);

// Receiver positions, one per receiver, from ReceiverPosition's R × 3 × (1 or
// M) values; a position that changes with the measurement is refused.
std::vector<Vec3> ReceiverPositions(const FirLayout& layout, const std::vector<double>& values);

// Source positions relative to the listener, in its frame (x along its view,
// z its up), one per measurement. Each argument is the variable's values
// (3 or 3M); absent listener variables are empty (origin, +x view, +z up).
std::vector<Vec3> SourcePositions(const FirLayout& layout, const std::vector<double>& source,
                                  const std::vector<double>& listener, const std::vector<double>& view,
                                  const std::vector<double>& up);

}  // namespace vesksofa

#endif
