// Checks the TSP recordings a TSP list names: level, clipping, DC offset,
// signal-to-noise ratio and clock drift, read in blocks.
#ifndef VESK_TFCHECK_RECORDINGSTOCHECK_H
#define VESK_TFCHECK_RECORDINGSTOCHECK_H

#include <cstddef>
#include <functional>
#include <memory>
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
  // Per octave band of OctaveBands(expectedRateHz): one period's SNR in dB
  // (signal power over noise power in the band's bins); NaN for a band the
  // recording's rate does not reach. Averaging adds 10 log10(periods).
  std::vector<double> bandSnrDb;
  // With RecordingsSettings::tfNfft: the SNR (dB) at each bin 0..tfNfft/2
  // of a TF cut to that length from the averaged period of N samples: the
  // period's bins within half a TF bin of it, plus 10 log10(periods) for
  // the averaging and 10 log10(N / tfNfft) for the cut.
  std::vector<float> tfBinSnrDb;
};

struct RecordingFigures {
  std::string name;        // as the list names it
  std::string path;        // as opened
  std::size_t source = 0;  // position in the list
  double azimuthDeg = 0, elevationDeg = 0;
  int sampleRateHz = 0;
  std::size_t frames = 0, channels = 0;
  std::vector<std::size_t> listedChannels;  // the micIndices, ascending, each once
  bool complete = false;                    // long enough for the offset and periods
  std::vector<ChannelFigures> perChannel;
  double levelDb = 0, snrDb = 0, driftPpm = 0;  // medians over channels
};

// Octave bands centred on 125 * 2^k Hz (edges at centre / sqrt 2 and
// centre * sqrt 2, the last one cut at the Nyquist frequency) below the
// Nyquist frequency of `rateHz`.
struct OctaveBand {
  double centreHz = 0, lowHz = 0, highHz = 0;
};
std::vector<OctaveBand> OctaveBands(int rateHz);

struct RecordingsCheck {
  std::string listPath;
  std::vector<OctaveBand> bands;                           // of ChannelFigures::bandSnrDb
  unsigned int periods = 0, offset = 0, periodLength = 0;  // samples
  int expectedRateHz = 16000;
  std::string originName;  // originalImpulseFile, as the list names it
  bool originIsWave = false;
  std::vector<RecordingFigures> recordings;
  std::vector<Finding> findings;
};

struct RecordingsSettings {
  int expectedRateHz = 16000;  // the rate the TF will be made at
  double bandLowHz = 300;      // for the drift estimate
  double bandHighHz = 0;       // 0: 0.8 of the Nyquist frequency; bands outside are not judged
  std::size_t tfNfft = 0;      // > 0: also the SNR at the bins of a TF of this length (ChannelFigures::tfBinSnrDb)
};

// The list's TSP settings a recording is judged by, in samples.
struct TspLayout {
  unsigned int periods = 0, offset = 0, periodLength = 0;
};

// One recording's samples, read in blocks: interleaved frames in
// libsndfile's normalised scale.
struct RecordingSamples {
  int sampleRateHz = 0;
  std::size_t frames = 0, channels = 0;  // frames as the file's header says
  double fullScale = 1.0;                // largest positive sample of the format
  // Fills up to `frames` frames; gives the number filled, 0 at the end.
  std::function<std::size_t(float* interleaved, std::size_t frames)> read;
};

// The figures of one recording after another, with the transforms and
// buffers kept from one to the next.
class RecordingChecker {
public:
  // Throws ToolError naming listPath unless the layout holds at least one
  // period of an even length of at least 16 samples.
  RecordingChecker(const std::string& listPath, const TspLayout& layout, const RecordingsSettings& settings);
  ~RecordingChecker();
  RecordingChecker(const RecordingChecker&) = delete;
  RecordingChecker& operator=(const RecordingChecker&) = delete;
  // Reads the samples once and sets rec's rate, frames, channels,
  // listedChannels, complete, perChannel and medians (name, path, source and
  // direction are the caller's).
  void Check(RecordingSamples& samples, const std::vector<unsigned int>& micIndices, RecordingFigures& rec);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  TspLayout layout_;
  RecordingsSettings settings_;
};

// The findings on one recording (rate, length, channels, clipping, DC
// offset; level and noise against the medians of the recordings it is
// judged among). *drifting: whether its drift smears the averaged periods
// by more than the limit (the clock-drift finding covers all recordings).
std::vector<Finding> RecordingFindings(const RecordingFigures& r, const TspLayout& layout,
                                       const RecordingsSettings& settings, const Thresholds& limits, double medianLevel,
                                       double medianSnr, bool* drifting);

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
