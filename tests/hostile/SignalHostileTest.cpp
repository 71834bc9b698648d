// Hostile signal files: wave recordings and TSP origins that lie about
// their length or channel count, given to dravik; .flt impulse responses
// of odd sizes, given to trelvix. Impulse files from an earlier run lie
// where the new ones would go and must survive every failed run.
#include <cstdint>
#include <cstring>
#include <limits>
#include <functional>

#include "HostileFiles.h"
#include "HostileRun.h"

namespace hostile {
namespace {

const char* const kEarlier = "an impulse response of an earlier run\n";

// `frames` frames of `channels` 16-bit samples of value 0x1000.
std::string Pcm16(std::size_t channels, std::size_t frames) {
  return Repeat(std::string("\x00\x10", 2), channels * frames);
}

std::string Wave(const WaveClaims& claims, const std::string& data) { return HandMadeWave(claims, data); }

WaveClaims Channels(uint16_t channels) {
  WaveClaims c;
  c.channels = channels;
  return c;
}

struct DravikCase {
  std::string name;
  std::function<void(const std::string& dir)> prepare;  // writes the hostile input
  std::vector<std::string> extraArgs;                   // before the two file names
  std::string stdoutMention;                            // exact fixed text expected
};

void PrintTo(const DravikCase& c, std::ostream* os) { *os << c.name; }

std::function<void(const std::string&)> Writes(const std::string& name, std::function<std::string()> content) {
  return [name, content](const std::string& dir) { WriteWhole(dir + "/" + name, content()); };
}

const char* const kNoWave = "wavefile(rec.wav) is not found.\n";
const char* const kNoOrigin = "tsp origin file is not read.\n";

std::vector<DravikCase> Cases() {
  WaveClaims lyingData = Channels(2);
  lyingData.dataChunkSize = 0x7ffffffc;
  WaveClaims lyingAll = Channels(2);
  lyingAll.dataChunkSize = 0xffffffff;
  lyingAll.riffSize = 0xffffffff;
  WaveClaims lyingFmt = Channels(2);
  lyingFmt.fmtChunkSize = 0xfffffff0;
  WaveClaims noBits = Channels(2);
  noBits.bitsPerSample = 0;
  WaveClaims noRate = Channels(2);
  noRate.sampleRate = 0;
  return {
      // Recordings.
      {"RecordingMissing", [](const std::string&) {}, {}, kNoWave},
      {"RecordingEmpty", Writes("rec.wav", [] { return std::string(); }), {}, kNoWave},
      {"RecordingGarbage", Writes("rec.wav", [] { return Garbage(70000); }), {}, kNoWave},
      {"RecordingIsADirectory", [](const std::string& dir) { fs::create_directory(dir + "/rec.wav"); }, {}, kNoWave},
      {"RecordingHeaderOnly", Writes("rec.wav", [] { return Wave(Channels(2), "").substr(0, 20); }), {}, kNoWave},
      {"RecordingWithoutChannels", Writes("rec.wav", [] { return Wave(Channels(0), Pcm16(1, 100)); }), {}, kNoWave},
      {"RecordingOfOneFrame",
       Writes("rec.wav", [] { return Wave(Channels(2), Pcm16(2, 1)); }),
       {},
       "Wave length(1) is short when sync_add_freq = 1.\n"},
      {"RecordingDataSizeLies",
       Writes("rec.wav", [lyingData] { return Wave(lyingData, Pcm16(2, 10)); }),
       {},
       "Wave length(10) is short when sync_add_freq = 1.\n"},
      {"RecordingAllSizesLie",
       Writes("rec.wav", [lyingAll] { return Wave(lyingAll, Pcm16(2, 100)); }),
       {},
       "Wave length(100) is short when sync_add_freq = 1.\n"},
      {"RecordingFormatChunkSizeLies",
       Writes("rec.wav", [lyingFmt] { return Wave(lyingFmt, Pcm16(2, 100)); }),
       {},
       kNoWave},
      {"RecordingWithoutBitsPerSample",
       Writes("rec.wav", [noBits] { return Wave(noBits, Pcm16(2, 100)); }),
       {},
       kNoWave},
      {"RecordingWithoutSampleRate", Writes("rec.wav", [noRate] { return Wave(noRate, Pcm16(2, 100)); }), {}, kNoWave},
      {"RecordingOf1100Channels", Writes("rec.wav", [] { return Wave(Channels(1100), Pcm16(1100, 2)); }), {}, kNoWave},
      {"RecordingOf65535Channels",
       Writes("rec.wav", [] { return Wave(Channels(65535), Pcm16(65535, 1)); }),
       {},
       kNoWave},
      // Float origins (a valid one, origin.flt, is always there).
      {"OriginOfOddSize",
       Writes("odd.flt", [] { return Flt(ImpulsePeriod()).substr(1); }),
       {"--tsporigflt", "odd.flt"},
       kNoOrigin},
      {"OriginEmpty", Writes("empty.flt", [] { return std::string(); }), {"--tsporigflt", "empty.flt"}, kNoOrigin},
      {"OriginShorterThanAPeriod",
       Writes("short.flt", [] { return Flt(std::vector<float>(4096, 1.0f)); }),
       {"--tsporigflt", "short.flt"},
       kNoOrigin},
      {"OriginSilent",
       Writes("zero.flt", [] { return Flt(std::vector<float>(16384, 0.0f)); }),
       {"--tsporigflt", "zero.flt"},
       kNoOrigin},
      {"OriginIsADirectory",
       [](const std::string& dir) { fs::create_directory(dir + "/origin.d"); },
       {"--tsporigflt", "origin.d"},
       kNoOrigin},
      {"OriginIsEndless", [](const std::string&) {}, {"--tsporigflt", "/dev/zero"}, kNoOrigin},
      // Wave origins.
      {"WaveOriginWithoutChannels",
       Writes("o.wav", [] { return Wave(Channels(0), Pcm16(1, 100)); }),
       {"--tsporigwav", "o.wav"},
       kNoOrigin},
      {"WaveOriginDataSizeLies",
       Writes("o.wav", [lyingAll] { return Wave(lyingAll, Pcm16(2, 100)); }),
       {"--tsporigwav", "o.wav"},
       kNoOrigin},
      {"WaveOriginChannelAbsent",
       Writes("o.wav", [] { return Wave(Channels(2), Pcm16(2, 16384)); }),
       {"--tsporigwav", "o.wav", "--tsporigchannel", "100"},
       "Value of tsporigchannel is incorrect. \n"},
  };
}

class DravikSignal : public ::testing::Test {
protected:
  void SetUp() override {
    WriteWhole(dir_ / "origin.flt", Flt(ImpulsePeriod()));
    WriteWhole(dir_ / "out_ch1.flt", kEarlier);
    WriteWhole(dir_ / "out_ch2.flt", kEarlier);
  }
  Outcome Dravik(const std::vector<std::string>& extra, const std::string& recording = "rec.wav",
                 const std::string& head = "out") {
    std::vector<std::string> argv = {
        RequireProgram("DRAVIK_BIN"), "--tsporigflt", "origin.flt", "--syncaddfreq", "1", "--syncaddoffset", "0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(recording);
    argv.push_back(head);
    return RunProgram(argv, dir_.Path());
  }
  ScratchDir dir_;
};

class DravikHostile : public DravikSignal, public ::testing::WithParamInterface<DravikCase> {};

// The origin and options the cases start from are sound: with a valid
// recording both channels are written whole.
TEST_F(DravikSignal, TheUnchangedRunWritesEveryChannel) {
  WriteWave(dir_ / "rec.wav", 2, ImpulsePeriod());
  const Outcome o = Dravik({});
  ASSERT_TRUE(EndedCleanly(o, 0));
  EXPECT_EQ(fs::file_size(dir_ / "out_ch1.flt"), 16384u);
  EXPECT_EQ(fs::file_size(dir_ / "out_ch2.flt"), 16384u);
}

TEST_P(DravikHostile, StopsWithItsMessageAndKeepsEarlierFiles) {
  const DravikCase& c = GetParam();
  c.prepare(dir_.Path());
  const Tree before = Snapshot(dir_.Path());
  const Outcome o = Dravik(c.extraArgs);
  if (EndedCleanly(o, 255)) ExpectMentions(o, o.out, {c.stdoutMention});
  ExpectNothingLost(before, Snapshot(dir_.Path()));
}

INSTANTIATE_TEST_SUITE_P(Files, DravikHostile, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<DravikCase>& testInfo) { return testInfo.param.name; });

// A recording with 70 channels: the first 64 are computed, the rest are
// not selectable, and every file written is whole.
TEST_F(DravikSignal, ChannelsFrom64UpAreLeftOut) {
  WriteWave(dir_ / "rec.wav", 70, ImpulsePeriod());
  const Outcome o = Dravik({});
  ASSERT_TRUE(EndedCleanly(o, 0));
  for (int k = 1; k <= 64; ++k) EXPECT_EQ(fs::file_size(dir_ / ("out_ch" + std::to_string(k) + ".flt")), 16384u) << k;
  EXPECT_FALSE(fs::exists(dir_ / "out_ch65.flt"));
}

// A data chunk that claims 2 GB over one real period: the frames that are
// there are used and memory follows them, not the claim.
TEST_F(DravikSignal, DataSizeClaimBeyondTheFileIsCutToTheFile) {
  WaveClaims claims = Channels(1);
  claims.formatTag = 3;
  claims.bitsPerSample = 32;
  claims.dataChunkSize = 0x7ffffff0;
  WriteWhole(dir_ / "rec.wav", HandMadeWave(claims, Flt(ImpulsePeriod())));
  const Outcome o = Dravik({});
  ASSERT_TRUE(EndedCleanly(o, 0));
  // The recording is the origin itself, so the response is an impulse at 0.
  const std::string expected = Flt([] {
    std::vector<float> ir(4096, 0.0f);
    ir[0] = 1.0f;
    return ir;
  }());
  const std::string got = ReadWhole(dir_ / "out_ch1.flt");
  ASSERT_EQ(got.size(), expected.size());
  // FFT round-off of a unit impulse stays far below 1e-6 per sample.
  for (std::size_t at = 0; at < got.size(); at += 4) {
    float g, e;
    std::memcpy(&g, got.data() + at, 4);
    std::memcpy(&e, expected.data() + at, 4);
    EXPECT_NEAR(g, e, 1e-6) << "sample " << at / 4;
  }
}

// The second file cannot be written: the first is complete, the second
// keeps what it was, and no temporary file is left behind.
TEST_F(DravikSignal, AFailedWriteLeavesWholeFilesOnly) {
  WriteWave(dir_ / "rec.wav", 2, ImpulsePeriod());
  fs::remove(dir_ / "out_ch2.flt");
  fs::create_directory(dir_ / "out_ch2.flt");
  WriteWhole(dir_ / "out_ch2.flt/keep", kEarlier);
  Tree before = Snapshot(dir_.Path());
  const Outcome o = Dravik({});
  ASSERT_TRUE(EndedCleanly(o, 1));
  EXPECT_EQ(o.err, "File open failed: out_ch2.flt: Is a directory\n");
  EXPECT_EQ(fs::file_size(dir_ / "out_ch1.flt"), 16384u);
  Tree after = Snapshot(dir_.Path());
  before.erase("out_ch1.flt");
  after.erase("out_ch1.flt");
  ExpectNothingLost(before, after);
}

TEST_F(DravikSignal, AnOutputDirectoryThatIsMissingIsReported) {
  WriteWave(dir_ / "rec.wav", 2, ImpulsePeriod());
  const Tree before = Snapshot(dir_.Path());
  const Outcome o = Dravik({}, "rec.wav", "absent/out");
  ASSERT_TRUE(EndedCleanly(o, 1));
  EXPECT_EQ(o.err, "File open failed: absent/out_ch1.flt: No such file or directory\n");
  ExpectNothingLost(before, Snapshot(dir_.Path()));
}

// Samples that are not finite numbers, in the recording or the origin:
// dravik stops naming the file and the place, and writes nothing.
struct NonFiniteCase {
  std::string name;
  std::vector<SampleOverride> recording;  // in rec.wav (two channels)
  std::size_t originSample;               // NaN there in the origin; SIZE_MAX for none
  std::vector<std::string> extraArgs;
  std::string message;
};

void PrintTo(const NonFiniteCase& c, std::ostream* os) { *os << c.name; }

class NonFinite : public DravikSignal, public ::testing::WithParamInterface<NonFiniteCase> {};

TEST_P(NonFinite, StopsBeforeAnyFileIsWritten) {
  const NonFiniteCase& c = GetParam();
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  std::vector<SampleOverride> recording = c.recording;
  for (SampleOverride& o : recording) o.value = o.value == 1.0f ? nan : o.value == 2.0f ? inf : -inf;
  std::vector<float> period = ImpulsePeriod();
  // Three periods, so that an onset search has room.
  std::vector<float> samples;
  for (int k = 0; k < 3; ++k) samples.insert(samples.end(), period.begin(), period.end());
  WriteWave(dir_ / "rec.wav", 2, samples, recording);
  if (c.originSample != SIZE_MAX) {
    period[c.originSample] = nan;
    WriteWhole(dir_ / "origin.flt", Flt(period));
  }
  const Tree before = Snapshot(dir_.Path());
  const Outcome o = Dravik(c.extraArgs);
  if (EndedCleanly(o, 255)) ExpectMentions(o, o.out, {c.message});
  ExpectNothingLost(before, Snapshot(dir_.Path()));
}

// In `recording`, value 1 stands for NaN, 2 for +infinity, 3 for -infinity.
INSTANTIATE_TEST_SUITE_P(
    Samples, NonFinite,
    ::testing::Values(
        NonFiniteCase{"NaNInTheSecondChannel",
                      {{1, 100, 1.0f}},
                      SIZE_MAX,
                      {},
                      "wavefile(rec.wav): channel 1, frame 100 is not a finite number.\n"},
        NonFiniteCase{"InfinityAtTheLastFrameAveraged",
                      {{0, 16383, 2.0f}, {1, 20000, 3.0f}},
                      SIZE_MAX,
                      {},
                      "wavefile(rec.wav): channel 0, frame 16383 is not a finite number.\n"},
        NonFiniteCase{"NaNInTheSearchedRegion",
                      {{0, 40000, 1.0f}},
                      SIZE_MAX,
                      {"--searchoffset", "0,49152", "--outchannellist", "0,1"},
                      "wavefile(rec.wav): channel 0, frame 40000 is not a finite number.\n"},
        NonFiniteCase{"NaNInTheOrigin", {}, 7, {}, "tsp origin file(origin.flt): sample 7 is not a finite number.\n"}),
    [](const ::testing::TestParamInfo<NonFiniteCase>& testInfo) { return testInfo.param.name; });

// .flt impulse responses of odd sizes in an impulse-response list: bytes
// after the last whole sample are dropped, too few samples end the run.
struct FltCase {
  std::string name;
  std::size_t bytes;    // size of the .flt file
  int status;           // trelvix's exit status
  std::string mention;  // in its standard error when it fails
};

void PrintTo(const FltCase& c, std::ostream* os) { *os << c.name; }

class FltSize : public ::testing::TestWithParam<FltCase> {};

TEST_P(FltSize, OddSizesEndCleanly) {
  const FltCase& c = GetParam();
  ScratchDir dir;
  WriteWhole(dir / "mic.xml", MicArrayXml());
  WriteWhole(dir / "list.xml", IRListXml());
  std::vector<float> ir(600, 0.0f);
  ir[0] = 1.0f;
  WriteWhole(dir / "ir.flt", Flt(ir).substr(0, c.bytes));
  WriteWhole(dir / "tf.bin", "a transfer-function file of an earlier run\n");
  const Tree before = Snapshot(dir.Path());
  const Outcome o =
      RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "tf", "-o", "tf.bin", "mic.xml", "list.xml"}, dir.Path());
  if (!EndedCleanly(o, c.status)) return;
  if (c.status == 0) {
    // The partial sample is dropped: the response read has 512 samples.
    const Outcome dump = RunProgram({RequireProgram("VESKDUMP_BIN"), "tf.bin"}, dir.Path());
    if (EndedCleanly(dump, 0)) ExpectMentions(dump, dump.out, {"\"irLength\":512,"});
  } else {
    ExpectMentions(o, o.err, {c.mention});
    ExpectNothingLost(before, Snapshot(dir.Path()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FltSize,
    ::testing::Values(FltCase{"Empty", 0, 1, "failed GetIR(src=0, mic=0)"},
                      FltCase{"ThreeBytes", 3, 1, "failed GetIR(src=0, mic=0)"},
                      FltCase{"ShortOfOneSampleByOneByte", 2047, 1,
                              "impulse response of src 0, mic 0 is too short: 511 samples available, 512 needed"},
                      FltCase{"OneByteOverWholeSamples", 2049, 0, ""},
                      FltCase{"ThreeBytesOverWholeSamples", 2051, 0, ""}),
    [](const ::testing::TestParamInfo<FltCase>& testInfo) { return testInfo.param.name; });

// Impulse responses that are not finite, or whose transfer functions or
// energy would not be: the run stops, naming where, and writes nothing.
struct NonFiniteTFCase {
  std::string name;
  std::vector<std::pair<std::size_t, float>> samples;  // of the 600 in ir.flt; the rest 0
  std::string outputType;
  int status;
  std::string message;  // the end of trelvix's standard error when it fails
};

void PrintTo(const NonFiniteTFCase& c, std::ostream* os) { *os << c.name; }

class NonFiniteTF : public ::testing::TestWithParam<NonFiniteTFCase> {};

TEST_P(NonFiniteTF, StopsBeforeTheFileIsWritten) {
  const NonFiniteTFCase& c = GetParam();
  ScratchDir dir;
  WriteWhole(dir / "mic.xml", MicArrayXml());
  WriteWhole(dir / "list.xml", IRListXml());
  std::vector<float> ir(600, 0.0f);
  for (const auto& [at, value] : c.samples) ir[at] = value;
  WriteWhole(dir / "ir.flt", Flt(ir));
  WriteWhole(dir / "tf.bin", "a transfer-function file of an earlier run\n");
  const Tree before = Snapshot(dir.Path());
  const Outcome o = RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "tf", "--output-type", c.outputType, "-o",
                                "tf.bin", "mic.xml", "list.xml"},
                               dir.Path());
  if (!EndedCleanly(o, c.status) || c.status == 0) return;
  EXPECT_GE(o.err.size(), c.message.size()) << Describe(o);
  EXPECT_EQ(o.err.substr(o.err.size() - std::min(o.err.size(), c.message.size())), c.message) << Describe(o);
  ExpectNothingLost(before, Snapshot(dir.Path()));
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The window read is samples 0 to 511 (cutStart 1, nfft 512).
INSTANTIATE_TEST_SUITE_P(
    Flt, NonFiniteTF,
    ::testing::Values(
        NonFiniteTFCase{
            "NaNInTheWindow", {{0, 1.0f}, {37, kNaN}}, "m2pg", 1, "ir.flt: sample 37 is not a finite number\n"},
        NonFiniteTFCase{"InfinityAtTheWindowsEnd",
                        {{0, 1.0f}, {511, -kInf}},
                        "gtf",
                        1,
                        "ir.flt: sample 511 is not a finite number\n"},
        NonFiniteTFCase{"NaNAfterTheWindow", {{0, 1.0f}, {512, kNaN}}, "gtf", 0, ""},
        NonFiniteTFCase{"SpectrumOverflows",
                        {{0, 3e38f}, {1, 3e38f}},
                        "m2pg",
                        1,
                        "the transfer function of src 0, mic 0 is not finite (bin 0)\n"},
        NonFiniteTFCase{"EnergyOverflows",
                        {{3, 3e19f}},
                        "gtf",
                        1,
                        "the energy of src 0 overflows single precision at mic 0: its impulse responses are far "
                        "too large\n"},
        NonFiniteTFCase{"NoEnergy",
                        {},
                        "gtf",
                        1,
                        "the impulse responses of src 0 have zero energy in single precision at every microphone "
                        "(mic 0 to 0), so its transfer functions would not be finite\n"}),
    [](const ::testing::TestParamInfo<NonFiniteTFCase>& testInfo) { return testInfo.param.name; });

// An impulse-response list naming an endless file (a device such as
// /dev/zero, or a pipe) must not be read without end.
TEST(FltFile, AnEndlessImpulseFileIsRefused) {
  ScratchDir dir;
  WriteWhole(dir / "mic.xml", MicArrayXml());
  WriteWhole(dir / "list.xml", IRListXml("/dev/zero"));
  const Outcome o =
      RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "tf", "-o", "tf.bin", "mic.xml", "list.xml"}, dir.Path());
  if (EndedCleanly(o, 1)) ExpectMentions(o, o.err, {"/dev/zero"});
  EXPECT_FALSE(fs::exists(dir / "tf.bin"));
}

}  // namespace
}  // namespace hostile
