// The program's command line as a user meets it: texts on both streams and
// exit statuses, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "TestSignals.h"

namespace {

using dravik_test::RunResult;
using dravik_test::TempDir;

// Build date and time as the program prints them, taken from its version line.
std::string build_stamp() {
  RunResult r = dravik_test::run_program(dravik_test::dravik_program(), {"-v", "a", "b"});
  std::smatch match;
  std::regex pattern(
      R"(^calc impluse from TSP wave\(compile time: ([A-Z][a-z]{2} [ 0-9]\d \d{4} \d\d:\d\d:\d\d)\)\n$)");
  if (!std::regex_match(r.out, match, pattern)) return "unparsed version line: " + r.out;
  return match[1];
}

std::string usage_text() {
  return "./dravik [option] inputfile outimpfilehead \n"
         "calculate impluse from TSP wave\n"
         "(fix time: 2013/10/30, compile time: " +
         build_stamp() +
         ")\n"
         "\n"
         "DESCRIPTION\n"
         "\tinputfile   : 16bit or 24bit , 8ch or 10ch or 16ch , 16kHz wave format\n"
         "\t              48KHz is not available yet.\n"
         "\timpfilehead : its extention is k.flt where k is ch number.\n"
         "\t              each imp file is 32bit float mono 1-ch raw data\n"
         "\t  eg.) when outimpfilehead = 'a', file names are 'a_ch1.flt', 'a_ch2.flt', ...\n"
         "\n"
         "[option]\n"
         "\t--tsporigflt file_name   : playing tsp file(float-data) when recording tsp wave.\n"
         "\t--tsporigwav file_name   : playing tsp file(PCM-wave) when recording tsp wave.\n"
         "\t--tsporigchannel N       : select use cahnnel of tsp origin file(PCM-wave).\n"
         "\t--sigmax N               : set optional signal max for tsp original file\n"
         "\t                         (not working on using --tsporigwav.)\n"
         "\t--samplebyframe N        : sample by one frame(default = 16384) \n"
         "\t--syncaddfreq N          : frequency of synchronous addition(default = 16) \n"
         "\t--syncaddoffset N        : start position of synchronous addition(default = 16384) \n"
         "\t--searchoffset N,N       : using searched start position.(search start pos, search end pos is required.) \n"
         "\t--outchannellist N,N,... : select calulating channel.(first channel is ch0.)\n"
         "\t--enableHPF Lfreq,Hfreq  : enable HighPassFilter.\n";
}

// A working set-up: a 4096-sample TSP origin of peak 0.8 and a 2-channel
// recording of 3 periods after a lead-in of 100 frames.
class DravikCommandLine : public ::testing::Test {
protected:
  void SetUp() override {
    tsp_ = dravik_test::make_tsp(4096, 0.8);
    dravik_test::write_raw_float(dir_.path("tsp.flt"), tsp_);
    dravik_test::write_wave(dir_.path("rec.wav"), dravik_test::make_recording({tsp_, tsp_}, 100, 3, 0), 2);
  }

  RunResult run(const std::vector<std::string>& args) {
    return dravik_test::run_program(dravik_test::dravik_program(), args, dir_.dir());
  }

