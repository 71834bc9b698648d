// The options of tf mode, read once from the command line.
#ifndef TRELVIX_TF_TFMAKINGPARAMETERS_H
#define TRELVIX_TF_TFMAKINGPARAMETERS_H

#include <cstdint>
#include <string>

namespace trelvix {

enum class TFType : int32_t { M2PG = 0, GTF = 1 };

// Exactly one of ir_list_file and tsp_list_file is non-empty once made.
struct TFMakingParameters {
  std::string ir_list_file;
  std::string tsp_list_file;
  std::string mic_array_location_file;
  TFType tf_type = TFType::M2PG;
  uint32_t nfft = 0;        // samples per transform
  uint32_t tsp_length = 0;  // samples, recorded as the impulse-response length of TSP lists
  bool normalize_src = false;
  bool normalize_mic = false;
  bool normalize_freq = false;
  uint32_t direct_length = 0;  // samples kept after the direct sound
  uint32_t sampling_freq = 0;  // Hz
  uint32_t calc = 0;           // 1 selects the geometric calculation
};

}  // namespace trelvix

#endif
