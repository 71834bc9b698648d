// tsprec: plays the TSP playback and records the array for every source of
// a TSP list, on one clock, checking each take before it moves on.
// Exit status 0 every take passed, 3 some kept with failed checks, 1 error.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/pointer_cast.hpp>
#include <boost/program_options.hpp>

#include "CaptureToLatency.h"
#include "Duplex.h"
#include "JsonWriter.h"
#include "RecordingsToCheck.h"
#include "SoundFile.h"
#include "TakeToWave.h"
#include "ToolError.h"
#include "ToolMain.h"
#include "base/Constants.h"
#include "base/OutputTarget.h"
#include "base/ShellCommand.h"
#include "dravik/Invocation.h"
#include "veskio2/VeskConfig.h"
#include "veskio2/RegularFile.h"

namespace po = boost::program_options;
namespace fs = std::filesystem;
namespace vc = veskio2::veskconfig;
using namespace vesktools;

namespace {

constexpr int kPassed = 0, kFailedKept = 3;  // an error is ToolMain's 1
constexpr unsigned int kMaxMicIndex = 63;    // dravik selects channels 0-63
constexpr double kSilentDbfs = -80;          // peak of a microphone that hears nothing

struct Take {
  std::size_t source = 0;  // position in the list
  std::string name;
  std::vector<unsigned int> micIndices;
  double azimuthDeg = 0, elevationDeg = 0, heightM = 0, radiusM = 0;
  unsigned int channels = 0;  // highest micIndex + 1
};

struct Plan {
  TspLayout layout;
  std::vector<Take> takes;
  std::size_t numSources = 0;
};

Plan ReadPlan(const std::string& listPath) {
  Plan plan;
  std::vector<vc::Source2> sources;
  try {
    auto list = boost::dynamic_pointer_cast<vc::TSPListFile2_0>(vc::VeskConfigFileXMLReader(listPath).Read());
    if (!list) throw ToolError(listPath + ": expected a TSPListFile 2.0");
    plan.layout.periods = list->GetSynchronousAverage();
    plan.layout.offset = list->GetTspOffset();
    plan.layout.periodLength = list->HasTspLength() ? list->GetTspLength() : dravik::kDefaultSamplesPerFrame;
    sources = list->GetSources();
    plan.numSources = sources.size();
    std::set<std::string> names;
    for (std::size_t s = 0; s < sources.size(); ++s) {
      const vc::Source2& src = sources[s];
      if (!src.HasPosition() || !src.HasFiles())
        throw ToolError(listPath + ": source " + std::to_string(s) + " has no position or no files");
      const auto& pos = src.GetPosition();
      const auto cart = pos.ToCartesian();
      for (const vc::File1& file : src.GetFiles()) {
        Take t;
        t.source = s;
        t.name = file.GetName().raw();
        t.micIndices = file.GetMicIndices();
        if (t.micIndices.empty())
          throw ToolError(listPath + ": source " + std::to_string(s) + ", file " + t.name + ": no micIndices");
        for (unsigned int m : t.micIndices) {
          if (m > kMaxMicIndex)
            throw ToolError(listPath + ": source " + std::to_string(s) + ", file " + t.name + ": micIndex " +
                            std::to_string(m) + " lies beyond channel " + std::to_string(kMaxMicIndex) +
                            ", the last dravik reads");
          t.channels = std::max(t.channels, m + 1);
        }
        if (!names.insert(t.name).second)
          throw ToolError(listPath + ": the recording " + t.name + " is named twice; each take needs its own file");
        t.azimuthDeg = std::fmod(std::atan2(cart.y, cart.x) * 180.0 / vesk::kPi + 360.0, 360.0);
        t.elevationDeg = std::atan2(cart.z, std::hypot(cart.x, cart.y)) * 180.0 / vesk::kPi;
        t.heightM = cart.z;
        t.radiusM = std::sqrt(cart.x * cart.x + cart.y * cart.y + cart.z * cart.z);
        if (!std::isfinite(t.radiusM))
          throw ToolError(listPath + ": source " + std::to_string(s) + " has a non-finite position");
        plan.takes.push_back(std::move(t));
      }
    }
  } catch (const veskio2::NotInitialized& e) {
    throw ToolError(listPath + ": " + e.what());
  } catch (const veskio2::AnalyzeError& e) {
    throw ToolError(e.what());
  }
  return plan;
}

// A number as a person would type it: no trailing zeros.
std::string Plain(double v) {
  if (std::fabs(v) < 5e-4) v = 0;
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(3);  // a millimetre, a thousandth of a degree
  out << v;
  std::string s = out.str();
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string Expand(std::string command, const Take& take, std::size_t number) {
  const std::pair<const char*, std::string> fields[] = {{"{AZIMUTH}", Plain(take.azimuthDeg)},
                                                        {"{ELEVATION}", Plain(take.elevationDeg)},
                                                        {"{HEIGHT}", Plain(take.heightM)},
                                                        {"{RADIUS}", Plain(take.radiusM)},
                                                        {"{INDEX}", std::to_string(number)}};
  for (const auto& [key, value] : fields)
    for (std::size_t at; (at = command.find(key)) != std::string::npos;)
      command.replace(at, std::string(key).size(), value);
  return command;
}

std::vector<unsigned int> ParseList(const std::string& text, const char* option) {
  std::vector<unsigned int> out;
  std::istringstream in(text);
  std::string token;
  while (std::getline(in, token, ',')) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(token.c_str(), &end, 10);
    if (token.empty() || *end || errno || token[0] == '-' || v > 1023)
      throw ToolError(std::string(option) + ": expected channel numbers 0-1023 separated by commas, found \"" + text +
                      "\"");
    out.push_back(static_cast<unsigned int>(v));
  }
  if (out.empty()) throw ToolError(std::string(option) + ": expected at least one channel");
  return out;
}

std::string Now() {
  char text[32];
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The earlier session's take lines, kept when resuming.
std::vector<std::string> EarlierTakes(const std::string& logPath) {
  std::vector<std::string> lines;
  std::ifstream in(logPath);
  std::string line;
  bool inTakes = false;
  while (std::getline(in, line)) {
    if (line == "\"takes\": [")
      inTakes = true;
    else if (line == "]}")
      inTakes = false;
    else if (inTakes && !line.empty() && line[0] == '{')
      lines.push_back(line.back() == ',' ? line.substr(0, line.size() - 1) : line);
  }
  return lines;
}

void WriteLog(const std::string& logPath, const std::string& listPath, const std::vector<std::string>& takes) {
  vesk::OutputFile out(logPath);
  veskio2::JsonWriter head;
  head.BeginObject();
  head.Field("list", listPath);
  out.Stream() << head.Text() << ",\n\"takes\": [\n";
  for (std::size_t i = 0; i < takes.size(); ++i) out.Stream() << takes[i] << (i + 1 < takes.size() ? ",\n" : "\n");
  out.Stream() << "]}\n";
  out.Commit();
}

bool AskYes(const std::string& question) {
  std::cout << question << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer))
    throw ToolError("standard input ended while waiting for an answer; use --non-interactive");
  return answer.empty();
}

