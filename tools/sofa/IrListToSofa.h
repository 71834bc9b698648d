// vesk2sofa --ir: the impulse responses an impulse-response list names, for
// the microphones of a microphone-array location file, into a GeneralFIR
// SOFA file (Data.IR [source][microphone][sample] as 64-bit floats).
#ifndef VESK_SOFA_IRLISTTOSOFA_H
#define VESK_SOFA_IRLISTTOSOFA_H

#include <string>

#include "SofaWriting.h"

namespace vesksofa {

// `.flt` names are opened as written (relative to the working directory,
// as trelvix opens them). Every response must have the same length.
// Writes `sofaPath` all or nothing; throws ToolError naming what is wrong.
void ConvertIrListToSofa(const std::string& irListPath, const std::string& micPath, const std::string& sofaPath,
                         unsigned int samplingRateHz, SofaTexts texts);

}  // namespace vesksofa

#endif
