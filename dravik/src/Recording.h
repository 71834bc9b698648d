// Block reading of a multichannel recording through libsndfile.
#ifndef DRAVIK_RECORDING_H
#define DRAVIK_RECORDING_H

#include <sndfile.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/SoundFileHandle.h"

namespace dravik {

using SndfileHandle = vesk::SoundFileHandle;

// Receives consecutive blocks of interleaved frames (samples in libsndfile's
// double scale, integer full scale = 1.0): `frames` frames of `channels`
// samples each, the first being frame `first_frame` of the file.
using BlockConsumer = std::function<void(const double* interleaved, long long first_frame, int frames)>;
// The same for the raw samples of a 16-bit PCM recording (full scale 32768).
using Pcm16BlockConsumer = std::function<void(const short* interleaved, long long first_frame, int frames)>;

class Recording {
public:
  // Opens `path` for reading, format detected by libsndfile. Returns
  // false (no message) when it cannot be opened or holds no channel.
  bool open(const std::string& path);

  int channels() const { return channels_; }
  // Frame count as the header announces it, at most INT_MAX.
  int frames() const { return frames_; }
  int sample_rate() const { return sample_rate_; }

  // Reads frames [start, start + count) block by block and hands them to
  // `consume`. Reading stops at the first frame that the file does not
  // deliver although its header announces it (callers count such frames
  // as 0); that frame is reported once per recording with
  // "cannot read frame=%d\n". Returns the number of frames delivered.
  long long read(long long start, long long count, const BlockConsumer& consume);

  // Whether the samples are 16-bit PCM, so that read_pcm16 gives them
  // exactly (the double scale of read is these values times 2^-15).
  bool is_pcm16() const { return pcm16_; }
  // As read, with the raw 16-bit samples; only for a 16-bit PCM recording.
  // Reading shorts skips libsndfile's conversion to double, the costliest
  // step of reading such a recording.
  long long read_pcm16(long long start, long long count, const Pcm16BlockConsumer& consume);

private:
  void report_missing(long long frame);
  template <typename Sample, typename Reader, typename Consumer>
  long long read_blocks(long long start, long long count, std::vector<Sample>& block, Reader reader,
                        const Consumer& consume);

  SndfileHandle file_;
  int channels_ = 0;
  int frames_ = 0;
  int sample_rate_ = 0;
  bool missing_reported_ = false;
  bool pcm16_ = false;
  std::vector<double> block_;
  std::vector<short> pcm16_block_;
};

}  // namespace dravik

#endif
