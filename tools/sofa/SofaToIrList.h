// sofa2vesk: a FIR SOFA file into a directory holding mic.xml (the
// receivers as a microphone-array location file), ir.xml (one source per
// measurement) and one .flt file per (measurement, receiver), named relative
// to that directory.
#ifndef VESK_SOFA_SOFATOIRLIST_H
#define VESK_SOFA_SOFATOIRLIST_H

#include <cstddef>
#include <string>

namespace vesksofa {

struct IrListSummary {
  std::string convention;
  std::size_t measurements = 0, receivers = 0, samples = 0;
  double samplingRateHz = 0;
};

// Opens a FIR SOFA file and checks all of it as ConvertSofaToIrList does
// before it creates anything: header, rate, delays, positions and every
// value of Data.IR. Throws ToolError naming the file and the fault.
void CheckSofaInput(const std::string& sofaPath);

// `outDir` must not exist or be empty; it appears complete or not at all.
// Throws ToolError naming the file and what is wrong with it.
IrListSummary ConvertSofaToIrList(const std::string& sofaPath, const std::string& outDir);

}  // namespace vesksofa

#endif
