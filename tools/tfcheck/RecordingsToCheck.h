// Checks the TSP recordings a TSP list names: level, clipping, DC offset,
// signal-to-noise ratio and clock drift, read in blocks.
#ifndef VESK_TFCHECK_RECORDINGSTOCHECK_H
#define VESK_TFCHECK_RECORDINGSTOCHECK_H

#include <string>
#include <vector>

#include "Findings.h"
#include "TfFileToMeasurement.h"

namespace vesktools {

struct ChannelFigures {
  std::size_t channel = 0;           // recording channel, as the list's micIndices name it
  std::size_t mic = 0;               // the array file's microphone it serves (ascending listed channels in file order)
  double rmsDbfs = 0, peakDbfs = 0;  // over the averaged periods; peak over the file
  std::size_t clipped = 0;           // samples at the format's full scale (or beyond, in float files)
  double dcOffset = 0;               // mean over the file, full scale
  bool periodic = false;             // two or more periods: the figures below are set
  double snrDb = 0;                  // one period's power over the noise power per sample
  double snrAveragedDb = 0;          // after averaging the periods
  double driftPpm = 0;               // recorder clock faster than the player's
};

struct RecordingFigures {
  std::string name;                  // as the list names it
  std::string path;                  // as opened
  std::size_t source = 0;            // position in the list
  double azimuthDeg = 0, elevationDeg = 0;
  int sampleRateHz = 0;
  std::size_t frames = 0, channels = 0;
  std::vector<std::size_t> listedChannels;  // the micIndices, ascending, each once
  bool complete = false;             // long enough for the offset and periods
  std::vector<ChannelFigures> perChannel;
  double levelDb = 0, snrDb = 0, driftPpm = 0;  // medians over channels
};

struct RecordingsCheck {
  std::string listPath;
  unsigned int periods = 0, offset = 0, periodLength = 0;  // samples
  int expectedRateHz = 16000;
  std::string originName;    // originalImpulseFile, as the list names it
  bool originIsWave = false;
  std::vector<RecordingFigures> recordings;
  std::vector<Finding> findings;
};

struct RecordingsSettings {
  int expectedRateHz = 16000;  // the rate the TF will be made at
  double bandLowHz = 300;      // for the drift estimate
  double bandHighHz = 0;       // 0: 0.8 of the Nyquist frequency
};

// Reads the TSP list. A file's micIndices name recording channels: the
// impulse calculator takes them in ascending order and the k-th serves the
// microphone-array file's k-th microphone; only those channels are checked.
// Reads the TSP list (tspOffset, synchronousAverage, tspLength, default
// 16384; originalImpulseFile, which must hold a period) and every recording
// it names (relative to the working directory,
// as trelvix opens them), each once in blocks of 8192 frames. The averaged
// periods split into a first and a second half whose averages give the
// noise (their difference, once the drift is taken out) and the drift (the
// delay between them over their distance in periods). Throws ToolError when
// the list cannot be read or a recording cannot be opened.
RecordingsCheck RecordingsToCheck(const std::string& listPath, const RecordingsSettings& settings,
                                  const Thresholds& limits);

}  // namespace vesktools

#endif
