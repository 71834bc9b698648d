// The simulator from configuration files to written recordings and
// impulse-response files.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ConfigToScene.h"
#include "FloatFile.h"
#include "SceneToFiles.h"
#include "SceneToRecording.h"
#include "ToolError.h"
#include "TestSupport.h"
#include "veskio2/VeskConfig.h"

using namespace vesktools;
namespace vc = veskio2::veskconfig;

namespace {

class SceneFiles : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("vesk_measim_" + std::to_string(::getpid()) + "_" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Microphones 3 and 7 at the origin and 0.343 m along y (16 samples further
  // from a source on the y axis at 16 kHz).
  std::string WriteMics() const {
    vc::MicArrayLocationFile2_0 f;
    std::vector<vc::Mic1> mics(2);
    mics[0].SetMicIndex(3);
    mics[0].SetPosition(veskio2::Position<float>(veskio2::Vector3<float>(1, 0, 0), 0.0f));
    mics[1].SetMicIndex(7);
    mics[1].SetPosition(veskio2::Position<float>(veskio2::Vector3<float>(0, -1, 0), 0.343f));
    f.SetMics(mics);
    return Write(f, "mic.xml");
  }

  vc::Source2 SourceOnY(float distance_m, std::vector<vc::File1> files) const {
    vc::Source2 s;
    s.SetPosition(veskio2::Position<float>(veskio2::Vector3<float>(0, 1, 0), distance_m));
    s.SetCutStart(1);
    s.SetCutEnd(0);
    s.SetFiles(files);
    return s;
  }

  static vc::File1 File(const std::string& name, std::vector<unsigned int> indices) {
    vc::File1 f;
    f.SetName(name);
    f.SetMicIndices(indices);
    return f;
  }

  template <typename F>
  std::string Write(const F& file, const std::string& name) const {
    std::ofstream out(Path(name));
    vc::VeskConfigFileXMLWriter(out).Write(file);
    return Path(name);
  }

  std::filesystem::path dir_;
};

}  // namespace

TEST_F(SceneFiles, TspRecordingPutsEachMicrophoneOnItsChannel) {
  vc::TSPListFile2_0 list;
  list.SetSynchronousAverage(1);
  list.SetTspOffset(0);
  list.SetTspLength(64);
  list.SetSignalMax(32768);
  list.SetNumMic(2);
  // Channels 7 and 3, listed out of order: channel 3, the lower, belongs to
  // the array's first microphone (micIndex 3), channel 7 to the second.
  list.SetSources({SourceOnY(1.715f, {File("rec/a.wav", {7, 3})})});
  const Scene scene = ConfigToScene(WriteMics(), Write(list, "tsp.xml"));
  ASSERT_EQ(scene.kind, ListKind::TSP);

  Sound playback;  // an impulse: the recording is the response itself
  playback.sampleRateHz = 16000;
  playback.channels = {std::vector<double>(100, 0.0)};
  playback.channels[0][0] = 1.0;
  OutputSettings out;
  out.output_dir = dir_.string();
  out.wave_format = WaveFormat::FLOAT32;
  out.response_dir = Path("exact");
  const SimulationReport report = WriteRecordings(scene, playback, ResponseSettings{}, out);
  EXPECT_EQ(report.files, 1u);
  EXPECT_EQ(report.responses, 2u);

  const Sound rec = ReadSound(Path("rec/a.wav"));
  ASSERT_EQ(rec.channels.size(), 8u);
  ASSERT_EQ(rec.Frames(), 100u + 4095u);
  // Latency 128 + 80 samples to microphone 3, 16 more to microphone 7, each
  // at 1/r; float32 storage keeps 1e-7 relative.
  EXPECT_NEAR(rec.channels[3][208], 1.0 / 1.715, 1e-6);
  EXPECT_NEAR(rec.channels[7][224], 1.0 / (1.715 + 0.343), 1e-6);
  EXPECT_NEAR(rec.channels[3][224], 0.0, 1e-6);
  for (unsigned int ch : {0u, 1u, 2u, 4u, 5u, 6u})
    EXPECT_TRUE(std::all_of(rec.channels[ch].begin(), rec.channels[ch].end(), [](double v) { return v == 0.0; }))
        << "unlisted channel " << ch;
  const std::vector<float> exact = ReadFloat32LE(Path("exact/src000_mic07.flt"));
  ASSERT_EQ(exact.size(), 4096u);
  for (std::size_t n = 0; n < exact.size(); ++n) ASSERT_NEAR(rec.channels[7][n], exact[n], 1e-7) << n;
}

// A source's channels are made on every core: the files are the same on
// one core (also run under ThreadSanitizer, ctest label "threads").
TEST_F(SceneFiles, RecordingsDoNotDependOnTheNumberOfCores) {
  vc::TSPListFile2_0 list;
  list.SetSynchronousAverage(1);
  list.SetTspOffset(0);
  list.SetTspLength(256);
  list.SetSignalMax(32768);
  list.SetNumMic(2);
  list.SetSources({SourceOnY(1.5f, {File("a.wav", {3, 7})}), SourceOnY(2.0f, {File("b.wav", {3, 7})})});
  const Scene scene = ConfigToScene(WriteMics(), Write(list, "tsp.xml"));
  Sound playback;
  playback.sampleRateHz = 16000;
  playback.channels = {std::vector<double>(2000, 0.0)};
  for (std::size_t n = 0; n < playback.channels[0].size(); ++n) playback.channels[0][n] = std::sin(0.37 * double(n));
  ResponseSettings response;
  response.length_samples = 1024;
  response.room.enabled = true;  // the images, summed in slices over the cores
  response.room.size = Point3{4, 3.5, 2.5};
  response.room.array_at = Point3{1.3, 0.9, 1.2};
  response.room.reflection.fill(0.8);
  OutputSettings out;
  out.wave_format = WaveFormat::FLOAT32;
  out.add_noise = true;  // each channel's own seed
  out.gain = 0.2;
  const auto bytes = [this](const std::string& name) { return vesk_test::ReadWholeFile(Path(name)); };
  out.output_dir = Path("all");
  WriteRecordings(scene, playback, response, out);
  cpu_set_t all, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  out.output_dir = Path("one");
  WriteRecordings(scene, playback, response, out);
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  for (const char* name : {"a.wav", "b.wav"}) {
    EXPECT_FALSE(bytes(std::string("all/") + name).empty());
    EXPECT_TRUE(bytes(std::string("all/") + name) == bytes(std::string("one/") + name)) << name;
  }
}

TEST_F(SceneFiles, TspRecordingNeedsEnoughPlayback) {
  vc::TSPListFile2_0 list;
  list.SetSynchronousAverage(2);
  list.SetTspOffset(10);
  list.SetTspLength(64);
  list.SetSources({SourceOnY(1.0f, {File("a.wav", {3})})});
  const Scene scene = ConfigToScene(WriteMics(), Write(list, "tsp.xml"));
  Sound playback;
  playback.sampleRateHz = 16000;
  playback.channels = {std::vector<double>(137, 0.0)};
  try {
    WriteRecordings(scene, playback, ResponseSettings{}, OutputSettings{});
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(), "the playback wave has 137 frames, the list's tspOffset 10 plus 2 periods of 64 need 138");
  }
}

