// tspgen: writes the TSP origin that the impulse calculator divides by, and
// the playback wave that repeats it.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>

#include <boost/program_options.hpp>

#include "base/ShellCommand.h"
#include "base/SignalCleanup.h"

#include "FloatFile.h"
#include "ParametersToTsp.h"
#include "SoundFile.h"
#include "ToolError.h"
#include "dravik/Invocation.h"
#include "ToolMain.h"

namespace po = boost::program_options;
using namespace vesktools;

namespace {

int Run(int argc, char** argv) {
  // Signed, so that a negative value is refused instead of wrapping.
  long long length = 0, effective = 0, periods = 0, offset = 0, samplingFreq = 0;
  double peak = 0;
  std::string origin, originWav, playback;
  po::options_description opts("tspgen options");
  opts.add_options()("help,h", "show this text")("tsp-length",
                                                 po::value(&length)->default_value(dravik::kDefaultSamplesPerFrame),
                                                 "samples per TSP period N (power of two)")(
      "effective-length", po::value(&effective), "samples the sweep lasts (even; default N/2)")(
      "peak", po::value(&peak)->default_value(32767.0), "largest |sample| of the origin (16-bit units)")(
      "sampling-freq", po::value(&samplingFreq)->default_value(16000), "sampling rate of the waves, Hz")(
      "synchronous-average", po::value(&periods)->default_value(16), "periods the impulse calculator averages")(
      "tsp-offset", po::value(&offset)->default_value(16384), "samples before the averaged periods")(
      "origin", po::value(&origin), "raw little-endian float32 origin (default <N>.little_endian.tsp)")(
      "origin-wav", po::value(&originWav), "also write the origin as a 16-bit PCM wave")(
      "playback", po::value(&playback)->default_value("playback.wav"), "16-bit PCM playback wave");
  po::variables_map vm;
  po::store(po::parse_command_line(argc, argv, opts), vm);
  po::notify(vm);
  if (vm.count("help")) {
    std::cout << "Usage: tspgen [options]\n" << opts << "\n";
    return 0;
  }

  // Every value is checked before anything is written.
  constexpr long long kMaxLength = 1ll << 24, kMaxCount = 1ll << 32;  // samples; periods, offset
  if (length < 4 || length > kMaxLength || (length & (length - 1)) != 0)
    throw ToolError("--tsp-length must be a power of two from 4 to " + std::to_string(kMaxLength) + ", found " +
                    std::to_string(length));
  if (vm.count("effective-length") && (effective < 2 || effective > length))
    throw ToolError("--effective-length must lie from 2 to --tsp-length, found " + std::to_string(effective));
  if (periods < 1 || periods > kMaxCount)
    throw ToolError("--synchronous-average must be at least 1 and at most " + std::to_string(kMaxCount) + ", found " +
                    std::to_string(periods));
  if (offset < 0 || offset > kMaxCount)
    throw ToolError("--tsp-offset must lie from 0 to " + std::to_string(kMaxCount) + ", found " +
                    std::to_string(offset));
  if (samplingFreq < 1 || samplingFreq > 2147483647)
    throw ToolError("--sampling-freq must be at least 1 and at most 2147483647, found " + std::to_string(samplingFreq));
  if (!std::isfinite(peak)) throw ToolError("--peak must be a number, found " + std::to_string(peak));
  const std::size_t numPeriods = PlaybackPeriods(static_cast<std::size_t>(length), static_cast<std::size_t>(offset),
                                                 static_cast<std::size_t>(periods));
  // A 16-bit mono WAV holds at most (2^32 - 37) / 2 samples.
  if (numPeriods > (0xFFFFFFFFull - 36) / 2 / static_cast<unsigned long long>(length))
    throw ToolError("--tsp-offset and --synchronous-average: a playback of " + std::to_string(numPeriods) +
                    " periods of " + std::to_string(length) + " samples exceeds the 4 GiB a WAV file can hold");

  TspParameters params;
  params.length_samples = static_cast<std::size_t>(length);
  params.effective_length_samples = static_cast<std::size_t>(vm.count("effective-length") ? effective : length / 2);
  params.peak = peak;
  if (origin.empty()) origin = std::to_string(length) + ".little_endian.tsp";

  const std::vector<float> tsp = MakeTsp(params);
  WriteFloat32LE(origin, tsp);
  std::cout << "origin:   " << origin << " (" << length << " float32 samples, peak " << peak << ")\n";
  if (!originWav.empty()) {
    WritePcm16(originWav, static_cast<int>(samplingFreq), TspToPlayback(tsp, 1));
    std::cout << "origin:   " << originWav << " (16-bit PCM)\n";
  }
  WritePcm16(playback, static_cast<int>(samplingFreq), TspToPlayback(tsp, numPeriods));
  std::cout << "playback: " << playback << " (" << numPeriods << " periods, " << numPeriods * length << " samples at "
            << samplingFreq << " Hz)\n";
  // The list must name this origin and these settings; the template's own
  // default origin name is a placeholder.
  std::cout << "TSP list: trelvix -m template -t tsp --original-impulse-file " << vesk::ShellWord(origin)
            << " --tsp-length " << length << " --synchronous-average " << periods << " --tsp-offset " << offset
            << " ...\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return vesktools::ToolMain("tspgen", Run, argc, argv, "out of memory while making the TSP signals");
}
