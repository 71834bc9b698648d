// Full-duplex playback and capture on one clock: one take at a time, the
// device opened for each take and closed after it.
#ifndef VESK_TSPREC_DUPLEX_H
#define VESK_TSPREC_DUPLEX_H

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ToolError.h"

namespace vesktools {

struct DuplexSettings {
  std::string device;              // ALSA PCM name, or JACK server name ("" = default)
  int rateHz = 0;                  // the playback's
  unsigned int inputChannels = 0;  // device inputs 0 .. inputChannels-1 are captured
  unsigned int outputChannel = 0;  // the playback goes out here; the other outputs play silence
  unsigned int periodFrames = 0;   // 0: the back end's choice
  unsigned int bufferFrames = 0;   // 0: the back end's choice
  // JACK: capture input -> port to connect it to instead of the physical
  // capture port of that number ("playback" names tsprec's own output).
  std::vector<std::pair<unsigned int, std::string>> jackConnect;
};

struct TakeResult {
  bool xrun = false;               // the take is to be discarded
  std::string xrunWhat;            // what happened, for the report
  long reportedLatencyFrames = 0;  // first captured frame to the first played sample, as the back end knows it
  bool oneClock = true;            // ALSA: streams linked (started together)
  unsigned int periodFrames = 0, bufferFrames = 0;  // as granted
};

class Duplex {
public:
  virtual ~Duplex() = default;
  // Opens the device with the settings and closes it again: throws ToolError
  // (naming the device, the count or rate it cannot give) before anything plays.
  virtual void Check(const DuplexSettings& settings) = 0;
  // Plays `playback` (mono, then silence) on the output channel while
  // capturing `captureFrames` frames of all inputs into `capture`
  // (interleaved, [frame][input], full scale 1.0; resized here).
  // Device errors throw ToolError; an xrun is reported in the result.
  virtual TakeResult Run(const DuplexSettings& settings, const std::vector<float>& playback, std::size_t captureFrames,
                         std::vector<float>& capture) = 0;
};

std::unique_ptr<Duplex> MakeAlsaDuplex();
std::unique_ptr<Duplex> MakeJackDuplex();

// The devices each back end offers, with channel counts and rates.
void ListAlsaDevices(std::ostream& out);
void ListJackDevices(std::ostream& out, const std::string& server);  // "" = default

}  // namespace vesktools

#endif
