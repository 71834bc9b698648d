#include "Driver.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Fft.h"
#include "FiniteCheck.h"
#include "ImpulseFile.h"
#include "ImpulseFromAverage.h"
#include "OnsetSearch.h"
#include "PeriodAverage.h"
#include "Recording.h"
#include "TspOrigin.h"

namespace dravik {
namespace {

constexpr int kExitFailure = 255;
constexpr int kExitWriteFailure = 1;

// The step under way, for the message when memory runs out.
const char* current_step = "reading the command line";

// Whether frames [offset, offset + N·F) lie inside the recording.
bool window_fits(long long frames, int offset, const RunSettings& settings) {
  long long window = static_cast<long long>(settings.sample_by_frame) * settings.sync_add_freq;
  return offset >= 0 && offset + window <= frames;
}

int report_short_wave(const Recording& recording, const RunSettings& settings) {
  std::printf("Wave length(%d) is short when sync_add_freq = %d.\n", recording.frames(), settings.sync_add_freq);
  return kExitFailure;
}

// Writes the impulse of the c-th selected channel (file number c + 1).
int write_impulse(const RunSettings& settings, std::size_t c, const std::vector<double>& impulse) {
  std::string name = impulse_file_name(settings.out_file_head, static_cast<int>(c) + 1);
  std::string reason;
  if (write_float_file(name, impulse.data(), kImpulseLength, &reason) < 0) {
    std::fprintf(stderr, "File open failed: %s: %s\n", name.c_str(), reason.c_str());
    return -1;
  }
  return 0;
}

int run(int argc, char** argv) {
  RunSettings settings;
  int status = parse_command_line(argc, argv, &settings);
  if (status != 0) return status;

  current_step = "loading the TSP origin";
  std::vector<double> reference;
  if (load_tsp_reference(settings, &reference) < 0) return kExitFailure;
  if (check_reference_finite(settings.tsp_org_file, reference) < 0) return kExitFailure;
  ImpulseFromAverage impulse_maker(reference, settings.sample_by_frame, settings.hpf_enabled, settings.hpf_low_freq,
                                   settings.hpf_high_freq);

  Recording recording;
  if (!recording.open(settings.input_file)) {
    std::printf("wavefile(%s) is not found.\n", settings.input_file.c_str());
    return kExitFailure;
  }
  // No sample outside the recording is read: a window that begins before
  // it or ends after it stops the run here.
  if (!window_fits(recording.frames(), settings.sync_add_offset, settings)) {
    return report_short_wave(recording, settings);
  }
  std::puts("calc_impulse...");

  std::vector<int> channels;
  for (int channel = 0; channel < std::min(recording.channels(), kMaxChannels); ++channel) {
    if (settings.out_channel_selected[channel]) channels.push_back(channel);
  }

  int offset = settings.sync_add_offset;
  if (settings.search_enabled) {
    current_step = "searching the onset";
    FftCache ffts;
    std::puts("search_offset...");
    const long long search_from = std::max(settings.search_start, 0);
    const long long search_to = std::min<long long>(settings.search_end, recording.frames());
    if (check_region_finite(recording, settings.input_file, search_from, search_to - search_from, channels) < 0) {
      return kExitFailure;
    }
    if (search_first_offset(recording, channels, reference, ffts, &settings, &offset) < 0) {
      return kExitFailure;
    }
    std::printf("calculated_first_offset=%d.\n", offset);
    // The found onset may move the window off the recording.
    if (!channels.empty() && !window_fits(recording.frames(), offset, settings)) {
      return report_short_wave(recording, settings);
    }
  }

  current_step = "averaging the periods of the recording";
  PeriodSums sums;
  sums.add_periods(recording, offset, settings.sample_by_frame, settings.sync_add_freq, channels);
  if (check_sums_finite(sums, recording, settings.input_file, offset, settings.sample_by_frame, settings.sync_add_freq,
                        channels) < 0) {
    return kExitFailure;
  }
  // Channels go through the deconvolution two at a time (one transform
  // pair for both); files are written in channel order.
  current_step = "computing the impulse responses";
  std::vector<double> impulse_a(kImpulseLength), impulse_b(kImpulseLength);
  double* input = impulse_maker.pair_input();
  for (std::size_t c = 0; c < channels.size(); c += 2) {
    const bool pair = c + 1 < channels.size();
    sums.average(c, input, 2);
    if (pair) sums.average(c + 1, input + 1, 2);
    impulse_maker.compute_pair(impulse_a.data(), pair ? impulse_b.data() : nullptr);
    if (write_impulse(settings, c, impulse_a) < 0) return kExitWriteFailure;
    if (pair && write_impulse(settings, c + 1, impulse_b) < 0) return kExitWriteFailure;
  }
  return 0;
}

}  // namespace

int run_dravik(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "out of memory while %s.\n", current_step);
    return kExitFailure;
  }
}

}  // namespace dravik
