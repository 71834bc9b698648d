// File names that a shell would split, expand or run (spaces, quotes, $,
// backticks, newlines, .. components) through every program: each name
// is used exactly as given, creates exactly the files asked for, and runs
// nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HostileFiles.h"
#include "HostileRun.h"

namespace hostile {
namespace {

struct Name {
  std::string label;
  std::string stem;  // the name without the suffixes the test adds
};

void PrintTo(const Name& n, std::ostream* os) { *os << n.label; }

const std::vector<Name>& Names() {
  static const std::vector<Name> names = {
      {"Space", "with space"},
      {"DoubleQuote", "double\"quote"},
      {"SingleQuote", "single'quote"},
      {"CommandSubstitution", "$(touch pwned)"},
      {"Backticks", "`touch pwned`"},
      {"Variable", "$HOME"},
      {"Newline", "new\nline"},
      {"Tab", "tab\there"},
      {"Backslash", "back\\slash"},
      {"Semicolon", "semi;touch pwned"},
      {"Glob", "glob*?[x]"},
      {"DotDotComponent", "sub/../dotdot"},
      {"NonAscii", "\xc3\xbcml\xc3\xa4ut"},
  };
  return names;
}

class FileNames : public ::testing::TestWithParam<Name> {
protected:
  void SetUp() override {
    fs::create_directory(dir_ / "sub");
    WriteWhole(dir_ / "origin.flt", Flt(ImpulsePeriod()));
  }
  Outcome Run(const char* program, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {RequireProgram(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.Path());
  }
  // Where a name given to a program lands, relative to the directory.
  static std::string Landed(const std::string& name) { return fs::path(name).lexically_normal().generic_string(); }
  ScratchDir dir_;
};

TEST_P(FileNames, EveryProgramUsesTheNameAsGiven) {
  const std::string stem = GetParam().stem;
  const std::string mic = stem + "_mic.xml", list = stem + "_list.xml", flt = stem + "_ir.flt", tf = stem + "_tf.bin",
                    wave = stem + ".wav", head = stem;
  std::vector<float> ir(512, 0.0f);
  ir[0] = 1.0f;
  WriteWhole(dir_ / Landed(flt), Flt(ir));
  WriteWave(dir_ / Landed(wave), 1, ImpulsePeriod());
  const Tree before = Snapshot(dir_.Path());

  Outcome o = Run("TRELVIX_BIN", {"--mode", "template", "-t", "mic", "--nummic", "1", "--output-file=" + mic});
  EXPECT_TRUE(EndedCleanly(o, 0));
  o = Run("TRELVIX_BIN", {"--mode", "template", "-t", "ir", "--nummic", "1", "--numazi", "1", "--filepath=" + flt,
                          "--output-file=" + list});
  EXPECT_TRUE(EndedCleanly(o, 0));
  o = Run("TRELVIX_BIN", {"--mode", "tf", "--output-file=" + tf, mic, list});
  EXPECT_TRUE(EndedCleanly(o, 0));
  o = Run("VESKDUMP_BIN", {tf});
  if (EndedCleanly(o, 0)) ExpectMentions(o, o.out, {"\"id\":\"vgtf::M2PG\""});
  o = Run("VESKDUMP_BIN", {list});
  // The list names the impulse file exactly (JSON escapes aside).
  if (EndedCleanly(o, 0) && stem.find_first_of("\"\\\n\t") == std::string::npos)
    ExpectMentions(o, o.out, {"\"name\":\"" + flt + "\""});
  o = Run("DRAVIK_BIN", {"--tsporigflt", "origin.flt", "--syncaddfreq", "1", "--syncaddoffset", "0", wave, head});
  EXPECT_TRUE(EndedCleanly(o, 0));

  EXPECT_EQ(fs::file_size(dir_ / Landed(head + "_ch1.flt")), 16384u);
  ExpectNothingLost(before, Snapshot(dir_.Path()), {Landed(mic), Landed(list), Landed(tf), Landed(head + "_ch1.flt")});
}

// A failed run with the same names leaves the earlier output as it was.
TEST_P(FileNames, AFailedRunKeepsTheNamedOutput) {
  const std::string stem = GetParam().stem;
  const std::string tf = stem + "_tf.bin", head = stem;
  WriteWhole(dir_ / Landed(tf), "earlier transfer functions\n");
  WriteWhole(dir_ / Landed(head + "_ch1.flt"), "earlier impulse response\n");
  WriteWhole(dir_ / "mic.xml", MicArrayXml());
  const Tree before = Snapshot(dir_.Path());

  Outcome o = Run("TRELVIX_BIN", {"--mode", "tf", "--output-file=" + tf, "mic.xml", stem + "_absent.xml"});
  if (EndedCleanly(o, 1))
    ExpectMentions(
        o, o.err,
        {"ignoring: " + stem + "_absent.xml\n", "need a impulse response list file or a tsp list file for making TF"});
  o = Run("DRAVIK_BIN", {"--tsporigflt", "origin.flt", stem + "_absent.wav", head});
  if (EndedCleanly(o, 255)) ExpectMentions(o, o.out, {"wavefile(" + stem + "_absent.wav) is not found.\n"});
  o = Run("VESKDUMP_BIN", {stem + "_absent.xml"});
  if (EndedCleanly(o, 1))
    ExpectMentions(o, o.err, {"veskdump: " + stem + "_absent.xml: cannot open: No such file or directory"});
  ExpectNothingLost(before, Snapshot(dir_.Path()));
}

// A name longer than the system takes (a component of 5000 bytes) is
// refused and reported in full by every program.
TEST(LongFileNames, AreReportedInFull) {
  ScratchDir dir;
  const std::string name(5000, 'x');
  WriteWhole(dir / "origin.flt", Flt(ImpulsePeriod()));
  WriteWave(dir / "rec.wav", 1, ImpulsePeriod());
  const Tree before = Snapshot(dir.Path());

  Outcome o =
      RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "template", "-t", "mic", "-o", name + ".xml"}, dir.Path());
  if (EndedCleanly(o, 1)) {
    EXPECT_EQ(o.err, "cannot write output file '" + name + ".xml': File name too long\n");
  }
  const std::vector<std::string> dravik = {
      RequireProgram("DRAVIK_BIN"), "--tsporigflt", "origin.flt", "--syncaddfreq", "1", "--syncaddoffset", "0"};
  std::vector<std::string> argv = dravik;
  argv.insert(argv.end(), {"rec.wav", name});
  o = RunProgram(argv, dir.Path());
  if (EndedCleanly(o, 1)) {
    EXPECT_EQ(o.err, "File open failed: " + name + "_ch1.flt: File name too long\n");
  }
  argv = dravik;
  argv.insert(argv.end(), {name + ".wav", "out"});
  o = RunProgram(argv, dir.Path());
  if (EndedCleanly(o, 255)) ExpectMentions(o, o.out, {"wavefile(" + name + ".wav) is not found.\n"});
  o = RunProgram({RequireProgram("VESKDUMP_BIN"), name + ".xml"}, dir.Path());
  if (EndedCleanly(o, 1)) {
    EXPECT_EQ(o.err, "veskdump: " + name + ".xml: cannot open: File name too long\n");
  }
  ExpectNothingLost(before, Snapshot(dir.Path()));
}

// Names at the system's limits, a last component of 255 bytes and a full
// path of 4095, are written where named by every writer (a file, or a
// directory and what it holds), and no hidden temporary stays: the
// temporary name is cut to fit and made relative to the open directory.
struct LimitCase {
  std::string label;
  std::vector<std::string> argv;          // "OUT" stands for the output's name
  std::string suffix;                     // the writer adds it to the name it is given
  std::string inside = "";                // for an output directory: a file made in it
  std::vector<std::string> prepare = {};  // run first (making an input), unless empty
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.label; }

class NamesAtTheLimits : public ::testing::TestWithParam<LimitCase> {};

// Whether the directory `dir` holds the regular file `name`, looked up
// relative to it: the full path may be longer than PATH_MAX.
bool HoldsFile(const std::string& dir, const std::string& name) {
  const int fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  const bool holds = fd >= 0 && ::fstatat(fd, name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
  if (fd >= 0) ::close(fd);
  return holds;
}

TEST_P(NamesAtTheLimits, AreWrittenWhereNamed) {
  const LimitCase& c = GetParam();
  ScratchDir scratch;
  WriteWhole(scratch / "origin.flt", Flt(ImpulsePeriod()));
  WriteWave(scratch / "rec.wav", 1, ImpulsePeriod());
  WriteWhole(scratch / "mic.xml", MicArrayXml());
  WriteWhole(scratch / "list.xml", IRListXml());
  std::vector<float> ir(512, 0.0f);
  ir[0] = 1.0f;
  WriteWhole(scratch / "ir.flt", Flt(ir));
  const auto command = [](const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv;
    for (const std::string& a : args)
      argv.push_back(a == "OUT" ? out : a[0] == '$' ? RequireProgram(a.c_str() + 1) : a);
    return argv;
  };
  if (!c.prepare.empty()) {
    ASSERT_TRUE(EndedCleanly(RunProgram(command(c.prepare, ""), scratch.Path()), 0));
  }
  // A relative name of 255 bytes; an absolute path of 4095 bytes.
  std::string deep = fs::absolute(scratch.Path()).string();
  while (4095 - deep.size() - 1 > 255)
    deep += "/" + std::string(std::min<std::size_t>(200, 4095 - deep.size() - 102), 'd');
  fs::create_directories(deep);
  const std::string shortName(255, 'n');
  for (const std::string& target : {shortName, deep + "/" + std::string(4095 - deep.size() - 1, 'p')}) {
    SCOPED_TRACE(target.size());
    const std::string given = target.substr(0, target.size() - c.suffix.size()), landed = given + c.suffix;
    const Outcome o = RunProgram(command(c.argv, given), scratch.Path());
    if (EndedCleanly(o, 0)) {
      const fs::path written = landed[0] == '/' ? fs::path(landed) : scratch / landed;
      if (c.inside.empty())
        EXPECT_TRUE(fs::is_regular_file(written)) << Describe(o);
      else
        EXPECT_TRUE(HoldsFile(written.string(), c.inside)) << Describe(o);
    }
    for (const std::string& dir : {scratch.Path(), deep})
      for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, NamesAtTheLimits,
    ::testing::Values(LimitCase{"trelvix", {"$TRELVIX_BIN", "--mode", "template", "-t", "mic", "-o", "OUT"}, ""},
                      LimitCase{"dravik",
                                {"$DRAVIK_BIN", "--tsporigflt", "origin.flt", "--syncaddfreq", "1", "--syncaddoffset",
                                 "0", "rec.wav", "OUT"},
                                "_ch1.flt"},
                      LimitCase{"tspgen",
                                {"$TSPGEN_BIN", "--tsp-length", "1024", "--synchronous-average", "1", "--tsp-offset",
                                 "0", "--origin", "o.tsp", "--playback", "OUT"},
                                ""},
                      LimitCase{"vesk2sofa", {"$VESK2SOFA_BIN", "--ir", "list.xml", "mic.xml", "OUT"}, ""},
                      LimitCase{"sofa2vesk",
                                {"$SOFA2VESK_BIN", "in.sofa", "OUT"},
                                "",
                                "src00000_mic000.flt",
                                {"$VESK2SOFA_BIN", "--ir", "list.xml", "mic.xml", "in.sofa"}}),
    [](const ::testing::TestParamInfo<LimitCase>& param) { return param.param.label; });

INSTANTIATE_TEST_SUITE_P(Hostile, FileNames, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<Name>& testInfo) { return testInfo.param.label; });

}  // namespace
}  // namespace hostile
