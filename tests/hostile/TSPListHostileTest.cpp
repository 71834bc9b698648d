// TSP lists given to trelvix --mode tf: recording names that a shell would
// split, expand or run, or that climb out with .. or start at the root, and
// list values dravik cannot use. trelvix runs dravik once per recording;
// no command of a name may run, every file dravik writes stays inside the
// provider's temporary directory, and a failed run keeps the output file.
#include <functional>
#include <set>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "HostileFiles.h"
#include "HostileRun.h"
#include "veskio2/FltFile.h"

namespace hostile {
namespace {

const char* const kEarlier = "a transfer-function file of an earlier run\n";

class TSPList : public ::testing::Test {
protected:
  void SetUp() override {
    work_ = root_ / "work";
    fs::create_directories(work_ + "/tmp");
    WriteWhole(work_ + "/origin.flt", Flt(ImpulsePeriod()));
    WriteWhole(work_ + "/mic.xml", MicArrayXml());
  }
  // Records the played impulse arriving `delay` samples late (circularly,
  // as a steady repetition would), so its response is an impulse at `delay`.
  void Record(const std::string& path, int delay, int channels = 1, int rateHz = 16000) {
    std::vector<float> period(16384, 0.0f);
    period[static_cast<std::size_t>(delay)] = 1.0f;
    WriteWave(path, channels, period, {}, rateHz);
  }
  Outcome Trelvix() {
    return RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "tf", "-o", "tf.bin", "mic.xml", "list.xml"}, work_,
                      {"TMPDIR=" + work_ + "/tmp"});
  }
  ScratchDir root_;
  std::string work_;
};

// Names as the list holds them, and where the file is relative to the
// scratch root.
struct Recording {
  std::string name;
  std::string location;
};

std::vector<Recording> HostileRecordings(const std::string& root) {
  return {
      {"with space.wav", "work/with space.wav"},
      {"double\"quote.wav", "work/double\"quote.wav"},
      {"single'quote.wav", "work/single'quote.wav"},
      {"$(touch pwned).wav", "work/$(touch pwned).wav"},
      {"`touch pwned`.wav", "work/`touch pwned`.wav"},
      {"$HOME.wav", "work/$HOME.wav"},
      {"new\nline.wav", "work/new\nline.wav"},
      {"back\\slash.wav", "work/back\\slash.wav"},
      {"semi;touch pwned;.wav", "work/semi;touch pwned;.wav"},
      {"-leading-dash.wav", "work/-leading-dash.wav"},
      {"a/../up.wav", "work/up.wav"},
      {"../outside.wav", "outside.wav"},
      {"%2E%2E/percent.wav", "work/%2E%2E/percent.wav"},
      {root + "/work/absolute.wav", "work/absolute.wav"},
      {Repeat("../", 40) + ".." + root + "/work/climbing.wav", "work/climbing.wav"},
  };
}

// Reads a .flt file's samples.
std::vector<float> Samples(const std::string& path) { return veskio2::flt::ReadFile(path); }

TEST_F(TSPList, HostileRecordingNamesRunNothingAndStayInTheTemporaryDirectory) {
  const std::vector<Recording> recordings = HostileRecordings(root_.Path());
  fs::create_directories(work_ + "/a");
  fs::create_directories(work_ + "/%2E%2E");
  std::string sources;
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    Record(root_ / recordings[i].location, static_cast<int>(i) + 1);
    sources += TSPSourceXml(XmlText(recordings[i].name));
  }
  WriteWhole(work_ + "/list.xml", TSPListXml(sources));
  const Tree before = Snapshot(root_.Path());

  const Outcome o = Trelvix();
  ASSERT_TRUE(EndedCleanly(o, 0));
  ExpectNothingLost(before, Snapshot(root_.Path()), {"work/tmp", "work/tf.bin"});

  // One response per recording, each its own: the impulse sits at the
  // delay of the recording it came from. Round-off of the deconvolution
  // of an impulse stays below 1e-6; a wrong file would put 1 elsewhere.
  std::set<std::size_t> delays;
  for (fs::recursive_directory_iterator it(work_ + "/tmp"), end; it != end; ++it) {
    if (it->path().filename() != "float_ch1.flt") continue;
    const std::vector<float> ir = Samples(it->path().string());
    ASSERT_EQ(ir.size(), 4096u) << it->path();
    const std::size_t peak = static_cast<std::size_t>(
        std::max_element(ir.begin(), ir.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
        ir.begin());
    EXPECT_NEAR(ir[peak], 1.0f, 1e-6) << it->path();
    delays.insert(peak);
  }
  std::set<std::size_t> expected;
  for (std::size_t i = 1; i <= recordings.size(); ++i) expected.insert(i);
  EXPECT_EQ(delays, expected);
}

