// The TSP list provider with a stand-in for dravik that logs its arguments
// and writes one output per selected channel.
#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "provider/IRProviderTSP.h"
#include "provider/MicIndexTable.h"

namespace trelvix {
namespace {

using namespace testsupport;
using veskio2::veskconfig::OriginalImpulseFile;
using veskio2::veskconfig::Source2;
using veskio2::veskconfig::TSPListFile2_0;

// Logs every argument NUL-terminated, an empty record ending each run, and
// writes <head>_ch<k>.flt for the k-th selected channel in ascending order,
// holding the one sample 100 + channel.
const char* kFakeDravik = R"(#!/bin/sh
for a in "$@"; do printf '%s\0' "$a" >> "$FAKE_DRAVIK_LOG"; done
printf '\0' >> "$FAKE_DRAVIK_LOG"
list=""; prev=""
for a in "$@"; do
  if [ "$prev" = "--outchannellist" ]; then list="$a"; fi
  prev="$a"; head="$a"
done
k=0
for c in $(echo "$list" | tr , '\n' | sort -n); do
  k=$((k + 1))
  cp "$FAKE_DRAVIK_FIXTURES/ch$c.flt" "${head}_ch$k.flt"
done
echo "fake dravik ran"
)";

class IRProviderTSPTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake_ = dir_ / "fake-dravik";
    { std::ofstream(fake_) << kFakeDravik; }
    ::chmod(fake_.c_str(), 0755);
    fs::create_directories(dir_ / "fixtures");
    for (unsigned c = 0; c < 16; ++c) WriteFlt(dir_ / ("fixtures/ch" + std::to_string(c) + ".flt"), {100.0f + c});
    fs::create_directories(dir_ / "tmp");
    ::setenv("FAKE_DRAVIK_LOG", (dir_ / "log").c_str(), 1);
    ::setenv("FAKE_DRAVIK_FIXTURES", (dir_ / "fixtures").c_str(), 1);
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    // One log for every run of the stand-in: one run at a time.
    ::setenv("TRELVIX_JOBS", "1", 1);
    for (unsigned m = 0; m < 8; ++m) SetMicIndexOf(m, static_cast<int32_t>(m));
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    ::unsetenv("TRELVIX_JOBS");
  }

  std::string Write(const std::vector<Source2>& sources, unsigned kind = OriginalImpulseFile::RAW_FLOAT,
                    const std::string& origin = "origin.tsp") {
    boost::shared_ptr<TSPListFile2_0> list(new TSPListFile2_0);
    list->SetSynchronousAverage(16);
    list->SetTspOffset(16384);
    list->SetSignalMax(32768);
    OriginalImpulseFile file;
    file.name = origin;
    file.kind = kind;
    list->SetOriginalImpulseFile(file);
    list->SetSources(sources);
    const std::string path = dir_ / "tsp.xml";
    WriteConfig(path, list);
    return path;
  }
  IRProviderTSP Provider(const std::string& list, bool toStderr = false) {
    return IRProviderTSP(list, DravikInvocation{fake_, toStderr});
  }
  // Arguments of each run of the stand-in, program name first.
  std::vector<std::vector<std::string>> Runs() {
    std::vector<std::vector<std::string>> runs(1);
    const std::string log = ReadWholeFile(dir_ / "log");
    std::size_t start = 0;
    for (std::size_t end; (end = log.find('\0', start)) != std::string::npos; start = end + 1) {
      const std::string arg = log.substr(start, end - start);
      if (arg.empty())
        runs.emplace_back();
      else
        runs.back().push_back(arg);
    }
    runs.pop_back();
    return runs;
  }

  ScratchDir dir_;
  std::string fake_;
};

