// Signals with known answers for the impulse calculator's tests: a
// flat-spectrum TSP, recordings of it through known responses, and the file
// formats the program reads and writes.
#ifndef DRAVIK_TEST_SIGNALS_H
#define DRAVIK_TEST_SIGNALS_H

#include <sndfile.h>

#include <string>
#include <vector>

#include "ScratchDir.h"

namespace dravik_test {

// One period of a time-stretched pulse of n samples (n even): unit
// magnitude at every bin, quadratic phase, peak magnitude scaled to `peak`.
// Values are rounded to float, as a raw float origin holds them.
std::vector<double> make_tsp(int n, double peak);

// Circular convolution of one period with a short response.
std::vector<double> circular_convolve(const std::vector<double>& period, const std::vector<double>& response);

// A recording of `channels` channels: `lead_in` frames of silence, then
// `periods` back-to-back copies of period_of_channel[c] on channel c, then
// `tail` frames of silence. Interleaved, frames = lead_in + periods·N + tail.
std::vector<double> make_recording(const std::vector<std::vector<double>>& period_of_channel, int lead_in, int periods,
                                   int tail);

// Writes interleaved frames as a wave file of the given libsndfile format.
void write_wave(const std::string& path, const std::vector<double>& interleaved, int channels,
                int format = SF_FORMAT_WAV | SF_FORMAT_DOUBLE, int rate = 16000);

void write_raw_float(const std::string& path, const std::vector<double>& samples);
std::vector<float> read_flt(const std::string& path);
std::string read_text(const std::string& path);
bool file_exists(const std::string& path);

// The shared scratch directory of one test, under the names these tests use.
class TempDir : public vesk_test::ScratchDir {
public:
  std::string path(const std::string& name) const { return *this / name; }
  const std::string& dir() const { return Path(); }
};

struct RunResult {
  int status;  // exit status, or minus the signal number
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `work_dir` (the current one when empty),
// capturing both output streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& work_dir = "");

// The built program under test, from the environment of the test run.
std::string dravik_program();

}  // namespace dravik_test

#endif