TEST_F(TSPList, AFailedRecordingAmongHostileNamesKeepsTheOutputFile) {
  const std::vector<Recording> recordings = HostileRecordings(root_.Path());
  fs::create_directories(work_ + "/a");
  fs::create_directories(work_ + "/%2E%2E");
  std::string sources;
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    // The last one is never recorded.
    if (i + 1 < recordings.size()) Record(root_ / recordings[i].location, static_cast<int>(i) + 1);
    sources += TSPSourceXml(XmlText(recordings[i].name));
  }
  WriteWhole(work_ + "/list.xml", TSPListXml(sources));
  WriteWhole(work_ + "/tf.bin", kEarlier);
  const Tree before = Snapshot(root_.Path());

  const Outcome o = Trelvix();
  if (EndedCleanly(o, 1))
    ExpectMentions(o, o.err, {"failed GetIR(src=" + std::to_string(recordings.size() - 1) + ", mic=0)\n"});
  ExpectNothingLost(before, Snapshot(root_.Path()), {"work/tmp"});
}

// List values that dravik refuses or that name unusable origins: the run
// fails at the first response, the earlier output file stays.
struct ValueCase {
  std::string name;
  std::string from, to;         // replaced in the list text
  std::string mention;          // in trelvix's standard error
  bool alsoInTheArray = false;  // the same replacement in the microphone-array file
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

class TSPListValues : public TSPList, public ::testing::WithParamInterface<ValueCase> {};

// The list the cases start from is sound: each case fails by its change.
TEST_F(TSPList, TheUnchangedListMakesATransferFunctionFile) {
  Record(work_ + "/rec.wav", 1);
  WriteWhole(work_ + "/list.xml", TSPListXml(TSPSourceXml("rec.wav")));
  const Outcome o = Trelvix();
  ASSERT_TRUE(EndedCleanly(o, 0));
  EXPECT_EQ(ReadWhole(work_ + "/tf.bin").compare(0, 8, "VESKFILE"), 0);
}

TEST_P(TSPListValues, FailAndKeepTheOutputFile) {
  const ValueCase& c = GetParam();
  Record(work_ + "/rec.wav", 1);
  WriteWhole(work_ + "/list.xml", Replace(TSPListXml(TSPSourceXml("rec.wav")), c.from, c.to));
  if (c.alsoInTheArray) WriteWhole(work_ + "/mic.xml", Replace(MicArrayXml(), c.from, c.to));
  WriteWhole(work_ + "/tf.bin", kEarlier);
  const Tree before = Snapshot(root_.Path());
  const Outcome o = Trelvix();
  if (EndedCleanly(o, 1)) ExpectMentions(o, o.err, {c.mention});
  ExpectNothingLost(before, Snapshot(root_.Path()), {"work/tmp"});
}

const char* const kFailed = "failed GetIR(src=0, mic=0)\n";

INSTANTIATE_TEST_SUITE_P(
    Hostile, TSPListValues,
    ::testing::Values(
        ValueCase{"AveragesBeyondInt", ">1</synchronousAverage>", ">4294967295</synchronousAverage>", kFailed},
        ValueCase{"NoAverages", ">1</synchronousAverage>", ">0</synchronousAverage>", kFailed},
        ValueCase{"OffsetBeyondInt", ">0</tspOffset>", ">4294967295</tspOffset>", kFailed},
        ValueCase{"OffsetBeyondRecording", ">0</tspOffset>", ">2147483647</tspOffset>", kFailed},
        ValueCase{"SignalMaxZero", ">1</signalMax>", ">0</signalMax>", kFailed},
        ValueCase{"OriginMissing", ">origin.flt<", ">absent.flt<",
                  std::string("cannot open the TSP origin file absent.flt: No such file or directory\n") + kFailed},
        ValueCase{"OriginEndless", ">origin.flt<", ">/dev/zero<", kFailed},
        ValueCase{"OriginNameRunsACommand", ">origin.flt<", ">$(touch pwned)`touch pwned`.flt<", kFailed},
        ValueCase{"OriginOfTheOtherKind", "kind=\"1\"", "kind=\"0\"", kFailed},
        ValueCase{"OriginKindUnknown", "kind=\"1\"", "kind=\"7\"", "ignoring: list.xml"},
        ValueCase{"MicIndexNotInTheArray", "<micIndex>0</micIndex>", "<micIndex>4294967295</micIndex>",
                  "mic combinations are not same"},
        ValueCase{"MicIndexBeyondDravik", "<micIndex>0</micIndex>", "<micIndex>64</micIndex>",
                  "source 0, file rec.wav: micIndex 64 is not a recording channel dravik can select (0 to 63)\n", true},
        ValueCase{"SourceWithAFilePerMicrophone", "<files><file",
                  "<files><file version=\"1\"><name>r1.wav</name>"
                  "<micIndices><micIndex>1</micIndex></micIndices></file><file",
                  "source 0 names 2 files: each source takes one recording of every microphone, whose micIndices "
                  "list the recording channels; only the first file's are compared with the array\n"
                  "mic combinations are not same\n"},
        ValueCase{"RecordingNameEmpty", ">rec.wav<", "><",
                  std::string("cannot open the recording : No such file or directory\n") + kFailed},
        ValueCase{"RecordingIsADirectory", ">rec.wav<", ">.<",
                  std::string("cannot open the recording .: Is a directory\n") + kFailed}),
    [](const ::testing::TestParamInfo<ValueCase>& testInfo) { return testInfo.param.name; });

// Recordings that do not fit the run: refused before dravik runs, by name.
struct MismatchCase {
  std::string name;
  int channels, rateHz;  // of rec.wav
  std::string micIndex;  // the one microphone's, in the array and the list
  std::vector<std::string> extraArgs;
  std::string message;  // trelvix's whole standard error ends with it
};

void PrintTo(const MismatchCase& c, std::ostream* os) { *os << c.name; }

class RecordingMismatch : public TSPList, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(RecordingMismatch, EndsTheRunAndKeepsTheOutputFile) {
  const MismatchCase& c = GetParam();
  Record(work_ + "/rec.wav", 1, c.channels, c.rateHz);
  const std::string index = "<micIndex>" + c.micIndex + "</micIndex>";
  WriteWhole(work_ + "/mic.xml", Replace(MicArrayXml(), "<micIndex>0</micIndex>", index));
  WriteWhole(work_ + "/list.xml", Replace(TSPListXml(TSPSourceXml("rec.wav")), "<micIndex>0</micIndex>", index));
  WriteWhole(work_ + "/tf.bin", kEarlier);
  const Tree before = Snapshot(root_.Path());
  std::vector<std::string> argv = {RequireProgram("TRELVIX_BIN"), "--mode", "tf", "-o", "tf.bin"};
  argv.insert(argv.end(), c.extraArgs.begin(), c.extraArgs.end());
  argv.insert(argv.end(), {"mic.xml", "list.xml"});
  const Outcome o = RunProgram(argv, work_, {"TMPDIR=" + work_ + "/tmp"});
  if (EndedCleanly(o, 1)) {
    EXPECT_GE(o.err.size(), c.message.size()) << Describe(o);
    EXPECT_EQ(o.err.substr(o.err.size() - std::min(o.err.size(), c.message.size())), c.message) << Describe(o);
    EXPECT_EQ(o.out.find("Dravik: "), std::string::npos) << "dravik ran\n" << Describe(o);
  }
  ExpectNothingLost(before, Snapshot(root_.Path()), {"work/tmp"});
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, RecordingMismatch,
    ::testing::Values(
        MismatchCase{"RateAboveTheRun",
                     1,
                     48000,
                     "0",
                     {},
                     "rec.wav is sampled at 48000 Hz, but the run is at 16000 Hz: give --sampling-freq 48000, "
                     "or resample the recording\n"},
        MismatchCase{"RateBelowAGivenOne",
                     1,
                     16000,
                     "0",
                     {"--sampling-freq", "44100"},
                     "rec.wav is sampled at 16000 Hz, but the run is at 44100 Hz: give --sampling-freq 16000, "
                     "or resample the recording\n"},
        MismatchCase{"ChannelOfTheMicIndexAbsent",
                     2,
                     16000,
                     "2",
                     {},
                     "rec.wav has 2 channels, but its micIndices need 3 (the highest micIndex is 2)\n"}),
    [](const ::testing::TestParamInfo<MismatchCase>& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace hostile