  // The options every run below needs for the small set-up.
  std::vector<std::string> with_setup(std::vector<std::string> args) {
    std::vector<std::string> all = {"--tsporigflt",  "tsp.flt", "--samplebyframe", "4096",
                                    "--syncaddfreq", "3",       "--syncaddoffset", "100"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  static constexpr const char* kOriginLines = "tsp_file_size = 16384\ntsp_adjust_ratio = 0.800000\n";

  TempDir dir_;
  std::vector<double> tsp_;
};

TEST_F(DravikCommandLine, TooFewArgumentsPrintUsage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"rec.wav"}, {"-v"}}) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(DravikCommandLine, VersionWithTwoArgumentsInAnyOrder) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-v", "a", "b"}, {"a", "-v", "b"}, {"a", "b", "-v", "--sigmax", "0"}}) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "calc impluse from TSP wave(compile time: " + build_stamp() + ")\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(DravikCommandLine, UnknownOptionAndMissingValue) {
  const std::string program = dravik_test::dravik_program();
  RunResult unknown = run({"--bogus", "a", "b"});
  EXPECT_EQ(unknown.status, 255);
  EXPECT_EQ(unknown.err, program + ": unrecognized option '--bogus'\n");
  EXPECT_EQ(unknown.out, "?? getopt returned character code 077 ??\n");

  RunResult missing = run({"a", "b", "--sigmax"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err, program + ": option '--sigmax' requires an argument\n");
  EXPECT_EQ(missing.out, "?? getopt returned character code 077 ??\n");

  RunResult short_option = run({"-x", "a", "b"});
  EXPECT_EQ(short_option.status, 255);
  EXPECT_EQ(short_option.err, program + ": invalid option -- 'x'\n");
  EXPECT_EQ(short_option.out, "?? getopt returned character code 077 ??\n");
}

TEST_F(DravikCommandLine, ZeroValuesAreRefusedAsTheyAreParsed) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  for (const Case& c :
       std::vector<Case>{{{"--sigmax", "0", "a", "b"}, "Adjust ratio must not 0.\n"},
                         {{"--sigmax", "x", "a", "b"}, "Adjust ratio must not 0.\n"},
                         {{"--samplebyframe", "abc", "a", "b"}, "Value of samplebyframe is incorrect. \n"},
                         {{"--syncaddfreq", "0", "a", "b"}, "Value of syncaddfreq is incorrect. \n"},
                         // The first refusal ends the parse.
                         {{"--searchoffset", "1,2", "--syncaddfreq", "0", "--sigmax", "0", "a", "b"},
                          "search pos = 1-2. \nValue of syncaddfreq is incorrect. \n"}}) {
    RunResult r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.args[0];
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(DravikCommandLine, ValuesTheCalculationCannotUseAreRefusedWithUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c :
       std::vector<Case>{{{"--samplebyframe", "4095", "a", "b"}, "Value of samplebyframe is incorrect. \n"},
                         {{"--samplebyframe", "-16384", "a", "b"}, "Value of samplebyframe is incorrect. \n"},
                         {{"--syncaddfreq", "-2", "a", "b"}, "Value of syncaddfreq is incorrect. \n"},
                         {{"--searchoffset", "1000", "a", "b"}, "Value of searchoffset is incorrect. \n"},
                         {{"--searchoffset", "1000,", "a", "b"}, "Value of searchoffset is incorrect. \n"},
                         {{"--searchoffset", ",1000", "a", "b"}, "Value of searchoffset is incorrect. \n"},
                         {{"--searchoffset", "-10,1000", "a", "b"}, "Value of searchoffset is incorrect. \n"},
                         {{"--searchoffset", "500,500", "a", "b"}, "Value of searchoffset is incorrect. \n"},
                         {{"--enableHPF", "100", "a", "b"}, "Value of enableHPF is incorrect. \n"},
                         {{"--enableHPF", "100,x", "a", "b"}, "Value of enableHPF is incorrect. \n"},
                         {{"a", "b", "c"}, "Error: incorrect arg count.\n"},
                         {{"--syncaddfreq", "4", "a"}, "Error: incorrect arg count.\n"}}) {
    RunResult r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(r.out, c.message + usage_text()) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(DravikCommandLine, SearchNeedsAChannelListAndAnnouncesItsRegionAtOnce) {
  RunResult refused = run({"--searchoffset", "1000,40000", "a", "b"});
  EXPECT_EQ(refused.status, 255);
  EXPECT_EQ(refused.out,
            "search pos = 1000-40000. \n"
            "Error: --searchoffset needs --outchannellist for calculation.\n" +
                usage_text());

  // The region is printed while parsing, before any file is looked at;
  // a third number is ignored.
  RunResult early =
      run({"--searchoffset", "1000,40000,5", "--outchannellist", "0", "--tsporigflt", "missing.flt", "rec.wav", "out"});
  EXPECT_EQ(early.status, 255);
  EXPECT_EQ(early.out, "search pos = 1000-40000. \ntsp_file_size = -1\ntsp origin file is not read.\n");
}

TEST_F(DravikCommandLine, UnusableTspOriginsAreNotRead) {
  dravik_test::write_raw_float(dir_.path("silent.flt"), std::vector<double>(4096, 0.0));
  std::vector<double> one_short(tsp_.begin(), tsp_.end() - 1);
  dravik_test::write_raw_float(dir_.path("short.flt"), one_short);
  {
    std::string bytes = dravik_test::read_text(dir_.path("tsp.flt"));
    std::ofstream odd(dir_.path("odd.flt"), std::ios::binary);
    odd.write(bytes.data(), 16383);
  }
  struct Case {
    std::string file;
    std::string out;
  };
  for (const Case& c : std::vector<Case>{{"silent.flt", "tsp_file_size = 16384\ntsp origin file is not read.\n"},
                                         {"short.flt", "tsp_file_size = 16380\ntsp origin file is not read.\n"},
                                         {"odd.flt", "tsp_file_size = 16383\ntsp origin file is not read.\n"},
                                         {"missing.flt", "tsp_file_size = -1\ntsp origin file is not read.\n"}}) {
    RunResult r = run(with_setup({"--sigmax", "1", "--tsporigflt", c.file, "rec.wav", "out"}));
    EXPECT_EQ(r.status, 255) << c.file;
    EXPECT_EQ(r.out, c.out) << c.file;
  }
  RunResult wave = run(with_setup({"--tsporigwav", "missing.wav", "rec.wav", "out"}));
  EXPECT_EQ(wave.status, 255);
  EXPECT_EQ(wave.out, "tsp origin file is not read.\n");
  RunResult channel = run(with_setup({"--tsporigwav", "rec.wav", "--tsporigchannel", "2", "rec.wav", "out"}));
  EXPECT_EQ(channel.status, 255);
  EXPECT_EQ(channel.out, "Value of tsporigchannel is incorrect. \n" + usage_text());
}

TEST_F(DravikCommandLine, RecordingMissingOrTooShort) {
  RunResult missing = run(with_setup({"nothere.wav", "out"}));
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.out, std::string(kOriginLines) + "wavefile(nothere.wav) is not found.\n");

  // 100 + 3·4096 = 12388 frames are there; one period more is not.
  RunResult too_short = run(with_setup({"--syncaddfreq", "4", "rec.wav", "out"}));
  EXPECT_EQ(too_short.status, 255);
  EXPECT_EQ(too_short.out, std::string(kOriginLines) + "Wave length(12388) is short when sync_add_freq = 4.\n");

  // A window that would start before the recording is refused the same way.
  RunResult before = run(with_setup({"--syncaddoffset", "-1", "rec.wav", "out"}));
  EXPECT_EQ(before.status, 255);
  EXPECT_EQ(before.out, std::string(kOriginLines) + "Wave length(12388) is short when sync_add_freq = 3.\n");
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("out_ch1.flt")));
}

TEST_F(DravikCommandLine, ChannelListSelectsAndNumbersFilesInChannelOrder) {
  RunResult none = run(with_setup({"--outchannellist", "x", "rec.wav", "out"}));
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, std::string(kOriginLines) + "calc_impulse...\n");
  EXPECT_EQ(none.err, "");
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("out_ch1.flt")));

  RunResult filtered = run(with_setup({"--outchannellist", "1,70,x,-1", "rec.wav", "sel"}));
  EXPECT_EQ(filtered.status, 0);
  EXPECT_TRUE(dravik_test::file_exists(dir_.path("sel_ch1.flt")));
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("sel_ch2.flt")));

  // A later list starts again from an empty selection.
  RunResult later = run(with_setup({"--outchannellist", "0,1", "--outchannellist", "1", "rec.wav", "again"}));
  EXPECT_EQ(later.status, 0);
  EXPECT_TRUE(dravik_test::file_exists(dir_.path("again_ch1.flt")));
  EXPECT_FALSE(dravik_test::file_exists(dir_.path("again_ch2.flt")));
}

