// Option values at the edges of their types ("-1" for an unsigned count
// reads as 4294967295): each is refused with a message before any large
// piece of work or memory is taken, and output from an earlier run stays.
#include "HostileFiles.h"
#include "HostileRun.h"

namespace hostile {
namespace {

struct OptionCase {
  std::string name;
  std::string program;              // environment variable of the program
  std::vector<std::string> args;    // the whole argument list
  int status;
  std::string mention;              // exact fixed text of the message
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
    // dravik reports on standard output, trelvix on standard error.
    if (EndedCleanly(o, c.status)) ExpectMentions(o, c.program == "DRAVIK_BIN" ? o.out : o.err, {c.mention});
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
        OptionCase{"TemplateNumAziMinusOne", "TRELVIX_BIN",
                   {"--mode", "template", "-t", "noise", "--numazi", "-1", "-o", "out.xml"}, 1,
                   "too many positions: numazi 4294967295 x numheight 1 = 4294967295 exceeds the limit of 10000000"},
        OptionCase{"TemplateGridOfTenBillion", "TRELVIX_BIN",
                   {"--mode", "template", "-t", "ir", "--numazi", "100000", "--numheight", "100000", "-o", "out.xml"},
                   1, "too many positions: numazi 100000 x numheight 100000 = 10000000000 exceeds the limit"},
        OptionCase{"TemplateChannelBeyondMics", "TRELVIX_BIN",
                   {"--mode", "template", "-t", "mic", "--nummic", "4", "--mic-channels", "1,4294967295", "-o",
                    "out.xml"},
                   1, "mic-channels entry 4294967295 is not below the number of microphones, 4"},
        OptionCase{"TFNfftZero", "TRELVIX_BIN", {"--mode", "tf", "--nfft", "0", "-o", "tf.bin", "mic.xml", "list.xml"},
                   1, "nfft must be at least 1, but 0 is given"},
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

// --nfft -1 (read as 4294967295), or any nfft far beyond the impulse
// responses, must be refused before it sizes anything (once it took all the
// machine's memory).
TEST_F(Options, AnNfftBeyondAnyResponseIsRefusedBeforeItAllocates) {
  WriteWhole(dir_ / "tsp.xml", TSPListXml(TSPSourceXml("rec.wav")));
  ExpectRefused({"Measured", "TRELVIX_BIN", {"--mode", "tf", "--nfft", "-1", "-o", "tf.bin", "mic.xml", "list.xml"},
                 1, "nfft"});
  ExpectRefused({"Geometric", "TRELVIX_BIN",
                 {"--mode", "tf", "--geometry-calculus", "1", "--nfft", "-1", "-o", "tf.bin", "mic.xml", "tsp.xml"},
                 1, "nfft"});
}

}  // namespace
}  // namespace hostile