TEST_F(SceneFiles, ImpulseResponseListWritesOneFltPerFile) {
  vc::ImpulseResponseListFile2_0 list;
  list.SetNumMic(2);
  list.SetSources({SourceOnY(1.715f, {File("D000_ch03.flt", {3}), File("D000_ch07.flt", {7})})});
  const Scene scene = ConfigToScene(WriteMics(), Write(list, "ir.xml"));
  ASSERT_EQ(scene.kind, ListKind::IMPULSE_RESPONSE);
  OutputSettings out;
  out.output_dir = dir_.string();
  ResponseSettings settings;
  settings.length_samples = 1500;
  EXPECT_EQ(WriteImpulseResponses(scene, settings, out).files, 2u);
  const std::vector<float> ch3 = ReadFloat32LE(Path("D000_ch03.flt"));
  const std::vector<float> ch7 = ReadFloat32LE(Path("D000_ch07.flt"));
  ASSERT_EQ(ch3.size(), 1500u);
  EXPECT_NEAR(ch3[208], 1.0 / 1.715, 1e-6);
  EXPECT_NEAR(ch7[224], 1.0 / 2.058, 1e-6);
}

TEST_F(SceneFiles, ReportsWhatTheFilesLack) {
  const std::string mics = WriteMics();
  vc::ImpulseResponseListFile2_0 list;
  list.SetSources({SourceOnY(1.0f, {File("x.flt", {5})})});
  try {
    ConfigToScene(mics, Write(list, "ir.xml"));
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(), "x.flt: micIndex 5 is not in the microphone-array file");
  }
  list.SetSources({SourceOnY(1.0f, {File("x.flt", {3, 7})})});
  const Scene scene = ConfigToScene(mics, Write(list, "ir2.xml"));
  try {
    WriteImpulseResponses(scene, ResponseSettings{}, OutputSettings{});
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(), "x.flt: an impulse-response file needs exactly one micIndex, found 2");
  }
  vc::TSPListFile2_0 tsp;
  tsp.SetSynchronousAverage(1);
  tsp.SetTspOffset(0);
  tsp.SetSources({SourceOnY(1.0f, {File("r.wav", {3, 64})})});
  try {
    ConfigToScene(mics, Write(tsp, "tsp.xml"));
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(),
                 "r.wav: micIndex 64 names a recording channel the impulse calculator cannot select (0 to 63)");
  }
  try {
    ConfigToScene(mics, mics);
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_EQ(std::string(e.what()),
              mics + ": expected TSPListFile or ImpulseResponseListFile 2.0, found MicArrayLocationFile 2.0");
  }
}

