// Counts the xruns of a JACK graph from outside it: a client with no process
// callback and no ports, so that it adds nothing to a cycle; with
// --in-graph, a process callback that does nothing, so that the graph has a
// client to wait for, as with tsprec, but one that takes no time (a
// baseline). Prints one line per xrun (seconds since start, the delay JACK
// reports in microseconds) and the total at SIGINT/SIGTERM.
// Usage: xrun_observer [--in-graph] SERVER
#include <jack/jack.h>
#include <jack/statistics.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

namespace {
std::atomic<bool> stop{false};
std::atomic<int> xruns{0};
jack_client_t* client = nullptr;
const auto start = std::chrono::steady_clock::now();

int OnXrun(void*) {
  const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("xrun at %.3f s, delayed %.0f us\n", at, static_cast<double>(jack_get_xrun_delayed_usecs(client)));
  std::fflush(stdout);
  xruns.fetch_add(1);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const bool inGraph = argc == 3 && std::string(argv[1]) == "--in-graph";
  if (argc != 2 && !inGraph) {
    std::fprintf(stderr, "usage: xrun_observer [--in-graph] SERVER\n");
    return 2;
  }
  const char* server = argv[argc - 1];
  std::signal(SIGINT, [](int) { stop.store(true); });
  std::signal(SIGTERM, [](int) { stop.store(true); });
  jack_status_t status{};
  client = jack_client_open("xrun-observer", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            server);
  if (!client) {
    std::fprintf(stderr, "xrun_observer: cannot connect to JACK server %s\n", server);
    return 1;
  }
  jack_set_xrun_callback(client, OnXrun, nullptr);
  if (inGraph)
    jack_set_process_callback(
        client, [](jack_nframes_t, void*) { return 0; }, nullptr);
  if (jack_activate(client) != 0) return 1;
  while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  jack_deactivate(client);
  jack_client_close(client);
  std::printf("xruns %d\n", xruns.load());
  return 0;
}