TEST_F(DravikCommandLine, ParsingFollowsGetoptAndStrtol) {
  // Abbreviations, "=" values, options after the positional arguments,
  // blanks, signs and trailing garbage in numbers.
  RunResult r =
      run({"rec.wav", "--tsporigf=tsp.flt", "--samplebyf", " +4096xyz", "out", "--syncaddf", "3", "--syncaddo=100abc"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kOriginLines) + "calc_impulse...\n");
  EXPECT_EQ(dravik_test::read_flt(dir_.path("out_ch2.flt")).size(), 4096u);

  // A value without digits gives offset 0: the window then starts in the
  // lead-in, which here still leaves enough frames.
  RunResult zero = run(with_setup({"--syncaddoffset", "abc", "rec.wav", "zero"}));
  EXPECT_EQ(zero.status, 0);

  // The last of --tsporigwav and --tsporigflt decides the kind.
  RunResult last = run(with_setup({"--tsporigwav", "rec.wav", "--tsporigflt", "tsp.flt", "rec.wav", "k"}));
  EXPECT_EQ(last.status, 0);
  EXPECT_EQ(last.out, std::string(kOriginLines) + "calc_impulse...\n");
}

TEST_F(DravikCommandLine, UnwritableOutputEndsWithStatusOne) {
  RunResult r = run(with_setup({"rec.wav", "no/such/dir/out"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(kOriginLines) + "calc_impulse...\n");
  EXPECT_EQ(r.err, "File open failed: no/such/dir/out_ch1.flt: No such file or directory\n");
}

TEST_F(DravikCommandLine, LongFileNamesAreUsedWhole) {
  // Nested directories make names of about 4000 bytes that the system
  // still accepts: nothing is cut at a fixed buffer size.
  std::string relative;
  for (int level = 0; level < 15; ++level) relative += std::string(250, 'd') + "/";
  std::filesystem::create_directories(dir_.path(relative));
  std::filesystem::copy_file(dir_.path("tsp.flt"), dir_.path(relative + "tsp.flt"));
  std::string head = relative + std::string(200, 'o');
  RunResult ok = run(with_setup({"--tsporigflt", relative + "tsp.flt", "rec.wav", head}));
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_EQ(dravik_test::read_flt(dir_.path(head + "_ch2.flt")).size(), 4096u);

  // Past the system's limit the whole name is reported, not a cut one.
  std::string too_long = relative + std::string(250, 'x') + "/" + std::string(200, 'o');
  ASSERT_GT(too_long.size(), 4096u);
  RunResult failed = run(with_setup({"rec.wav", too_long}));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "File open failed: " + too_long + "_ch1.flt: File name too long\n");
}

}  // namespace