TEST_F(IRProviderTSPTest, RunsOncePerWaveFileAndReadsTheOutputOfTheMicrophoneOrdinal) {
  const auto files = std::vector<veskio2::veskconfig::File1>{MakeFile("a.wav", {0, 1, 2, 3})};
  IRProviderTSP provider =
      Provider(Write({MakeSource(PositionAt(1, 0, 0), files), MakeSource(PositionAt(0, 1, 0), files)}));
  testing::internal::CaptureStdout();
  EXPECT_EQ(provider.GetIR(0, 0), std::vector<float>{100});
  EXPECT_EQ(provider.GetIR(0, 2), std::vector<float>{102});
  EXPECT_EQ(provider.GetIR(1, 3), std::vector<float>{103});  // shares the first source's run
  const std::string out = testing::internal::GetCapturedStdout();

  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  const std::string head = (fs::path(provider.GetTemporaryDirectory()) / "a.wav" / "float").string();
  EXPECT_EQ(runs[0],
            (std::vector<std::string>{"--tsporigflt", "origin.tsp", "--sigmax", "32768", "--syncaddfreq", "16",
                                      "--syncaddoffset", "16384", "--outchannellist", "0,1,2,3", "a.wav", head}));
  EXPECT_EQ(fs::path(provider.GetTemporaryDirectory()).parent_path(), fs::path(dir_ / "tmp"));
  EXPECT_NE(out.find("Dravik: " + fake_ + " --tsporigflt \"origin.tsp\" --sigmax \"32768\""), std::string::npos);
  EXPECT_NE(out.find("fake dravik ran\nstatus(0) Success\n\n\n"), std::string::npos) << out;
}

TEST_F(IRProviderTSPTest, WaveOriginAndReportsOnStandardErrorWhenAsked) {
  IRProviderTSP provider = Provider(
      Write({MakeSource(PositionAt(1, 0, 0), {MakeFile("b.wav", {1})})}, OriginalImpulseFile::PCM_WAVE, "origin.wav"),
      true);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  SetMicIndexOf(0, 1);
  EXPECT_EQ(provider.GetIR(0, 0), std::vector<float>{101});
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("--tsporigwav \"origin.wav\""), std::string::npos);
  EXPECT_NE(err.find("1>&2\n"), std::string::npos);
  EXPECT_NE(err.find("fake dravik ran\n"), std::string::npos);
  EXPECT_NE(err.find("Created a temporary directore: " + provider.GetTemporaryDirectory() + "\n"), std::string::npos);
  EXPECT_EQ(Runs().at(0).at(0), "--tsporigwav");
}

// Every file that cannot serve is named once, before the first run, so a
// missing recording late in the list does not surface after hours of runs.
TEST_F(IRProviderTSPTest, NamesEveryUnopenableFileBeforeTheFirstRun) {
  const std::string late = dir_ / "late.wav", gone = dir_ / "gone.wav";
  IRProviderTSP provider = Provider(Write({MakeSource(PositionAt(1, 0, 0), {MakeFile(gone, {0})}),
                                           MakeSource(PositionAt(0, 1, 0), {MakeFile(gone, {0})}),
                                           MakeSource(PositionAt(0, 0, 1), {MakeFile(late, {0})})},
                                          OriginalImpulseFile::RAW_FLOAT, "original-impulse-file.tsp"),
                                    true);
  testing::internal::CaptureStderr();
  provider.GetIR(0, 0);
  const std::string err = testing::internal::GetCapturedStderr();
  const std::size_t firstRun = err.find("Dravik: ");
  ASSERT_NE(firstRun, std::string::npos) << err;
  for (const std::string& line :
       {"cannot open the recording " + gone + ": No such file or directory\n",
        "cannot open the recording " + late + ": No such file or directory\n",
        std::string("cannot open the TSP origin file original-impulse-file.tsp: No such file or directory (this is "
                    "the template's placeholder name")}) {
    const std::size_t at = err.find(line);
    EXPECT_LT(at, firstRun) << line << "\n" << err;
    EXPECT_EQ(err.find(line, at + 1), std::string::npos) << "told twice: " << line;
  }
}

