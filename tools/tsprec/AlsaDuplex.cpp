// ALSA back end: one PCM name opened for playback and for capture, the two
// streams linked so that they start on one trigger where the device allows.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "Duplex.h"
#include "TakeToWave.h"

namespace vesktools {
namespace {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;
struct CtlCloser {
  void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};
using Ctl = std::unique_ptr<snd_ctl_t, CtlCloser>;
struct HwParamsFree {
  void operator()(snd_pcm_hw_params_t* p) const { snd_pcm_hw_params_free(p); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree>;

HwParams NewHwParams() {
  snd_pcm_hw_params_t* p = nullptr;
  if (snd_pcm_hw_params_malloc(&p) < 0) throw ToolError("out of memory while setting up the sound device");
  return HwParams(p);
}

std::string Fail(const std::string& device, const std::string& what, int err) {
  return "sound device '" + device + "': " + what + ": " + snd_strerror(err);
}

Pcm OpenPcm(const std::string& device, snd_pcm_stream_t stream) {
  snd_pcm_t* pcm = nullptr;
  const int err = snd_pcm_open(&pcm, device.c_str(), stream, 0);
  if (err < 0)
    throw ToolError(
        Fail(device, stream == SND_PCM_STREAM_CAPTURE ? "cannot open for capture" : "cannot open for playback", err));
  return Pcm(pcm);
}

// Sets interleaved 16-bit access, the channel count, the exact rate and the
// period and buffer sizes near the ones asked for.
void SetUp(snd_pcm_t* pcm, const std::string& device, const char* role, unsigned int channels, int rateHz,
           unsigned int periodFrames, unsigned int bufferFrames, snd_pcm_uframes_t* period, snd_pcm_uframes_t* buffer) {
  HwParams hw = NewHwParams();
  int err = snd_pcm_hw_params_any(pcm, hw.get());
  if (err < 0) throw ToolError(Fail(device, std::string("no ") + role + " configuration", err));
  snd_pcm_hw_params_set_rate_resample(pcm, hw.get(), 0);
  if ((err = snd_pcm_hw_params_set_access(pcm, hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
    throw ToolError(Fail(device, std::string("no interleaved ") + role, err));
  if ((err = snd_pcm_hw_params_set_format(pcm, hw.get(), SND_PCM_FORMAT_S16_LE)) < 0)
    throw ToolError(Fail(device, std::string("no 16-bit ") + role, err));
  if (snd_pcm_hw_params_test_channels(pcm, hw.get(), channels) < 0) {
    unsigned int lo = 0, hi = 0;
    snd_pcm_hw_params_get_channels_min(hw.get(), &lo);
    snd_pcm_hw_params_get_channels_max(hw.get(), &hi);
    throw ToolError("sound device '" + device + "': expected " + std::to_string(channels) + " " + role +
                    " channels, found " + std::to_string(lo) + (hi != lo ? " to " + std::to_string(hi) : ""));
  }
  snd_pcm_hw_params_set_channels(pcm, hw.get(), channels);
  if (snd_pcm_hw_params_test_rate(pcm, hw.get(), static_cast<unsigned int>(rateHz), 0) < 0) {
    unsigned int lo = 0, hi = 0;
    snd_pcm_hw_params_get_rate_min(hw.get(), &lo, nullptr);
    snd_pcm_hw_params_get_rate_max(hw.get(), &hi, nullptr);
    throw ToolError("sound device '" + device + "': expected " + role + " at " + std::to_string(rateHz) +
                    " Hz (the playback's rate), found " + std::to_string(lo) +
                    (hi != lo ? " to " + std::to_string(hi) : "") + " Hz");
  }
  snd_pcm_hw_params_set_rate(pcm, hw.get(), static_cast<unsigned int>(rateHz), 0);
  snd_pcm_uframes_t p = periodFrames ? periodFrames : 512, b = bufferFrames ? bufferFrames : 4 * p;
  int dir = 0;
  snd_pcm_hw_params_set_period_size_near(pcm, hw.get(), &p, &dir);
  snd_pcm_hw_params_set_buffer_size_near(pcm, hw.get(), &b);
  if ((err = snd_pcm_hw_params(pcm, hw.get())) < 0)
    throw ToolError(Fail(device, std::string("cannot set up ") + role, err));
  snd_pcm_hw_params_current(pcm, hw.get());
  snd_pcm_hw_params_get_period_size(hw.get(), period, &dir);
  snd_pcm_hw_params_get_buffer_size(hw.get(), buffer);
}

class AlsaDuplex : public Duplex {
public:
  void Check(const DuplexSettings& s) override {
    snd_pcm_uframes_t period = 0, buffer = 0;
    Pcm capture = OpenPcm(s.device, SND_PCM_STREAM_CAPTURE);
    SetUp(capture.get(), s.device, "capture", s.inputChannels, s.rateHz, s.periodFrames, s.bufferFrames, &period,
          &buffer);
    capture.reset();
    Pcm play = OpenPcm(s.device, SND_PCM_STREAM_PLAYBACK);
    SetUp(play.get(), s.device, "playback", s.outputChannel + 1, s.rateHz, s.periodFrames, s.bufferFrames, &period,
          &buffer);
  }

  TakeResult Run(const DuplexSettings& s, const std::vector<float>& playback, std::size_t captureFrames,
                 std::vector<float>& capture) override {
    TakeResult result;
    // Capture first: a file plugin reads its input when it opens.
    Pcm cap = OpenPcm(s.device, SND_PCM_STREAM_CAPTURE);
    Pcm play = OpenPcm(s.device, SND_PCM_STREAM_PLAYBACK);
    snd_pcm_uframes_t period = 0, buffer = 0, capPeriod = 0, capBuffer = 0;
    const unsigned int outChannels = s.outputChannel + 1, inChannels = s.inputChannels;
    SetUp(play.get(), s.device, "playback", outChannels, s.rateHz, s.periodFrames, s.bufferFrames, &period, &buffer);
    SetUp(cap.get(), s.device, "capture", inChannels, s.rateHz, s.periodFrames, s.bufferFrames, &capPeriod, &capBuffer);
    result.periodFrames = static_cast<unsigned int>(period);
    result.bufferFrames = static_cast<unsigned int>(buffer);
    // Playback starts when its buffer is full; linked, capture starts with it.
    {
      snd_pcm_sw_params_t* sw = nullptr;
      snd_pcm_sw_params_alloca(&sw);
      snd_pcm_sw_params_current(play.get(), sw);
      snd_pcm_sw_params_set_start_threshold(play.get(), sw, buffer);
      snd_pcm_sw_params(play.get(), sw);
    }
    int err = snd_pcm_prepare(play.get());
    if (err >= 0) err = snd_pcm_prepare(cap.get());
    if (err < 0) throw ToolError(Fail(s.device, "cannot prepare", err));
    result.oneClock = snd_pcm_link(cap.get(), play.get()) == 0;

    capture.assign(captureFrames * inChannels, 0.0f);
    std::vector<int16_t> out(period * outChannels, 0), in(capPeriod * inChannels, 0);
    std::size_t played = 0, captured = 0;
    auto xrun = [&](const char* what, snd_pcm_sframes_t e) {
      result.xrun = true;
      result.xrunWhat = std::string(what) + ": " + snd_strerror(static_cast<int>(e));
      return result;
    };
    auto writePeriod = [&]() -> snd_pcm_sframes_t {
      std::fill(out.begin(), out.end(), 0);
      for (std::size_t f = 0; f < period && played + f < playback.size(); ++f)
        out[f * outChannels + s.outputChannel] = Pcm16(playback[played + f]);
      const snd_pcm_sframes_t n = snd_pcm_writei(play.get(), out.data(), period);
      if (n > 0) played += static_cast<std::size_t>(n);
      return n;
    };
    // Unlinked, capture runs first, so the playback's first sample always
    // lands in the capture; linked, the last prefill write starts both.
    if (!result.oneClock && (err = snd_pcm_start(cap.get())) < 0)
      throw ToolError(Fail(s.device, "cannot start capture", err));
    for (snd_pcm_uframes_t filled = 0; filled < buffer; filled += period) {
      const snd_pcm_sframes_t n = writePeriod();
      if (n < 0) return xrun("playback", n);
    }
    if (snd_pcm_state(play.get()) != SND_PCM_STATE_RUNNING) snd_pcm_start(play.get());
    // What the back end can tell: linked, the streams started on one
    // trigger (the converters' delay is unknown to it); unlinked, the frames
    // captured before the playback started.
    const snd_pcm_sframes_t before = result.oneClock ? 0 : snd_pcm_avail(cap.get());
    result.reportedLatencyFrames = before > 0 ? before : 0;
    while (captured < captureFrames) {
      const snd_pcm_uframes_t want = std::min<std::size_t>(capPeriod, captureFrames - captured);
      const snd_pcm_sframes_t got = snd_pcm_readi(cap.get(), in.data(), want);
      if (got < 0) return xrun("capture overrun", got);
      for (std::size_t i = 0; i < static_cast<std::size_t>(got) * inChannels; ++i)
        capture[captured * inChannels + i] = in[i] / 32768.0f;
      captured += static_cast<std::size_t>(got);
      if (captured < captureFrames) {
        const snd_pcm_sframes_t n = writePeriod();
        if (n < 0) return xrun("playback underrun", n);
      }
    }
    if (result.oneClock) snd_pcm_unlink(cap.get());
    snd_pcm_drop(play.get());
    snd_pcm_drop(cap.get());
    return result;
  }
};

}  // namespace

std::unique_ptr<Duplex> MakeAlsaDuplex() { return std::make_unique<AlsaDuplex>(); }

void ListAlsaDevices(std::ostream& out) {
  out << "ALSA devices (name: capture channels, playback channels, rates):\n";
  int card = -1;
  bool any = false;
  while (snd_card_next(&card) == 0 && card >= 0) {
    const std::string ctlName = "hw:" + std::to_string(card);
    snd_ctl_t* raw = nullptr;
    if (snd_ctl_open(&raw, ctlName.c_str(), 0) < 0) continue;
    Ctl ctl(raw);
    int dev = -1;
    while (snd_ctl_pcm_next_device(ctl.get(), &dev) == 0 && dev >= 0) {
      const std::string name = "hw:" + std::to_string(card) + "," + std::to_string(dev);
      out << "  " << name << ":";
      for (snd_pcm_stream_t stream : {SND_PCM_STREAM_CAPTURE, SND_PCM_STREAM_PLAYBACK}) {
        snd_pcm_t* pcmRaw = nullptr;
        if (snd_pcm_open(&pcmRaw, name.c_str(), stream, SND_PCM_NONBLOCK) < 0) {
          out << (stream == SND_PCM_STREAM_CAPTURE ? " no capture;" : " no playback");
          continue;
        }
        Pcm pcm(pcmRaw);
        HwParams hw = NewHwParams();
        snd_pcm_hw_params_any(pcm.get(), hw.get());
        unsigned int cLo = 0, cHi = 0, rLo = 0, rHi = 0;
        snd_pcm_hw_params_get_channels_min(hw.get(), &cLo);
        snd_pcm_hw_params_get_channels_max(hw.get(), &cHi);
        snd_pcm_hw_params_get_rate_min(hw.get(), &rLo, nullptr);
        snd_pcm_hw_params_get_rate_max(hw.get(), &rHi, nullptr);
        out << (stream == SND_PCM_STREAM_CAPTURE ? " capture " : " playback ") << cLo;
        if (cHi != cLo) out << "-" << cHi;
        out << " ch, " << rLo << "-" << rHi << " Hz" << (stream == SND_PCM_STREAM_CAPTURE ? ";" : "");
      }
      out << "\n";
      any = true;
    }
  }
  if (!any) out << "  (no sound cards; a PCM named in ~/.asoundrc can still be given to --device)\n";
}

}  // namespace vesktools