TEST_F(SceneFiles, TwoSourcesTogetherAreTheSumOfEachAlone) {
  Scene scene;
  scene.mics = ConfigToMics(WriteMics());
  const std::vector<SceneSourceSpec> specs = {
      ParseSourceSpec("azimuth=37,elevation=0,distance=1.5,signal=noise"),
      ParseSourceSpec("azimuth=-120,elevation=20,distance=2.5,signal=speech,level=-6,start=0.1")};
  for (const SceneSourceSpec& s : specs) scene.sources.push_back(SceneSource{SpecPosition(s), {}});
  SceneRecordingSettings settings;
  settings.duration_s = 0.4;
  ResponseSettings response;
  response.length_samples = 1024;
  OutputSettings output;
  output.wave_format = WaveFormat::FLOAT32;
  const Sound both = RenderScene(scene, specs, settings, response, output);
  Scene first = scene, second = scene;
  first.sources.resize(1);
  second.sources.erase(second.sources.begin());
  // Source numbers seed the signals: render the second alone as source 1.
  second.sources.insert(second.sources.begin(), SceneSource{Point3{2, 0, 0}, {}});
  std::map<std::size_t, double> silence = {{0, 0.0}};
  OutputSettings muted = output;
  muted.source_gain = silence;
  const Sound a = RenderScene(first, {specs[0]}, settings, response, output);
  const Sound b = RenderScene(second, specs, settings, response, muted);
  ASSERT_EQ(both.channels.size(), 2u);
  ASSERT_EQ(both.Frames(), 6400u);
  double peak = 0;
  for (std::size_t ch = 0; ch < 2; ++ch)
    for (std::size_t n = 0; n < both.Frames(); ++n) {
      peak = std::max(peak, std::fabs(both.channels[ch][n]));
      ASSERT_NEAR(both.channels[ch][n], a.channels[ch][n] + b.channels[ch][n], 1e-12) << ch << " " << n;
    }
  EXPECT_GT(peak, 0.5);
  // The second source starts at 0.1 s: before its sound reaches the
  // microphones, the mix is the first source alone.
  for (std::size_t n = 0; n < 1600; ++n) ASSERT_EQ(b.channels[0][n], 0.0) << n;
}

TEST_F(SceneFiles, TheTruthReadsBackAsJson) {
  const std::vector<SceneSourceSpec> specs = {
      ParseSourceSpec("azimuth=37,elevation=0,distance=1.5,signal=noise"),
      ParseSourceSpec("azimuth=-60.25,elevation=10,distance=2,signal=my \"rec\",1.wav,level=-6,start=0.5")};
  EXPECT_EQ(specs[1].signal, "my \"rec\",1.wav");
  const std::string truth = SceneTruthJson(specs, 16000, 3.0);
  std::ofstream(Path("out.json")) << truth;
  EXPECT_EQ(TruthPath(Path("out.wav")), Path("out.json"));
  // Python's json module as the independent reader; it prints the values
  // back in the order of the keys.
  const std::string command =
      "/usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
      "print(sorted(d)); print(d[\"samplingRate\"], d[\"durationS\"]); "
      "[print(sorted(s), s[\"azimuthDeg\"], s[\"elevationDeg\"], s[\"distance\"], s[\"signal\"], s[\"levelDb\"], "
      "s[\"startS\"]) for s in d[\"sources\"]]' " +
      Path("out.json");
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  ASSERT_EQ(::pclose(pipe), 0) << text;
  const std::string keys = "['azimuthDeg', 'distance', 'elevationDeg', 'levelDb', 'signal', 'startS']";
  EXPECT_EQ(text, "['durationS', 'samplingRate', 'sources']\n16000 3\n" + keys + " 37 0 1.5 noise 0 0\n" + keys +
                      " -60.25 10 2 my \"rec\",1.wav -6 0.5\n");
}

TEST_F(SceneFiles, SourceSpecsAreCheckedNamingTheEntry) {
  try {
    ParseSourceSpec("azimuth=37,elevation=0,signal=noise");
    FAIL() << "no error";
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(),
                 "--source \"azimuth=37,elevation=0,signal=noise\": distance is missing (expected "
                 "azimuth=DEG,elevation=DEG,distance=M,signal=SIG[,level=DB][,start=S])");
  }
  EXPECT_THROW(ParseSourceSpec("azimuth=nan,elevation=0,distance=1,signal=noise"), ToolError);
}
