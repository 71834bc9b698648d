// The check's figures and findings as a text report and as JSON.
#ifndef VESK_TFCHECK_CHECKTOREPORT_H
#define VESK_TFCHECK_CHECKTOREPORT_H

#include <ostream>
#include <string>

#include "DelaysToArrayEstimate.h"
#include "DelaysToGeometryCheck.h"
#include "RecordingsToCheck.h"
#include "RecordingsToConfidence.h"
#include "TfFileToMeasurement.h"

namespace vesktools {

// What the transfer-function check was run with, for the report.
struct TfCheckContext {
  const TfMeasurement* tf = nullptr;
  const GeometryInput* input = nullptr;
  double bandLowHz = 0, bandHighHz = 0;
  const ArrayEstimate* arrayEstimate = nullptr;  // --estimate-array: its section (JSON "arrayEstimate")
};

// The one-line verdict: "consistent" or "suspect: N findings (kinds)".
std::string Verdict(const std::vector<Finding>& findings);

void TfCheckToText(const TfCheckContext& context, const GeometryCheck& check, std::ostream& out);
std::string TfCheckToJson(const TfCheckContext& context, const GeometryCheck& check);

// With `confidence` (--tf), its figures for `tf` too (JSON "tfConfidence").
void RecordingsCheckToText(const RecordingsCheck& check, std::ostream& out, const TfConfidence* confidence = nullptr,
                           const TfMeasurement* tf = nullptr);
std::string RecordingsCheckToJson(const RecordingsCheck& check, const TfConfidence* confidence = nullptr,
                                  const TfMeasurement* tf = nullptr);

}  // namespace vesktools

#endif
