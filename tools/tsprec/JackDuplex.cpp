// JACK back end: one client in the server's graph, one output port and one
// input port per captured channel; the process callback copies between the
// ports and buffers made before the take, so it never allocates or locks.
#include <jack/jack.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "Duplex.h"

namespace vesktools {
namespace {

struct ClientCloser {
  void operator()(jack_client_t* c) const { jack_client_close(c); }
};
using Client = std::unique_ptr<jack_client_t, ClientCloser>;
struct PortNames {
  const char** names = nullptr;
  ~PortNames() {
    if (names) jack_free(names);
  }
  std::size_t Count() const {
    std::size_t n = 0;
    while (names && names[n]) ++n;
    return n;
  }
};

void Silent(const char*) {}

Client OpenClient(const std::string& server) {
  jack_set_error_function(Silent);
  jack_set_info_function(Silent);
  jack_status_t status{};
  const int options = JackNoStartServer | (server.empty() ? 0 : JackServerName);
  jack_client_t* c = server.empty()
                         ? jack_client_open("tsprec", static_cast<jack_options_t>(options), &status)
                         : jack_client_open("tsprec", static_cast<jack_options_t>(options), &status, server.c_str());
  if (!c)
    throw ToolError("JACK server '" + (server.empty() ? std::string("default") : server) +
                    "': cannot connect (is jackd running under that name?)");
  return Client(c);
}

struct Shared {
  const float* playback = nullptr;
  std::size_t playbackFrames = 0;
  float* capture = nullptr;
  std::size_t captureFrames = 0;
  unsigned int inputs = 0;
  jack_port_t* out = nullptr;
  std::vector<jack_port_t*> in;
  std::vector<const float*> inBuffers;  // this cycle's, sized with `in` (no allocation in the callback)
  std::atomic<bool> go{false}, shutdown{false};
  std::atomic<std::size_t> frame{0};
  std::atomic<int> xruns{0};
};

int Process(jack_nframes_t n, void* arg) {
  Shared& s = *static_cast<Shared*>(arg);
  auto* out = static_cast<float*>(jack_port_get_buffer(s.out, n));
  if (!s.go.load(std::memory_order_acquire)) {
    std::fill(out, out + n, 0.0f);
    return 0;
  }
  const std::size_t at = s.frame.load(std::memory_order_relaxed);
  // Inputs first: a port connected straight to our output still holds the
  // last cycle's output.
  const std::size_t take = at < s.captureFrames ? std::min<std::size_t>(n, s.captureFrames - at) : 0;
  for (unsigned int ch = 0; ch < s.inputs; ++ch)
    s.inBuffers[ch] = static_cast<const float*>(jack_port_get_buffer(s.in[ch], n));
  // Frame by frame, so that the interleaved capture is written in order.
  float* to = s.capture + at * s.inputs;
  for (std::size_t f = 0; f < take; ++f)
    for (unsigned int ch = 0; ch < s.inputs; ++ch) *to++ = s.inBuffers[ch][f];
  for (std::size_t f = 0; f < n; ++f) out[f] = at + f < s.playbackFrames ? s.playback[at + f] : 0.0f;
  s.frame.store(at + n, std::memory_order_release);
  return 0;
}

int Xrun(void* arg) {
  Shared& s = *static_cast<Shared*>(arg);
  // Graph changes of the take's own set-up are not the take's xruns.
  if (s.frame.load() > 0) s.xruns.fetch_add(1);
  return 0;
}

void Shutdown(void* arg) { static_cast<Shared*>(arg)->shutdown.store(true); }

class JackDuplex : public Duplex {
public:
  void Check(const DuplexSettings& s) override {
    Client c = OpenClient(s.device);
    const int rate = static_cast<int>(jack_get_sample_rate(c.get()));
    if (rate != s.rateHz)
      throw ToolError("JACK server runs at " + std::to_string(rate) + " Hz, expected " + std::to_string(s.rateHz) +
                      " Hz (the playback's rate)");
    PortNames capture, play;
    capture.names = jack_get_ports(c.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    play.names = jack_get_ports(c.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    std::size_t needed = 0;  // physical captures the take connects
    for (unsigned int ch = 0; ch < s.inputChannels; ++ch)
      if (std::none_of(s.jackConnect.begin(), s.jackConnect.end(), [ch](const auto& p) { return p.first == ch; }))
        needed = ch + 1;
    if (capture.Count() < needed)
      throw ToolError("JACK server: expected " + std::to_string(needed) + " capture ports, found " +
                      std::to_string(capture.Count()));
    if (play.Count() < s.outputChannel + 1)
      throw ToolError("JACK server: expected " + std::to_string(s.outputChannel + 1) + " playback ports, found " +
                      std::to_string(play.Count()));
  }

  TakeResult Run(const DuplexSettings& s, const std::vector<float>& playback, std::size_t captureFrames,
                 std::vector<float>& capture) override {
    TakeResult result;
    // Declared before the client, so the client is closed (and its
    // callbacks stopped) before what they use goes away, also on an error.
    Shared shared;
    Client c = OpenClient(s.device);
    if (s.periodFrames && jack_get_buffer_size(c.get()) != s.periodFrames &&
        jack_set_buffer_size(c.get(), s.periodFrames) != 0)
      throw ToolError("JACK server: cannot set the period to " + std::to_string(s.periodFrames) + " frames");
    capture.assign(captureFrames * s.inputChannels, 0.0f);
    shared.playback = playback.data();
    shared.playbackFrames = playback.size();
    shared.capture = capture.data();
    shared.captureFrames = captureFrames;
    shared.inputs = s.inputChannels;
    shared.out = jack_port_register(c.get(), "playback", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    for (unsigned int ch = 0; ch < s.inputChannels; ++ch)
      shared.in.push_back(jack_port_register(c.get(), ("capture_" + std::to_string(ch)).c_str(),
                                             JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    if (!shared.out || std::find(shared.in.begin(), shared.in.end(), nullptr) != shared.in.end())
      throw ToolError("JACK server: cannot register the ports");
    shared.inBuffers.assign(shared.in.size(), nullptr);
    jack_set_process_callback(c.get(), Process, &shared);
    jack_set_xrun_callback(c.get(), Xrun, &shared);
    jack_on_shutdown(c.get(), Shutdown, &shared);
    if (jack_activate(c.get()) != 0) throw ToolError("JACK server: cannot activate the client");
    PortNames physIn, physOut;
    physIn.names = jack_get_ports(c.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    physOut.names = jack_get_ports(c.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    const std::string self = jack_get_client_name(c.get());
    auto connect = [&](const std::string& from, const std::string& to) {
      if (jack_connect(c.get(), from.c_str(), to.c_str()) != 0)
        throw ToolError("JACK server: cannot connect " + from + " to " + to);
    };
    if (physOut.Count() > s.outputChannel) connect(self + ":playback", physOut.names[s.outputChannel]);
    for (unsigned int ch = 0; ch < s.inputChannels; ++ch) {
      const auto it =
          std::find_if(s.jackConnect.begin(), s.jackConnect.end(), [ch](const auto& p) { return p.first == ch; });
      const std::string to = self + ":capture_" + std::to_string(ch);
      if (it != s.jackConnect.end())
        connect(it->second == "playback" ? self + ":playback" : it->second, to);
      else if (ch < physIn.Count())
        connect(physIn.names[ch], to);
    }
    jack_latency_range_t range{};
    jack_port_get_latency_range(shared.out, JackPlaybackLatency, &range);
    result.reportedLatencyFrames = range.max;
    jack_port_get_latency_range(shared.in[0], JackCaptureLatency, &range);
    result.reportedLatencyFrames += range.max;
    result.periodFrames = result.bufferFrames = jack_get_buffer_size(c.get());
    shared.go.store(true, std::memory_order_release);
    const double seconds = double(captureFrames + 4 * result.periodFrames) / s.rateHz;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * 4 + 10);
    while (shared.frame.load(std::memory_order_acquire) < captureFrames) {
      if (shared.shutdown.load()) throw ToolError("JACK server shut down during the take");
      if (std::chrono::steady_clock::now() > deadline) throw ToolError("JACK server stopped calling tsprec");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    jack_deactivate(c.get());
    if (shared.xruns.load()) {
      result.xrun = true;
      result.xrunWhat = std::to_string(shared.xruns.load()) + " xrun(s) in the JACK graph";
    }
    return result;
  }
};

}  // namespace

std::unique_ptr<Duplex> MakeJackDuplex() { return std::make_unique<JackDuplex>(); }

void ListJackDevices(std::ostream& out, const std::string& server) {
  out << "JACK (" << (server.empty() ? std::string("default server") : "server " + server) << "):\n";
  try {
    Client c = OpenClient(server);
    PortNames capture, play;
    capture.names = jack_get_ports(c.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    play.names = jack_get_ports(c.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    out << "  capture " << capture.Count() << " ch, playback " << play.Count() << " ch, "
        << jack_get_sample_rate(c.get()) << " Hz, period " << jack_get_buffer_size(c.get()) << "\n";
  } catch (const ToolError&) {
    out << "  (no server running)\n";
  }
}

}  // namespace vesktools
