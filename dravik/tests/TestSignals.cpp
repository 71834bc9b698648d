#include "TestSignals.h"

#include "RunProcess.h"
#include "WaveFile.h"

#include <unistd.h>

#include "base/RealFft.h"
#include "base/SoundFileHandle.h"
#include "veskio2/FltFile.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace dravik_test {

std::vector<double> make_tsp(int n, double peak) {
  // Half spectrum of a TSP: exp(-i·4π·m·k²/n²) with m = n/4 stretches the
  // pulse over half the period; unit magnitude everywhere, bin n/2 real.
  const double pi = 3.14159265358979323846;
  const double m = n / 4.0;
  vesk::RealFft<double> fft(static_cast<std::size_t>(n));
  std::complex<double>* spectrum = fft.Spectrum();
  for (int k = 0; k <= n / 2; ++k) {
    double phase = -4.0 * pi * m * k * static_cast<double>(k) / (static_cast<double>(n) * n);
    spectrum[k] = std::complex<double>(std::cos(phase), k == n / 2 ? 0.0 : std::sin(phase));
  }
  fft.Inverse();
  const double* signal = fft.Time();
  std::vector<double> tsp(signal, signal + n);
  // Rotate so the sweep starts near sample 0 rather than straddling the
  // period boundary.
  std::vector<double> rotated(n);
  for (int i = 0; i < n; ++i) rotated[i] = tsp[(i + n / 4) % n];
  double largest = 0.0;
  for (double v : rotated) largest = std::max(largest, std::fabs(v));
  for (double& v : rotated) v = static_cast<float>(v * peak / largest);
  return rotated;
}

std::vector<double> circular_convolve(const std::vector<double>& period, const std::vector<double>& response) {
  const std::size_t n = period.size();
  std::vector<double> out(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < response.size(); ++j) {
      out[i] += response[j] * period[(i + n - j % n) % n];
    }
  }
  return out;
}

std::vector<double> make_recording(const std::vector<std::vector<double>>& period_of_channel, int lead_in, int periods,
                                   int tail) {
  const int channels = static_cast<int>(period_of_channel.size());
  const int n = static_cast<int>(period_of_channel.at(0).size());
  const long frames = lead_in + static_cast<long>(periods) * n + tail;
  std::vector<double> out(static_cast<std::size_t>(frames) * channels, 0.0);
  for (int c = 0; c < channels; ++c) {
    for (long t = 0; t < static_cast<long>(periods) * n; ++t) {
      out[static_cast<std::size_t>(lead_in + t) * channels + c] = period_of_channel[c][t % n];
    }
  }
  return out;
}

void write_wave(const std::string& path, const std::vector<double>& interleaved, int channels, int format, int rate) {
  vesk_test::WriteWaveFile(path, interleaved, channels, rate, format);
}

void write_raw_float(const std::string& path, const std::vector<double>& samples) {
  const std::vector<float> values(samples.begin(), samples.end());
  std::ofstream out(path, std::ios::binary);
  veskio2::flt::Write(out, values.data(), values.size());
  if (!out) throw std::runtime_error("cannot write test float file " + path);
}

std::vector<float> read_flt(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return veskio2::flt::Read(in);
}

std::string read_text(const std::string& path) { return vesk_test::ReadWholeFile(path); }

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& work_dir) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  vesk_test::ProcessOptions options;
  options.workDir = work_dir;
  const vesk_test::ProcessResult run = vesk_test::RunProcess(argv, options);
  return RunResult{run.signal ? -run.signal : run.status, run.out, run.err};
}

std::string dravik_program() {
  const char* path = std::getenv("DRAVIK_BIN");
  if (!path || !*path) throw std::runtime_error("DRAVIK_BIN is not set");
  return path;
}

}  // namespace dravik_test
