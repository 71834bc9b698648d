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
  void Record(const std::string& path, int delay) {
    std::vector<float> period(16384, 0.0f);
    period[static_cast<std::size_t>(delay)] = 1.0f;
    WriteWave(path, 1, period);
  }
  Outcome Trelvix() {
    return RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "tf", "-o", "tf.bin", "mic.xml", "list.xml"},
                      work_, {"TMPDIR=" + work_ + "/tmp"});
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
        ValueCase{"OriginMissing", ">origin.flt<", ">absent.flt<", kFailed},
        ValueCase{"OriginEndless", ">origin.flt<", ">/dev/zero<", kFailed},
        ValueCase{"OriginNameRunsACommand", ">origin.flt<", ">$(touch pwned)`touch pwned`.flt<", kFailed},
        ValueCase{"OriginOfTheOtherKind", "kind=\"1\"", "kind=\"0\"", kFailed},
        ValueCase{"OriginKindUnknown", "kind=\"1\"", "kind=\"7\"", "ignoring: list.xml"},
        ValueCase{"MicIndexNotInTheArray", "<micIndex>0</micIndex>", "<micIndex>4294967295</micIndex>",
                  "mic combinations are not same"},
        ValueCase{"RecordingNameEmpty", ">rec.wav<", "><", kFailed},
        ValueCase{"RecordingIsADirectory", ">rec.wav<", ">.<", kFailed}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

}  // namespace
}  // namespace hostile
