// Defaults of the command line that other parts of trelvix recognise.
#ifndef TRELVIX_OPTIONS_OPTIONDEFAULTS_H
#define TRELVIX_OPTIONS_OPTIONDEFAULTS_H

namespace trelvix {

// The TSP origin a template names unless --original-impulse-file is given:
// a placeholder that names no real file.
constexpr const char* kOriginalImpulseFilePlaceholder = "original-impulse-file.tsp";

}  // namespace trelvix

#endif
