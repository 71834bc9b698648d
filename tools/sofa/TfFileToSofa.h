// vesk2sofa: a transfer-function file (m2pg or gtf) into a GeneralTF SOFA
// file: M = sources, R = microphones, N = the stored bins (frequencies in Hz
// in the variable N), Data.Real and Data.Imag as 32-bit floats, exactly the
// file's values.
#ifndef VESK_SOFA_TFFILETOSOFA_H
#define VESK_SOFA_TFFILETOSOFA_H

#include <string>

#include "SofaWriting.h"

namespace vesksofa {

// How the stored values relate to the physical transfer function, for the
// file kind "m2pg" or "gtf"; `geometric` for a file made from positions alone.
std::string StoredValuesStatement(const std::string& kind, bool geometric);

// Writes `sofaPath` all or nothing, holding no copy of the transfer
// functions: `tfPath`, a regular file, is read twice (its header and the
// check of the whole file, then the values). Throws ToolError naming the
// file at fault.
void ConvertTfFileToSofa(const std::string& tfPath, const std::string& sofaPath, SofaTexts texts);

}  // namespace vesksofa

#endif