TEST_F(IRProviderTSPTest, MicrophonesSpreadOverTwoWavesCountBoth) {
  // The second wave's outputs are numbered from 1, so ordinal 5 finds no
  // file numbered 6 there and comes back empty.
  IRProviderTSP provider = Provider(
      Write({MakeSource(PositionAt(1, 0, 0), {MakeFile("x.wav", {0, 1, 2, 3}), MakeFile("y.wav", {4, 5, 6, 7})})}));
  EXPECT_EQ(provider.GetNumMics(), 8u);
  EXPECT_EQ(*provider.GetMicIndices(), (std::vector<unsigned>{0, 1, 2, 3}));
  testing::internal::CaptureStdout();
  EXPECT_EQ(provider.GetIR(0, 1), std::vector<float>{101});
  EXPECT_TRUE(provider.GetIR(0, 5).empty());
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(Runs().size(), 2u);
  EXPECT_EQ(Runs()[1].at(9), "4,5,6,7");
}

TEST_F(IRProviderTSPTest, MatchesATargetAnywhereInTheIndicesAndReportsUncoveredOnes) {
  veskio2::veskconfig::File1 unset;
  unset.SetName("u.wav");
  IRProviderTSP provider = Provider(Write({MakeSource(PositionAt(1, 0, 0), {unset, MakeFile("c.wav", {6, 2})})}));
  EXPECT_THROW(provider.GetIR(1, 0), std::out_of_range);
  EXPECT_EQ(provider.GetTemporaryDirectory(), "");  // nothing made before the source is known

  // Index 2 is the second of {6, 2}; the output read is numbered by the
  // microphone ordinal 0, that is output 1, written for channel 2.
  SetMicIndexOf(0, 2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(provider.GetIR(0, 0), std::vector<float>{102});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Runs().at(0).at(9), "6,2");
}

TEST_F(IRProviderTSPTest, UncoveredMicrophoneMakesTheDirectoryThenFails) {
  IRProviderTSP provider = Provider(Write({MakeSource(PositionAt(1, 0, 0), {MakeFile("c.wav", {1})})}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(ErrorOf([&] { provider.GetIR(0, 4); }), "not implemented");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("non mic index = 4\n"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(provider.GetTemporaryDirectory()));
  EXPECT_EQ(ErrorOf([&] { provider.GetIR(0, 1000); }),
            "microphone 1000 is outside the microphone index table (at most 1000 microphones)");
}

TEST_F(IRProviderTSPTest, HostileNamesReachDravikLiterally) {
  const std::string wave = dir_ / "we\"ird $(touch pwned1) `touch pwned2` \\ $HOME\nline.wav";
  const std::string origin = dir_ / "o$(touch pwned3)\".tsp";
  IRProviderTSP provider = Provider(Write({MakeSource(PositionAt(1, 0, 0), {MakeFile(wave, {0})}),
                                           MakeSource(PositionAt(0, 1, 0), {MakeFile("-dash.wav", {0})})},
                                          OriginalImpulseFile::RAW_FLOAT, origin));
  testing::internal::CaptureStdout();
  EXPECT_EQ(provider.GetIR(0, 0), std::vector<float>{100});
  EXPECT_EQ(provider.GetIR(1, 0), std::vector<float>{100});
  testing::internal::GetCapturedStdout();
  const auto runs = Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].at(1), origin);
  EXPECT_EQ(runs[0].at(10), wave);
  EXPECT_EQ(runs[1].at(10), "./-dash.wav");  // a leading dash would read as an option
  for (const char* pwned : {"pwned1", "pwned2", "pwned3"}) {
    EXPECT_FALSE(fs::exists(pwned));
    EXPECT_FALSE(fs::exists(dir_ / pwned));
  }
}