int Run(int argc, char** argv) {
  std::string listPath, playbackPath, device, backend = "alsa", positionCommand, inputChannelsText, format = "pcm16";
  std::vector<std::string> jackConnectText;
  int outputChannel = 0, loopbackChannel = -1, retries = 2;
  unsigned int period = 0, buffer = 0;
  double tailSeconds = 0.5, maxLatencySeconds = 0.5;
  po::options_description opts("tsprec options");
  opts.add_options()("help,h", "show this text")("list", po::value(&listPath),
                                                 "TSP list: the sources, their recordings' names, the TSP settings")(
      "playback", po::value(&playbackPath), "the playback wave (tspgen --playback); its rate is the session's")(
      "device", po::value(&device),
      "ALSA PCM name (default \"default\") or JACK server name (default: the default server)")(
      "backend", po::value(&backend), "alsa or jack (default alsa)")(
      "list-devices", "show the back ends' devices with their channel counts and rates")(
      "position-command", po::value(&positionCommand),
      "shell command that sets up each position ({AZIMUTH} {ELEVATION} degrees, {HEIGHT} {RADIUS} metres, "
      "{INDEX} the source's number from 1); instead of waiting for Enter")(
      "output-channel", po::value(&outputChannel), "device output the playback goes to (default 0)")(
      "input-channels", po::value(&inputChannelsText),
      "device inputs for recording channels 0, 1, ... (default: the inputs in order, the loopback left out)")(
      "loopback-channel", po::value(&loopbackChannel),
      "device input wired straight to the output: latency of each take")(
      "keep-loopback", "also write the loopback channel, as the last channel of each recording")(
      "format", po::value(&format), "pcm16 (default) or float")(
      "tail", po::value(&tailSeconds), "seconds recorded after the averaged periods (default 0.5)")(
      "max-latency", po::value(&maxLatencySeconds), "seconds of round trip allowed for (default 0.5)")(
      "period", po::value(&period), "back end period, frames")("buffer", po::value(&buffer),
                                                               "back end buffer, frames (ALSA)")(
      "jack-connect", po::value(&jackConnectText),
      "IN=PORT: connect capture input IN to PORT (\"playback\": tsprec's own output)")(
      "non-interactive", "wait for nobody: a failed take is recorded again up to --retries times")(
      "retries", po::value(&retries), "takes recorded again after a failed check, with --non-interactive (default 2)")(
      "resume", "skip the sources whose recordings exist")("overwrite", "record again over existing recordings");
  po::variables_map vm;
  try {
    po::store(po::parse_command_line(argc, argv, opts), vm);
    po::notify(vm);
  } catch (const po::error& e) {
    throw ToolError(e.what());
  }
  if (vm.count("help")) {
    std::cout
        << "Usage: tsprec --list LIST.xml --playback PLAYBACK.wav [--device DEV] [--backend alsa|jack] [options]\n"
        << "       tsprec --list-devices\n"
        << "Exit status: 0 every take passed, 3 some kept with failed checks, 1 error.\n"
        << opts << "\n";
    return kPassed;
  }
  if (backend != "alsa" && backend != "jack")
    throw ToolError("--backend: expected alsa or jack, found \"" + backend + "\"");
  if (vm.count("list-devices")) {
    if (!vm.count("backend") || backend == "alsa") ListAlsaDevices(std::cout);
    if (!vm.count("backend") || backend == "jack") ListJackDevices(std::cout, device);
    return kPassed;
  }
  if (listPath.empty() || playbackPath.empty()) throw ToolError("expected --list and --playback; see --help");
  if (format != "pcm16" && format != "float")
    throw ToolError("--format: expected pcm16 or float, found \"" + format + "\"");
  if (outputChannel < 0 || outputChannel > 1023)
    throw ToolError("--output-channel: expected 0-1023, found " + std::to_string(outputChannel));
  if (loopbackChannel < -1 || loopbackChannel > 1023)
    throw ToolError("--loopback-channel: expected 0-1023, found " + std::to_string(loopbackChannel));
  if (retries < 0 || retries > 100) throw ToolError("--retries: expected 0-100, found " + std::to_string(retries));
  if (!(tailSeconds >= 0 && tailSeconds <= 60)) throw ToolError("--tail: expected 0-60 seconds");
  if (!(maxLatencySeconds > 0 && maxLatencySeconds <= 10))
    throw ToolError("--max-latency: expected above 0 and at most 10 seconds");
  if ((vm.count("period") && (period < 16 || period > 65536)) ||
      (vm.count("buffer") && (buffer < 32 || buffer > 1048576)))
    throw ToolError("--period expects 16-65536 and --buffer 32-1048576 frames");
  if (vm.count("resume") && vm.count("overwrite")) throw ToolError("give either --resume or --overwrite, not both");
  if (vm.count("keep-loopback") && loopbackChannel < 0) throw ToolError("--keep-loopback needs --loopback-channel");
  const bool interactive = !vm.count("non-interactive");

  for (const std::string* input : {&listPath, &playbackPath})
    if (veskio2::ExistsButNotRegular(*input)) throw ToolError(*input + ": " + veskio2::kNotRegularFile);
  const Plan plan = ReadPlan(listPath);
  RecordingsSettings checkSettings;
  const Thresholds limits;

  // The playback: mono, its rate the session's.
  std::vector<float> playback;
  int rateHz = 0;
  {
    SoundReader reader(playbackPath);
    if (reader.Channels() != 1)
      throw ToolError(playbackPath + ": expected a mono playback, found " + std::to_string(reader.Channels()) +
                      " channels");
    rateHz = reader.SampleRateHz();
    if (rateHz < 1000 || rateHz > 768000)
      throw ToolError(playbackPath + ": expected a rate of 1000-768000 Hz, found " + std::to_string(rateHz));
    if (reader.Frames() > std::size_t(rateHz) * 600) throw ToolError(playbackPath + ": longer than ten minutes");
    std::vector<float> block(8192);
    for (std::size_t got; (got = reader.Read(block.data(), block.size())) > 0;) {
      playback.insert(playback.end(), block.begin(), block.begin() + got);
      if (playback.size() > std::size_t(rateHz) * 600) throw ToolError(playbackPath + ": longer than ten minutes");
    }
  }
  checkSettings.expectedRateHz = rateHz;
  const std::size_t recordFrames = std::size_t(plan.layout.offset) +
                                   std::size_t(plan.layout.periods) * plan.layout.periodLength +
                                   static_cast<std::size_t>(std::lround(tailSeconds * rateHz));
  const long maxLatency = std::lround(maxLatencySeconds * rateHz);
  const std::size_t captureFrames = recordFrames + static_cast<std::size_t>(maxLatency);
  if (double(captureFrames) > double(rateHz) * 3600)
    throw ToolError(listPath + ": a take would last " + Plain(double(captureFrames) / rateHz) +
                    " s; expected at most an hour");
  RecordingChecker checker(listPath, plan.layout, checkSettings);

  // Recording channel k comes from device input inputMap[k].
  unsigned int recChannels = 0;
  for (const Take& t : plan.takes) recChannels = std::max(recChannels, t.channels);
  std::vector<unsigned int> inputMap;
  if (!inputChannelsText.empty()) {
    inputMap = ParseList(inputChannelsText, "--input-channels");
    if (inputMap.size() < recChannels)
      throw ToolError("--input-channels: expected " + std::to_string(recChannels) + " inputs (micIndex 0 to " +
                      std::to_string(recChannels - 1) + "), found " + std::to_string(inputMap.size()));
    for (unsigned int in : inputMap)
      if (loopbackChannel >= 0 && in == unsigned(loopbackChannel))
        throw ToolError("--input-channels: input " + std::to_string(in) + " is the loopback channel");
  } else {
    for (unsigned int in = 0; inputMap.size() < recChannels; ++in)
      if (loopbackChannel < 0 || in != unsigned(loopbackChannel)) inputMap.push_back(in);
  }
  inputMap.resize(recChannels);
  DuplexSettings duplex;
  duplex.device = device.empty() && backend == "alsa" ? "default" : device;
  duplex.rateHz = rateHz;
  duplex.outputChannel = static_cast<unsigned int>(outputChannel);
  duplex.periodFrames = period;
  duplex.bufferFrames = buffer;
  for (unsigned int in : inputMap) duplex.inputChannels = std::max(duplex.inputChannels, in + 1);
  if (loopbackChannel >= 0) duplex.inputChannels = std::max(duplex.inputChannels, unsigned(loopbackChannel) + 1);
  for (const std::string& text : jackConnectText) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
      throw ToolError("--jack-connect: expected IN=PORT, found \"" + text + "\"");
    duplex.jackConnect.emplace_back(ParseList(text.substr(0, eq), "--jack-connect")[0], text.substr(eq + 1));
  }

  // Existing recordings: skipped, replaced, or refused before anything plays.
  std::vector<bool> skip(plan.takes.size(), false);
  for (std::size_t i = 0; i < plan.takes.size(); ++i) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(plan.takes[i].name, ec))) continue;
    if (veskio2::ExistsButNotRegular(plan.takes[i].name))
      throw ToolError(plan.takes[i].name + ": " + veskio2::kNotRegularFile);
    if (vm.count("resume"))
      skip[i] = true;
    else if (!vm.count("overwrite"))
      throw ToolError(plan.takes[i].name +
                      " exists; give --resume to go on after it or --overwrite to record it again");
  }

  std::unique_ptr<Duplex> io = backend == "alsa" ? MakeAlsaDuplex() : MakeJackDuplex();
  if (double(captureFrames) * duplex.inputChannels * sizeof(float) > double(uint64_t(4) << 30))
    throw ToolError(listPath + ": a take of " + std::to_string(captureFrames) + " frames of " +
                    std::to_string(duplex.inputChannels) + " inputs would need more than 4 GiB");
  io->Check(duplex);
  LatencyMeter meter(playback, captureFrames, maxLatency, rateHz, plan.layout.periodLength);

  const fs::path list(listPath);
  const std::string logPath = (list.parent_path() / (list.stem().string() + ".tsprec.json")).string();
  std::vector<std::string> logTakes;
  if (vm.count("resume")) logTakes = EarlierTakes(logPath);
  WriteLog(logPath, listPath, logTakes);  // a log that cannot be written stops the session before the first take
  std::vector<double> levels, snrs;       // of the kept takes: what a take is judged against
  bool anyFailed = false;
  std::vector<float> capture, recording;

  for (std::size_t i = 0; i < plan.takes.size(); ++i) {
    if (skip[i]) continue;
    const Take& take = plan.takes[i];
    const std::size_t number = take.source + 1;
    std::cout << "source " << number << " of " << plan.numSources << ": azimuth " << Plain(take.azimuthDeg)
              << "°, elevation " << Plain(take.elevationDeg) << "°, " << Plain(take.radiusM) << " m -> " << take.name
              << "\n"
              << std::flush;
    if (!positionCommand.empty()) {
      const std::string command = Expand(positionCommand, take, number);
      const int status = vesk::RunShellCommand(command);
      if (status != 0)
        throw ToolError("--position-command failed (wait status " + std::to_string(status) + ") for source " +
                        std::to_string(number) + ": " + command);
    } else if (interactive) {
      AskYes("set up the position, then press Enter ");
    }
    const unsigned int writeChannels = take.channels + (vm.count("keep-loopback") ? 1 : 0);
    int attempt = 0;
    std::vector<std::string> attempts;  // what each discarded take had
    for (;; ++attempt) {
      const TakeResult result = io->Run(duplex, playback, captureFrames, capture);
      if (result.xrun) {
        std::cout << "  take discarded: " << result.xrunWhat << "\n" << std::flush;
        attempts.push_back("xrun: " + result.xrunWhat);
        if (attempt < retries) continue;
        std::cout << "  no take without an xrun after " << attempt + 1 << " tries: " << take.name << " not written\n"
                  << std::flush;
        anyFailed = true;
        break;
      }
      Latency latency;
      std::string latencySource = "loopback";
      std::vector<Finding> findings;
      if (loopbackChannel >= 0) {
        latency = meter.Measure(capture, duplex.inputChannels, unsigned(loopbackChannel), maxLatency);
        if (latency.peakRatio < 0.01)
          findings.push_back(
              Finding{"latency", take.name + ": the loopback channel " + std::to_string(loopbackChannel) +
                                     " does not carry the playback (correlation " + Plain(latency.peakRatio) + ")"});
      } else {
        latency.frames = std::min(result.reportedLatencyFrames, maxLatency);
        latency.fine = double(latency.frames);
        latencySource = "back end";
      }
      // The recording starts at the playback's first sample.
      // 16-bit takes are judged as written, in the same pass.
      const bool pcm16 = format == "pcm16";
      recording.resize(recordFrames * writeChannels);  // every sample is written below
      for (std::size_t f = 0; f < recordFrames; ++f) {
        const float* x = capture.data() + (f + std::size_t(latency.frames)) * duplex.inputChannels;
        float* y = recording.data() + f * writeChannels;
        for (unsigned int ch = 0; ch < take.channels; ++ch) y[ch] = x[inputMap[ch]];
        if (writeChannels > take.channels) y[take.channels] = x[loopbackChannel];
        if (pcm16)
          for (unsigned int ch = 0; ch < writeChannels; ++ch) y[ch] = static_cast<float>(Pcm16(y[ch]) / 32768.0);
      }
      RecordingFigures figures;
      figures.name = take.name;
      figures.path = take.name;
      figures.source = take.source;
      figures.azimuthDeg = take.azimuthDeg;
      figures.elevationDeg = take.elevationDeg;
      RecordingSamples samples;
      samples.sampleRateHz = rateHz;
      samples.frames = recordFrames;
      samples.channels = writeChannels;
      samples.fullScale = format == "pcm16" ? 32767.0 / 32768.0 : 1.0;
      std::size_t readAt = 0;
      samples.read = [&](float* out, std::size_t frames) {
        const std::size_t n = std::min(frames, recordFrames - readAt);
        std::copy_n(recording.data() + readAt * writeChannels, n * writeChannels, out);
        readAt += n;
        return n;
      };
      checker.Check(samples, take.micIndices, figures);
      std::vector<double> l = levels, s = snrs;
      l.push_back(figures.levelDb);
      s.push_back(figures.snrDb);
      bool drifting = false;
      for (Finding& f : RecordingFindings(figures, plan.layout, checkSettings, limits, Median(l), Median(s), &drifting))
        findings.push_back(std::move(f));
      if (drifting)
        findings.push_back(Finding{"clock-drift", take.name + ": the recorder's clock runs " +
                                                      Fixed(figures.driftPpm, 1) +
                                                      " ppm off the player's: play and record on one device"});
      // A dead input passes the checks above on its own (no noise, no
      // clipping): a take must hear something on every microphone.
      std::ostringstream silent;
      for (const auto& c : figures.perChannel)
        if (c.peakDbfs < kSilentDbfs) silent << (silent.tellp() > 0 ? ", " : "") << c.channel;
      if (silent.tellp() > 0)
        findings.push_back(Finding{"silent", take.name + ": no signal above " + Plain(kSilentDbfs) +
                                                 " dBFS on channel (micIndex) " + silent.str() +
                                                 ": a cable, a microphone supply or the gain"});
      std::size_t clipped = 0;
      double dc = 0;
      for (const auto& c : figures.perChannel) {
        clipped += c.clipped;
        dc = std::max(dc, std::fabs(c.dcOffset));
      }
      const bool passed = findings.empty();
      std::cout << "  level " << Fixed(figures.levelDb, 1) << " dBFS, SNR " << Fixed(figures.snrDb, 1)
                << " dB, clipped " << clipped << ", DC " << Fixed(dc, 4) << ", drift " << Fixed(figures.driftPpm, 2)
                << " ppm, latency " << latency.frames << " (" << Fixed(latency.fine, 2) << ", " << latencySource << ")"
                << (result.oneClock ? "" : ", streams not linked") << ": " << (passed ? "ok" : "FAILED") << "\n";
      for (const Finding& f : findings) std::cout << "    " << f.kind << ": " << f.text << "\n";
      std::cout << std::flush;
      bool keep = passed;
      if (!passed) {
        if (interactive)
          keep = AskYes("  Enter: keep, r: record again ");
        else
          keep = attempt >= retries;
      }
      if (!keep) {
        attempts.push_back("failed checks");
        continue;
      }
      const fs::path parent = fs::path(take.name).parent_path();
      if (!parent.empty()) fs::create_directories(parent);
      TakeToWave(take.name, recording, recordFrames, writeChannels, rateHz, format == "float");
      levels.push_back(figures.levelDb);
      snrs.push_back(figures.snrDb);
      if (!passed) {
        anyFailed = true;
        std::cout << "  kept with failed checks: " << take.name << "\n" << std::flush;
      }
      veskio2::JsonWriter j;
      j.BeginObject();
      j.Field("time", Now());
      j.Field("source", static_cast<unsigned long>(take.source));
      j.Field("name", take.name);
      j.Field("azimuthDeg", take.azimuthDeg);
      j.Field("elevationDeg", take.elevationDeg);
      j.Field("latencySamples", latency.frames);
      j.Field("latencyFineSamples", latency.fine);
      j.Field("latencySource", latencySource);
      j.Field("oneClock", result.oneClock);
      j.Field("periodFrames", result.periodFrames);
      j.Field("levelDb", figures.levelDb);
      j.Field("snrDb", figures.snrDb);
      j.Field("driftPpm", figures.driftPpm);
      j.Field("clippedSamples", static_cast<unsigned long>(clipped));
      j.Field("dcOffsetMax", dc);
      j.Field("passed", passed);
      j.Field("retries", attempt);
      j.Field("discarded", attempts);
      j.Key("findings");
      j.BeginArray();
      for (const Finding& f : findings) {
        j.BeginObject();
        j.Field("kind", f.kind);
        j.Field("text", f.text);
        j.EndObject();
      }
      j.EndArray();
      j.EndObject();
      logTakes.push_back(j.Text());
      WriteLog(logPath, listPath, logTakes);
      break;
    }
  }
  WriteLog(logPath, listPath, logTakes);
  return anyFailed ? kFailedKept : kPassed;
}

}  // namespace

int main(int argc, char** argv) { return vesktools::ToolMain("tsprec", Run, argc, argv); }
