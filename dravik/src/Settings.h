// Run settings of the impulse calculator, as parsed from the command line.
#ifndef DRAVIK_SETTINGS_H
#define DRAVIK_SETTINGS_H

#include <string>

#include "dravik/Invocation.h"

namespace dravik {

// Highest channel count that can be selected; channels from this number up
// are never processed.
constexpr int kMaxChannels = static_cast<int>(kSelectableChannels);

// Length of every impulse response written, in samples.
constexpr int kImpulseLength = 4096;

enum TspOriginType { kTspOriginFloat = 0, kTspOriginWave = 1 };

struct RunSettings {
  std::string tsp_org_file = "16384.little_endian.tsp";
  int tsp_org_type = kTspOriginFloat;
  long tsp_org_channel = 0;           // channel of a wave origin
  double tsp_adjust_ratio = 32768.0;  // divisor of a float origin
  bool sigmax_given = false;
  int sample_by_frame = kDefaultSamplesPerFrame;  // N, samples per TSP period
  int sync_add_freq = 16;                         // F, periods averaged
  int sync_add_offset = 16384;                    // first sample of the first period
  int search_start = 0;                           // search region, samples, end exclusive
  int search_end = 65536;
  bool search_enabled = false;
  bool out_channel_selected[kMaxChannels];
  bool out_channel_list_given = false;
  int hpf_low_freq = 0;   // Hz
  int hpf_high_freq = 0;  // Hz
  bool hpf_enabled = false;
  std::string input_file;
  std::string out_file_head;

  RunSettings() {
    for (bool& flag : out_channel_selected) flag = true;
  }
};

}  // namespace dravik

#endif