TEST_F(IRProviderTSPTest, WaveNamesCannotReachOutsideTheTemporaryDirectory) {
  const std::vector<std::string> waves = {"../../escape.wav", "/abs/dir/x.wav", "a/../../b.wav", "..", "/"};
  std::vector<Source2> sources;
  for (const auto& wave : waves) sources.push_back(MakeSource(PositionAt(1, 0, 0), {MakeFile(wave, {0})}));
  IRProviderTSP provider = Provider(Write(sources));
  testing::internal::CaptureStdout();
  for (std::size_t src = 0; src < waves.size(); ++src)
    EXPECT_EQ(provider.GetIR(src, 0), std::vector<float>{100}) << waves[src];
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Runs().size(), waves.size());  // distinct names never share outputs

  const fs::path temporary = provider.GetTemporaryDirectory();
  std::size_t outputs = 0;
  for (fs::recursive_directory_iterator it(dir_.Path()), end; it != end; ++it) {
    const std::string path = it->path().string();
    if (path.rfind(temporary.string(), 0) == 0) {
      outputs += path.size() > 4 && path.substr(path.size() - 4) == ".flt";
      continue;
    }
    // Outside the temporary directory only what the test itself made.
    const std::string relative = fs::relative(it->path(), dir_.Path()).string();
    EXPECT_TRUE(relative == "tmp" || relative == "fixtures" || relative.rfind("fixtures/", 0) == 0 ||
                relative == "log" || relative == "fake-dravik" || relative == "tsp.xml")
        << relative;
  }
  EXPECT_EQ(outputs, waves.size());
  EXPECT_EQ(WaveWorkDirectory("../x.wav"), "%2E%2E/x.wav");
  EXPECT_EQ(WaveWorkDirectory("/x.wav"), "%2F/x.wav");
  EXPECT_NE(WaveWorkDirectory("%2E%2E/x.wav"), WaveWorkDirectory("../x.wav"));
}

TEST_F(IRProviderTSPTest, MissingDravikIsReportedAndGivesEmptyResponses) {
  IRProviderTSP provider(Write({MakeSource(PositionAt(1, 0, 0), {MakeFile("a.wav", {0})})}),
                         DravikInvocation{dir_ / "no-such-dravik", false});
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(provider.GetIR(0, 0).empty());
  EXPECT_TRUE(provider.GetIR(0, 0).empty());
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("Dravik is not found : status(32512) WEXITSTATUS(127)\n\n\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Dravik is not found"), out.rfind("Dravik is not found"));  // not tried again
}

TEST_F(IRProviderTSPTest, CountsAndIndicesFromTheList) {
  veskio2::veskconfig::File1 unset;
  unset.SetName("u.wav");
  IRProviderTSP provider =
      Provider(Write({MakeSource(PositionAt(1, 0, 0), {}), MakeSource(PositionAt(0, 1, 0), {unset}),
                      MakeSource(PositionAt(0, 0, 1), {MakeFile("a.wav", {5, 3})})}));
  EXPECT_EQ(provider.GetNumSources(), 3u);
  EXPECT_EQ(provider.GetSources().size(), 3u);
  EXPECT_EQ(*provider.GetMicIndices(), (std::vector<unsigned>{5, 3}));
  EXPECT_EQ(provider.GetNumMics(), 0u);  // the first source has no files

  IRProviderTSP none = Provider(Write({MakeSource(PositionAt(1, 0, 0), {unset})}));
  EXPECT_EQ(ErrorOf([&] { none.GetMicIndices(); }), "no mic index found in <file> tag");
  EXPECT_EQ(ErrorOf([&] { none.GetNumMics(); }), "micIndices is not initialized");
  IRProviderTSP empty = Provider(Write({}));
  EXPECT_EQ(ErrorOf([&] { empty.GetNumMics(); }), "not implemented");

  const std::string mic = dir_ / "mic.xml";
  WriteConfig(mic, MakeMicArray({MakeMic(0, 1, 0, 0)}));
  EXPECT_EQ(ErrorOf([&] { IRProviderTSP wrong(mic); }), "requires TSPListFile, but given MicArrayLocationFile");
}

}  // namespace
}  // namespace trelvix
