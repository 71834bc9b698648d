// Everything tf mode works from, each input parsed once.
#ifndef TRELVIX_TF_TFJOB_H
#define TRELVIX_TF_TFJOB_H

#include <boost/shared_ptr.hpp>

#include "tf/TFMakingParameters.h"
#include "veskio2/VeskConfig.h"

namespace trelvix {

// The options, the microphone-array location file and the one list file
// (as the reader returned it; the provider or the geometric calculation
// checks its kind), and the vertical count of the grid options. Made once
// by the TF maker; providers and computations take it.
struct TFJob {
  TFMakingParameters param;
  boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0> micArray;
  boost::shared_ptr<veskio2::veskconfig::VeskConfigFile> list;
  unsigned int numVertical = 1;

  // The path of the list file (param's impulse-response or TSP list).
  const std::string& ListPath() const { return param.ir_list_file.empty() ? param.tsp_list_file : param.ir_list_file; }
};

}  // namespace trelvix

#endif
