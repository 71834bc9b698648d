// Option values at the edges of their types ("-1" for an unsigned count
// reads as 4294967295): each is refused with a message before any large
// piece of work or memory is taken, and output from an earlier run stays.
#include <sys/stat.h>

#include "HostileFiles.h"
#include "HostileRun.h"

namespace hostile {
namespace {

struct OptionCase {
  std::string name;
  std::string program;            // environment variable of the program
  std::vector<std::string> args;  // the whole argument list
  int status;
  std::string mention;  // exact fixed text of the message
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class Options : public ::testing::Test {
protected:
  void SetUp() override {
    WriteWhole(dir_ / "mic.xml", MicArrayXml());
    WriteWhole(dir_ / "list.xml", IRListXml());
    std::vector<float> ir(512, 0.0f);
    ir[0] = 1.0f;
    WriteWhole(dir_ / "ir.flt", Flt(ir));
    WriteWhole(dir_ / "origin.flt", Flt(ImpulsePeriod()));
    WriteWave(dir_ / "rec.wav", 2, ImpulsePeriod());
    for (const char* output : {"out.xml", "tf.bin", "out_ch1.flt", "out_ch2.flt"})
      WriteWhole(dir_ / output, "output of an earlier run\n");
  }
  void ExpectRefused(const OptionCase& c) {
    const Tree before = Snapshot(dir_.Path());
    std::vector<std::string> argv = {RequireProgram(c.program.c_str())};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const Outcome o = RunProgram(argv, dir_.Path());
    // dravik reports on standard output, and so do tfcheck's findings (status
    // 3); every other refusal is on standard error.
    const bool onOutput = c.program == "DRAVIK_BIN" || (c.program == "TFCHECK_BIN" && c.status == 3);
    if (EndedCleanly(o, c.status)) ExpectMentions(o, onOutput ? o.out : o.err, {c.mention});
    ExpectNothingLost(before, Snapshot(dir_.Path()));
  }
  ScratchDir dir_;
};

class OptionValues : public Options, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionValues, AreRefusedAndKeepEarlierOutput) { ExpectRefused(GetParam()); }

std::vector<std::string> Dravik(std::vector<std::string> options) {
  const std::vector<std::string> common = {"--tsporigflt", "origin.flt", "--syncaddoffset", "0"};
  options.insert(options.begin(), common.begin(), common.end());
  options.push_back("rec.wav");
  options.push_back("out");
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, OptionValues,
    ::testing::Values(
        OptionCase{"TemplateNumAziMinusOne",
                   "TRELVIX_BIN",
                   {"--mode", "template", "-t", "noise", "--numazi", "-1", "-o", "out.xml"},
                   1,
                   "too many positions: numazi 4294967295 x numheight 1 = 4294967295 exceeds the limit of 10000000"},
        OptionCase{"TemplateGridOfTenBillion",
                   "TRELVIX_BIN",
                   {"--mode", "template", "-t", "ir", "--numazi", "100000", "--numheight", "100000", "-o", "out.xml"},
                   1,
                   "too many positions: numazi 100000 x numheight 100000 = 10000000000 exceeds the limit"},
        OptionCase{
            "TemplateChannelBeyondMics",
            "TRELVIX_BIN",
            {"--mode", "template", "-t", "mic", "--nummic", "4", "--mic-channels", "1,4294967295", "-o", "out.xml"},
            1,
            "mic-channels entry 4294967295 is not below the number of microphones, 4"},
        OptionCase{"TFNfftZero",
                   "TRELVIX_BIN",
                   {"--mode", "tf", "--nfft", "0", "-o", "tf.bin", "mic.xml", "list.xml"},
                   1,
                   "nfft must be at least 1, but 0 is given"},
        OptionCase{"TspgenNegativeAverages",
                   "TSPGEN_BIN",
                   {"--synchronous-average", "-1"},
                   1,
                   "--synchronous-average must be at least 1 and at most 4294967296, found -1"},
        OptionCase{"TspgenNegativeOffset",
                   "TSPGEN_BIN",
                   {"--tsp-offset", "-1"},
                   1,
                   "--tsp-offset must lie from 0 to 4294967296, found -1"},
        OptionCase{"TspgenPeakBelowOneSample",
                   "TSPGEN_BIN",
                   {"--peak", "0.4"},
                   1,
                   "TSP peak must lie in [1, 32767], found 0.4"},
        OptionCase{"TspgenNegativeRate",
                   "TSPGEN_BIN",
                   {"--sampling-freq", "-1"},
                   1,
                   "--sampling-freq must be at least 1 and at most 2147483647, found -1"},
        OptionCase{"TspgenPlaybackBeyondWave",
                   "TSPGEN_BIN",
                   {"--tsp-length", "16777216", "--synchronous-average", "200"},
                   1,
                   "a playback of 201 periods of 16777216 samples exceeds the 4 GiB a WAV file can hold"},
        OptionCase{"DravikPeriodBeyondInt", "DRAVIK_BIN", Dravik({"--samplebyframe", "4294967295"}), 255,
                   "tsp origin file is not read.\n"},
        OptionCase{"DravikPeriodOfMaxInt", "DRAVIK_BIN", Dravik({"--samplebyframe", "2147483647"}), 255,
                   "tsp origin file is not read.\n"},
        OptionCase{"DravikNegativeAverages", "DRAVIK_BIN", Dravik({"--syncaddfreq", "-1"}), 255,
                   "Value of syncaddfreq is incorrect. \n"},
        OptionCase{"DravikAveragesBeyondRecording", "DRAVIK_BIN", Dravik({"--syncaddfreq", "2147483647"}), 255,
                   "Wave length(16384) is short when sync_add_freq = 2147483647.\n"},
        OptionCase{"DravikOffsetBeyondRecording", "DRAVIK_BIN",
                   Dravik({"--syncaddfreq", "1", "--syncaddoffset", "2147483647"}), 255,
                   "Wave length(16384) is short when sync_add_freq = 1.\n"},
        OptionCase{"DravikSearchRegionReversed", "DRAVIK_BIN",
                   Dravik({"--syncaddfreq", "1", "--searchoffset", "5000,10", "--outchannellist", "0"}), 255,
                   "Value of searchoffset is incorrect. \n"}),
    [](const ::testing::TestParamInfo<OptionCase>& testInfo) { return testInfo.param.name; });

// --nfft -1 (refused as negative rather than read as 4294967295), or any nfft far beyond the impulse
// responses, must be refused before it sizes anything (once it took all the
// machine's memory).
TEST_F(Options, AnNfftBeyondAnyResponseIsRefusedBeforeItAllocates) {
  WriteWhole(dir_ / "tsp.xml", TSPListXml(TSPSourceXml("rec.wav")));
  ExpectRefused({"Measured",
                 "TRELVIX_BIN",
                 {"--mode", "tf", "--nfft", "-1", "-o", "tf.bin", "mic.xml", "list.xml"},
                 1,
                 "the argument ('-1') for option '--nfft' is negative"});
  ExpectRefused({"Geometric",
                 "TRELVIX_BIN",
                 {"--mode", "tf", "--geometry-calculus", "1", "--nfft", "-1", "-o", "tf.bin", "mic.xml", "tsp.xml"},
                 1,
                 "the argument ('-1') for option '--nfft' is negative"});
}

std::vector<std::string> Measim(std::vector<std::string> options) {
  const std::vector<std::string> common = {"--mic", "mic.xml", "--list", "list.xml", "--output-dir", "sim"};
  options.insert(options.begin(), common.begin(), common.end());
  return options;
}

// The simulator's numbers are checked before they size or fill anything;
// "-1" for --ir-length once looped for ever, a wrapped 2^63 overflowed the
// heap, and non-finite values wrote silent or NaN recordings with status 0.
INSTANTIATE_TEST_SUITE_P(
    Measim, OptionValues,
    ::testing::Values(
        OptionCase{"IrLengthMinusOne", "MEASIM_BIN", Measim({"--ir-length", "-1"}), 1,
                   "--ir-length must be 1 to 16777216 samples, found 18446744073709551615"},
        OptionCase{"IrLengthTwoToThe63", "MEASIM_BIN", Measim({"--ir-length", "9223372036854775808"}), 1,
                   "--ir-length must be 1 to 16777216 samples, found 9223372036854775808"},
        OptionCase{"SpeedOfSoundNan", "MEASIM_BIN", Measim({"--speed-of-sound", "nan"}), 1, "--speed-of-sound"},
        OptionCase{"LatencyNan", "MEASIM_BIN", Measim({"--latency", "nan"}), 1, "--latency"},
        OptionCase{"GainInf", "MEASIM_BIN", Measim({"--gain", "inf"}), 1, "--gain"},
        OptionCase{"KaiserBetaNan", "MEASIM_BIN", Measim({"--kaiser-beta", "nan"}), 1, "--kaiser-beta"},
        OptionCase{"KaiserBetaNegative", "MEASIM_BIN", Measim({"--kaiser-beta", "-8"}), 1,
                   "--kaiser-beta must be a finite number from 0 to 50, found -8"},
        OptionCase{"KaiserBetaHuge", "MEASIM_BIN", Measim({"--kaiser-beta", "1e6"}), 1, "--kaiser-beta"},
        OptionCase{"SnrNan", "MEASIM_BIN", Measim({"--snr", "nan"}), 1, "--snr"},
        OptionCase{"DrrHuge", "MEASIM_BIN", Measim({"--drr", "-1e308"}), 1, "--drr"},
        OptionCase{"Rt60Nan", "MEASIM_BIN", Measim({"--rt60", "nan"}), 1, "--rt60"},
        OptionCase{"TailGapNan", "MEASIM_BIN", Measim({"--tail-gap", "nan"}), 1, "--tail-gap"},
        OptionCase{"ChannelLatencyNan", "MEASIM_BIN", Measim({"--channel-latency", "0=nan"}), 1,
                   "--channel-latency expects MICINDEX=SAMPLES (a micIndex of the array file, a finite number within "
                   "+-1e6), found \"0=nan\""},
        OptionCase{"ChannelLatencyUnknownMic", "MEASIM_BIN", Measim({"--channel-latency", "7=1.5"}), 1,
                   "--channel-latency 7=1.5: mic.xml has no microphone with micIndex 7"},
        // An impulse-response list once took --snr and wrote noise-free responses.
        OptionCase{"SnrOnImpulseResponses", "MEASIM_BIN", Measim({"--snr", "20"}), 1,
                   "--snr shapes the recordings of a TSP list; list.xml is an impulse-response list, whose responses "
                   "are written as simulated"},
        OptionCase{"ChannelLatencyTwice", "MEASIM_BIN",
                   Measim({"--channel-latency", "0=1", "--channel-latency", "0=2"}), 1,
                   "--channel-latency: micIndex 0 is given twice"}),
    [](const ::testing::TestParamInfo<OptionCase>& param) { return param.param.name; });

// The array estimate's options are checked before the TF file is read; the
// array file read is never the one written.
INSTANTIATE_TEST_SUITE_P(
    Tfcheck, OptionValues,
    ::testing::Values(OptionCase{"EstimateArrayWithoutMic",
                                 "TFCHECK_BIN",
                                 {"--estimate-array", "tf.bin"},
                                 1,
                                 "--estimate-array needs --mic MIC.xml (the array file the TF file was made with)"},
                      OptionCase{"WriteMicWithoutEstimate",
                                 "TFCHECK_BIN",
                                 {"--mic", "mic.xml", "--write-mic", "out.xml", "tf.bin"},
                                 1,
                                 "--write-mic needs --estimate-array"},
                      OptionCase{
                          "WriteMicOverTheArrayFile",
                          "TFCHECK_BIN",
                          {"--estimate-array", "--mic", "mic.xml", "--write-mic", "./mic.xml", "tf.bin"},
                          1,
                          "--write-mic ./mic.xml is the array file read (--mic): write the fitted one beside it"},
                      OptionCase{"TfWithoutRecordings",
                                 "TFCHECK_BIN",
                                 {"--tf", "tf.bin", "tf.bin"},
                                 1,
                                 "--tf needs --recordings LIST.xml (the list the TF file was made from)"}),
    [](const ::testing::TestParamInfo<OptionCase>& param) { return param.param.name; });

// A list's entries are written only below --output-dir: an absolute name,
// one with "..", or one naming measim's own input is refused (they once
// wrote anywhere and could replace the list being read with wave data).
TEST_F(Options, MeasimListEntriesStayBelowTheOutputDir) {
  for (const std::string& entry : {std::string("../escape.flt"), dir_.Path() + "/abs.flt", std::string("list.xml")}) {
    WriteWhole(dir_ / "list.xml", IRListXml(entry));
    const std::vector<std::string> args = {"--mic", "mic.xml", "--list", "list.xml"};
    ExpectRefused({entry, "MEASIM_BIN", args, 1, "entry \"" + entry + "\""});
  }
}

// A FIFO as an input is refused at once instead of waiting for a writer
// (the transfer-function reader of tfcheck, tfinterp and tflocate once
// waited for ever).
TEST_F(Options, PipesAsInputsAreRefusedAtOnce) {
  struct PipeCase {
    const char* program;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<PipeCase> cases = {
      {"MEASIM_BIN",
       {"--mic", "mic.xml", "--list", "tsp.xml", "--playback", "pipe", "--output-dir", "sim"},
       "--playback pipe: not a regular file"},
      {"TFCHECK_BIN", {"pipe"}, "pipe: not a regular file"},
      {"TRELVIX_BIN",
       {"--mode", "tf", "-o", "tf.bin", "mic.xml", "pipe-list.xml"},
       "cannot open the recording pipe: not a regular file"},
      {"DRAVIK_BIN",
       {"--tsporigflt", "origin.flt", "--syncaddfreq", "1", "--syncaddoffset", "0", "pipe", "out"},
       "pipe: not a regular file"},
      {"DRAVIK_BIN",
       {"--tsporigflt", "pipe", "--syncaddfreq", "1", "--syncaddoffset", "0", "rec.wav", "out"},
       "pipe: not a regular file"},
      {"VESK2SOFA_BIN", {"--ir", "pipe-ir.xml", "mic.xml", "out.sofa"}, "cannot open pipe: not a regular file"},
  };
  for (const PipeCase& c : cases) {
    SCOPED_TRACE(c.program);
    ScratchDir work;
    WriteWhole(work / "mic.xml", MicArrayXml());
    WriteWhole(work / "tsp.xml", TSPListXml(TSPSourceXml("rec.wav")));
    WriteWhole(work / "pipe-list.xml", TSPListXml(TSPSourceXml("pipe")));
    WriteWhole(work / "pipe-ir.xml", IRListXml("pipe"));
    WriteWhole(work / "origin.flt", Flt(ImpulsePeriod()));
    WriteWave(work / "rec.wav", 1, ImpulsePeriod());
    ASSERT_EQ(::mkfifo((work / "pipe").c_str(), 0600), 0);
    std::vector<std::string> argv = {RequireProgram(c.program)};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const Outcome o = RunProgram(argv, work.Path());
    // dravik reports on standard output and ends with its own status.
    const bool dravik = std::string(c.program) == "DRAVIK_BIN";
    if (EndedCleanly(o, dravik ? 255 : 1)) ExpectMentions(o, dravik ? o.out : o.err, {c.message});
    EXPECT_FALSE(fs::exists(work / "sim"));
    EXPECT_FALSE(fs::exists(work / "out.sofa"));
  }
}

// A 16-bit FLAC of 20000 frames whose header claims 2^28.
void WriteLyingFlac(const std::string& path) {
  {
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    const vesk::SoundFileHandle file(sf_open(path.c_str(), SFM_WRITE, &info));
    ASSERT_TRUE(file);
    std::vector<short> samples(20000);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<short>((i * 7919) % 2001) - 1000;
    ASSERT_EQ(sf_writef_short(file.get(), samples.data(), 20000), 20000);
  }
  std::string flac = ReadWhole(path);
  ASSERT_EQ(flac.compare(0, 4, "fLaC"), 0);
  // STREAMINFO's 36-bit total sample count: low nibble of byte 21, bytes 22-25.
  flac[21] = static_cast<char>(flac[21] & 0xf0);
  flac[22] = 0x10;
  flac[23] = flac[24] = flac[25] = 0;
  WriteWhole(path, flac);
}

// Lengths are judged by what the files hold, not by what a header or the
// list claims: memory follows the frames read (measim once took 4.2 GB for
// a lying FLAC; tfcheck 6.7 GB for a tspLength of 2^28, and judged the FLAC
// at -278 dB SNR).
TEST_F(Options, LengthsAreJudgedByTheFramesRead) {
  WriteLyingFlac(dir_ / "play.flac");
  WriteLyingFlac(dir_ / "rec.flac");
  WriteWhole(dir_ / "tsp.xml", TSPListXml(TSPSourceXml("rec.wav")));
  WriteWhole(dir_ / "flac.xml",
             Replace(TSPListXml(TSPSourceXml("rec.flac")), ">1</synchronousAverage>", ">2</synchronousAverage>"));
  WriteWhole(dir_ / "huge.xml",
             Replace(TSPListXml(TSPSourceXml("rec.flac")), ">16384</tspLength>", ">268435456</tspLength>"));
  for (const OptionCase& c : {
           OptionCase{"LyingFlacPlayback",
                      "MEASIM_BIN",
                      {"--mic", "mic.xml", "--list", "tsp.xml", "--playback", "play.flac", "--output-dir", "sim"},
                      1,
                      "play.flac: expected 268435456 frames, found 20000"},
           OptionCase{"LyingFlacRecording",
                      "TFCHECK_BIN",
                      {"--recordings", "flac.xml"},
                      3,
                      "rec.flac: 20000 frames, the list's offset and periods need 32768"},
           OptionCase{"PeriodsBeyondTheRecording",
                      "TFCHECK_BIN",
                      {"--recordings", "huge.xml"},
                      3,
                      "rec.flac: 20000 frames, the list's offset and periods need 268435456"},
       }) {
    SCOPED_TRACE(c.name);
    ExpectRefused(c);
  }
}

}  // namespace
}  // namespace hostile
