// Output targets, signals and limits, and the messages of failed writes:
// whatever the target is and however a run ends, no data is lost, no
// device or FIFO is replaced and nothing is left behind.
#include <fcntl.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "HostileFiles.h"
#include "HostileRun.h"

namespace hostile {
namespace {

const char* const kEarlier = "a file of an earlier run\n";

// The file's mode bits, owner and kind ("file", "link", "fifo", "chr").
struct Node {
  std::string kind;
  mode_t mode = 0;
  uid_t uid = 0;
};

Node Inspect(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return {"absent", 0, 0};
  const char* kind = S_ISLNK(st.st_mode)    ? "link"
                     : S_ISFIFO(st.st_mode) ? "fifo"
                     : S_ISCHR(st.st_mode)  ? "chr"
                                            : "file";
  return {kind, st.st_mode & 07777, st.st_uid};
}

// Reads a FIFO until its writer closes it, in the background.
std::future<std::string> DrainFifo(const std::string& path) {
  return std::async(std::launch::async, [path] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::string bytes;
    char buffer[65536];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, got);
    if (fd >= 0) ::close(fd);
    return bytes;
  });
}

// Runs argv as an unprivileged user, from a copy of the program under
// `into`: the build tree may lie in a private directory such as root's home.
std::vector<std::string> AsNobody(std::vector<std::string> argv, const std::string& into) {
  argv[0] = vesk_test::CopyProgram(argv[0], into + "/bin");
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return argv;
}

struct TargetCase {
  std::string name;
  std::string program;  // "trelvix", "dravik" or "tspgen"
  // Makes the target `path` (relative to the run's directory) in `dir`.
  std::function<void(const std::string& dir, const std::string& path)> make;
  bool asNobody;  // run as an unprivileged user (when the test runs as root)
  int status;
  std::string errMention;  // in standard error when status is 1
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

void Regular(const std::string& dir, const std::string& path) { WriteWhole(dir + "/" + path, kEarlier); }

std::vector<TargetCase> TargetCases() {
  const auto fifo = [](const std::string& dir, const std::string& path) {
    ASSERT_EQ(0, ::mkfifo((dir + "/" + path).c_str(), 0644));
  };
  const auto device = [](const std::string& dir, const std::string& path) {
    if (::mknod((dir + "/" + path).c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
      GTEST_SKIP() << "cannot make a device node: " << std::strerror(errno);
  };
  const auto link = [](const std::string& dir, const std::string& path) {
    fs::create_directory(dir + "/real");
    WriteWhole(dir + "/real/target", kEarlier);
    ASSERT_EQ(0, ::symlink("real/target", (dir + "/" + path).c_str()));
  };
  const auto readOnly = [](const std::string& dir, const std::string& path) {
    Regular(dir, path);
    ASSERT_EQ(0, ::chmod((dir + "/" + path).c_str(), 0444));
  };
  // Someone else's file that the run may write: as root, the replacement
  // keeps its owner and mode.
  const auto othersFile = [](const std::string& dir, const std::string& path) {
    Regular(dir, path);
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
    ASSERT_EQ(0, ::chown((dir + "/" + path).c_str(), 65534, 65534));
    ASSERT_EQ(0, ::chmod((dir + "/" + path).c_str(), 0640));
  };
  std::vector<TargetCase> cases;
  for (const std::string program : {"trelvix", "dravik", "tspgen"}) {
    cases.push_back({program + "IntoAFifo", program, fifo, false, 0, ""});
    cases.push_back({program + "IntoAReadOnlyFile", program, readOnly, true, 1, "Permission denied"});
    cases.push_back({program + "ThroughASymbolicLink", program, link, false, 0, ""});
  }
  cases.push_back({"trelvixIntoACharacterDevice", "trelvix", device, false, 0, ""});
  cases.push_back({"trelvixIntoSomeoneElsesFile", "trelvix", othersFile, false, 0, ""});
  cases.push_back({"trelvixIntoDevStdout", "trelvix", nullptr, false, 0, ""});
  cases.push_back({"trelvixIntoProcSelfFd", "trelvix", nullptr, false, 0, ""});
  cases.push_back({"trelvixTFIntoDevStdout", "trelvix", nullptr, false, 0, ""});
  return cases;
}

class OutputTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(OutputTarget, IsWrittenAsTheShellWouldWriteIt) {
  const TargetCase& c = GetParam();
  ScratchDir scratch;
  // An unprivileged user must be able to reach the directory.
  const std::string dir = scratch / "run";
  fs::create_directory(dir);
  ASSERT_EQ(0, ::chmod(scratch.Path().c_str(), 0755));
  ASSERT_EQ(0, ::chmod(dir.c_str(), 0777));
  // Root may write anything: it runs the case as an unprivileged user.
  const bool switchUser = c.asNobody && ::geteuid() == 0;
  if (switchUser && ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no way to run as an unprivileged user";

  // The file each program writes, and the command that writes it there.
  std::string target;
  std::vector<std::string> argv;
  const bool tfMode = c.name == "trelvixTFIntoDevStdout";
  if (c.program == "trelvix") {
    target = c.name == "trelvixIntoDevStdout" || tfMode ? "/dev/stdout"
             : c.name == "trelvixIntoProcSelfFd"        ? "/proc/self/fd/1"
                                                        : "out.xml";
    argv = {RequireProgram("TRELVIX_BIN"), "--mode", "template", "-t", "mic", "-o", target};
    if (tfMode) {
      // A TSP list: its dravik runs are reported while the file is written.
      WriteWhole(dir + "/mic.xml", MicArrayXml());
      WriteWhole(dir + "/list.xml", TSPListXml(TSPSourceXml("rec.wav")));
      WriteWhole(dir + "/origin.flt", Flt(ImpulsePeriod()));
      WriteWave(dir + "/rec.wav", 1, ImpulsePeriod());
      argv = {RequireProgram("TRELVIX_BIN"), "--mode", "tf", "-o", target, "mic.xml", "list.xml"};
    }
  } else if (c.program == "dravik") {
    WriteWhole(dir + "/origin.flt", Flt(ImpulsePeriod()));
    WriteWave(dir + "/rec.wav", 1, ImpulsePeriod());
    target = "out_ch1.flt";
    argv = {RequireProgram("DRAVIK_BIN"),
            "--tsporigflt",
            "origin.flt",
            "--syncaddfreq",
            "1",
            "--syncaddoffset",
            "0",
            "rec.wav",
            "out"};
  } else {
    target = "origin.tsp";
    argv = {RequireProgram("TSPGEN_BIN"),
            "--tsp-length",
            "1024",
            "--synchronous-average",
            "1",
            "--tsp-offset",
            "0",
            "--origin",
            target,
            "--origin-wav",
            "o.wav",
            "--playback",
            "p.wav"};
  }
  if (c.make) c.make(dir, target);
  if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
  const Node node = Inspect(dir + "/" + target);
  // (A snapshot reads every file, which a FIFO would not allow.)
  const Tree before = node.kind == "fifo" ? Tree() : Snapshot(dir);
  std::future<std::string> reader;
  if (node.kind == "fifo") reader = DrainFifo(dir + "/" + target);

  fs::create_directory(scratch / "tmp");
  const Outcome o =
      RunProgram(switchUser ? AsNobody(argv, scratch / "programs") : argv, dir, {"TMPDIR=" + (scratch / "tmp")});
  const std::string fromFifo = reader.valid() ? reader.get() : "";
  if (!EndedCleanly(o, c.status)) return;

  const Node after = Inspect(dir + "/" + target);
  if (c.status != 0) {
    ExpectMentions(o, o.err, {target, c.errMention});
    ExpectNothingLost(before, Snapshot(dir));
    EXPECT_EQ(after.mode, node.mode);
    return;
  }
  // Whatever the target was, it still is; what was written reached it.
  if (target[0] != '/') {
    EXPECT_EQ(after.kind, node.kind == "absent" ? "file" : node.kind);
  }
  std::string written;
  if (node.kind == "fifo")
    written = fromFifo;
  else if (node.kind == "link")
    written = ReadWhole(dir + "/real/target");
  else if (target[0] == '/')
    written = o.out;
  else if (node.kind == "file")
    written = ReadWhole(dir + "/" + target);
  if (node.kind != "chr") {
    EXPECT_GT(written.size(), 100u);
    EXPECT_NE(written, kEarlier);
  }
  // Nothing but the document reaches it (no report in a file on stdout).
  if (c.program == "trelvix" && node.kind != "chr") {
    EXPECT_EQ(written.compare(0, tfMode ? 8 : 5, tfMode ? "VESKFILE" : "<?xml"), 0) << written.substr(0, 200);
  }
  // The reports of a document on standard output go to standard error.
  if (tfMode) ExpectMentions(o, o.err, {"Dravik: "});
  if (node.kind == "file") {
    EXPECT_EQ(after.mode, node.mode);
    EXPECT_EQ(after.uid, node.uid);
  }
  // No temporary file is left beside the target.
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it)
    EXPECT_NE(it->path().filename().string()[0], '.') << "left behind: " << it->path();
}

INSTANTIATE_TEST_SUITE_P(Targets, OutputTarget, ::testing::ValuesIn(TargetCases()),
                         [](const ::testing::TestParamInfo<TargetCase>& testInfo) { return testInfo.param.name; });

// A program started in the background, its output captured in files, so
// the test can act while it runs.
class Background {
public:
  Background(const std::vector<std::string>& argv, const std::string& dir, const std::string& tmp,
             const std::string& jobs = "") {
    out_ = dir + "/../out.txt";
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int null = ::open("/dev/null", O_RDONLY);
      if (fd < 0 || null < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0 || ::dup2(null, 0) < 0) ::_exit(126);
      if (::chdir(dir.c_str()) != 0) ::_exit(126);
      const struct rlimit noCore = {0, 0};  // SIGQUIT would leave a core file
      ::setrlimit(RLIMIT_CORE, &noCore);
      ::setenv("TMPDIR", tmp.c_str(), 1);
      if (!jobs.empty()) ::setenv("TRELVIX_JOBS", jobs.c_str(), 1);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }
  // The wait status, after at most kHangSeconds.
  int Wait() {
    int status = 0;
    for (int tick = 0; tick < kHangSeconds * 100; ++tick) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "hang: still running after " << kHangSeconds << " s";
    return -1;
  }
  std::string Output() const { return ReadWhole(out_); }

private:
  pid_t pid_ = -1;
  std::string out_;
};

// True while some process holds `path` open (a link in /proc/PID/fd).
bool HeldOpen(const std::string& path) {
  namespace sfs = std::filesystem;
  std::error_code ec;
  const sfs::path target = sfs::canonical(path, ec);
  // Processes come and go meanwhile: every step takes an error code.
  for (sfs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
    std::error_code fdError;
    for (sfs::directory_iterator fd(proc->path() / "fd", fdError); !fdError && fd != end; fd.increment(fdError)) {
      std::error_code linkError;
      if (sfs::read_symlink(fd->path(), linkError) == target) return true;
    }
  }
  return false;
}

// Waits until some process holds `path` open; false on timeout.
bool WaitUntilOpened(const std::string& path) {
  for (int tick = 0; tick < kHangSeconds * 100; ++tick) {
    if (HeldOpen(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A mono 16-bit wave of `frames` silent frames, sparse on disk: long
// enough to keep the impulse calculator reading for seconds.
void WriteLongSilence(const std::string& path, std::uint32_t frames) {
  const std::uint32_t bytes = frames * 2;
  std::string header = "RIFF";
  const auto u32 = [&header](std::uint32_t v) {
    for (int b = 0; b < 4; ++b) header += static_cast<char>((v >> (8 * b)) & 0xff);
  };
  const auto u16 = [&header](std::uint16_t v) {
    header += static_cast<char>(v & 0xff);
    header += static_cast<char>(v >> 8);
  };
  u32(36 + bytes);
  header += "WAVEfmt ";
  u32(16);
  u16(1);          // PCM
  u16(1);          // channels
  u32(16000);      // Hz
  u32(16000 * 2);  // bytes per second
  u16(2);          // bytes per frame
  u16(16);         // bits
  header += "data";
  u32(bytes);
  WriteWhole(path, header);
  ASSERT_EQ(0, ::truncate(path.c_str(), static_cast<off_t>(header.size() + bytes)));
}

struct StopCase {
  std::string name;
  std::string program;  // "trelvix" (running dravik), "dravik" or (with a file-size limit) "vesk2sofa"
  int signal;           // sent while the program reads its recording; 0: none
  long fileSizeLimit;   // bytes; 0: none
  std::string mention;  // with a file-size limit: in the program's output
  int recordings = 1;   // with a signal: recordings in the list, all read at once
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class Stop : public ::testing::TestWithParam<StopCase> {};

// A signal ends the run as that signal, after the temporary output files
// are removed and the dravik started is ended; a file-size limit is a
// write error. Either way every existing output is as it was.
TEST_P(Stop, LeavesNothingBehind) {
  const StopCase& c = GetParam();
  ScratchDir scratch;
  const std::string dir = scratch / "run", tmp = scratch / "tmp";
  fs::create_directories(dir);
  fs::create_directories(tmp);
  WriteWhole(dir + "/origin.flt", Flt(ImpulsePeriod()));
  WriteWhole(dir + "/mic.xml", MicArrayXml());
  std::string sources = TSPSourceXml("rec.wav");
  for (int extra = 1; extra < c.recordings; ++extra) sources += TSPSourceXml("rec" + std::to_string(extra) + ".wav");
  WriteWhole(dir + "/list.xml", TSPListXml(sources));
  WriteWhole(dir + "/tf.bin", kEarlier);
  WriteWhole(dir + "/out_ch1.flt", kEarlier);
  if (c.program == "vesk2sofa") {
    // One response long enough that its taps alone pass the limit.
    WriteWhole(dir + "/irlist.xml", IRListXml());
    WriteWhole(dir + "/ir.flt", Flt(std::vector<float>(std::size_t(1) << 15, 0.5f)));
    WriteWhole(dir + "/out.sofa", kEarlier);
  }
  // With a signal, every recording keeps the runs busy for seconds: 60000
  // averaged periods of 16384 silent frames.
  constexpr std::uint32_t kPeriods = 60000;
  std::vector<std::string> recordings = {dir + "/rec.wav"};
  for (int extra = 1; extra < c.recordings; ++extra)
    recordings.push_back(dir + "/rec" + std::to_string(extra) + ".wav");
  if (c.signal) {
    WriteWhole(dir + "/list.xml", Replace(TSPListXml(sources), ">1</synchronousAverage>",
                                          ">" + std::to_string(kPeriods) + "</synchronousAverage>"));
    for (const std::string& recording : recordings) WriteLongSilence(recording, kPeriods * 16384);
  } else
    WriteWave(dir + "/rec.wav", 1, ImpulsePeriod());
  std::vector<std::string> argv = c.program == "trelvix"
                                      ? std::vector<std::string>{RequireProgram("TRELVIX_BIN"),
                                                                 "--mode",
                                                                 "tf",
                                                                 "-o",
                                                                 "tf.bin",
                                                                 "mic.xml",
                                                                 "list.xml"}
                                      : std::vector<std::string>{RequireProgram("DRAVIK_BIN"),
                                                                 "--tsporigflt",
                                                                 "origin.flt",
                                                                 "--syncaddfreq",
                                                                 c.signal ? std::to_string(kPeriods) : "1",
                                                                 "--syncaddoffset",
                                                                 "0",
                                                                 "rec.wav",
                                                                 "out"};
  const Tree before = c.signal ? Tree() : Snapshot(dir);

  if (!c.signal) {
    // (dravik inherits the limit from trelvix: template mode keeps it apart.)
    if (c.program == "trelvix") argv = {argv[0], "--mode", "template", "-t", "ir", "-o", "tf.bin"};
    if (c.program == "vesk2sofa") argv = {RequireProgram("VESK2SOFA_BIN"), "--ir", "irlist.xml", "mic.xml", "out.sofa"};
    const long limit = c.fileSizeLimit;
    vesk_test::ProcessOptions options;
    options.workDir = dir;
    options.env = {"TMPDIR=" + tmp};
    options.timeoutSeconds = kHangSeconds;
    options.inChild = [limit] {
      const struct rlimit size = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
      ::setrlimit(RLIMIT_FSIZE, &size);
    };
    const vesk_test::ProcessResult run = vesk_test::RunProcess(argv, options);
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find(c.mention), std::string::npos) << run.err;
    ExpectNothingLost(before, Snapshot(dir));
    return;
  }

  Background program(argv, dir, tmp, c.recordings > 1 ? std::to_string(c.recordings) : "");
  for (const std::string& recording : recordings)
    ASSERT_TRUE(WaitUntilOpened(recording)) << recording << " was never opened\n" << program.Output();
  ASSERT_EQ(0, ::kill(program.Pid(), c.signal));
  const int status = program.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "wait status " << status << "\n"
                                                                   << program.Output();
  for (const std::string& recording : recordings)
    EXPECT_FALSE(HeldOpen(recording)) << "a dravik still reads " << recording;
  EXPECT_EQ(ReadWhole(dir + "/tf.bin"), kEarlier);
  EXPECT_EQ(ReadWhole(dir + "/out_ch1.flt"), kEarlier);
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it)
    EXPECT_NE(it->path().filename().string()[0], '.') << "left behind: " << it->path();
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Stop,
    ::testing::Values(
        StopCase{"trelvixInterrupted", "trelvix", SIGINT, 0, ""},
        StopCase{"trelvixTerminated", "trelvix", SIGTERM, 0, ""}, StopCase{"trelvixHungUp", "trelvix", SIGHUP, 0, ""},
        StopCase{"trelvixQuit", "trelvix", SIGQUIT, 0, ""},
        StopCase{"trelvixReaderOfItsOutputGone", "trelvix", SIGPIPE, 0, ""},
        StopCase{"dravikReaderOfItsOutputGone", "dravik", SIGPIPE, 0, ""},
        StopCase{"trelvixTerminatedWithRunsAhead", "trelvix", SIGTERM, 0, "", 3},
        StopCase{"dravikTerminated", "dravik", SIGTERM, 0, ""},
        StopCase{"trelvixOverTheFileSizeLimit", "trelvix", 0, 600, "cannot write output file 'tf.bin': File too large"},
        StopCase{"dravikOverTheFileSizeLimit", "dravik", 0, 8192, "File open failed: out_ch1.flt: File too large"},
        StopCase{"vesk2sofaOverTheFileSizeLimit", "vesk2sofa", 0, 65536,
                 "vesk2sofa: cannot write output file 'out.sofa': File too large\n"}),
    [](const ::testing::TestParamInfo<StopCase>& testInfo) { return testInfo.param.name; });

// Under any address-space limit dravik either does its work or says that
// memory ran out, with its error status: FFTW's planner once aborted the
// process where one of its own allocations failed (10 MiB here).
TEST(Memory, DravikSucceedsOrSaysOutOfMemoryUnderAnyLimit) {
#ifdef HOSTILE_SANITIZED
  GTEST_SKIP() << "the sanitizers need more address space than the limits allow";
#endif
  ScratchDir dir;
  WriteWhole(dir / "origin.flt", Flt(ImpulsePeriod()));
  WriteWave(dir / "rec.wav", 1, ImpulsePeriod());
  std::size_t outOfMemory = 0;
  for (rlim_t kib = 6 * 1024; kib <= 32 * 1024; kib += 256) {
    SCOPED_TRACE(std::to_string(kib) + " KiB");
    vesk_test::ProcessOptions options;
    options.workDir = dir.Path();
    options.timeoutSeconds = kHangSeconds;
    options.inChild = [kib] {
      const struct rlimit space = {kib << 10, kib << 10};
      ::setrlimit(RLIMIT_AS, &space);
    };
    const vesk_test::ProcessResult run =
        vesk_test::RunProcess({RequireProgram("DRAVIK_BIN"), "--tsporigflt", "origin.flt", "--syncaddfreq", "1",
                               "--syncaddoffset", "0", "rec.wav", "out"},
                              options);
    if (run.err.find("error while loading shared libraries") != std::string::npos) continue;  // the loader's limit
    EXPECT_EQ(run.signal, 0) << run.err;
    if (run.status == 0) continue;
    EXPECT_EQ(run.status, 255) << run.err;
    EXPECT_NE(run.err.find("out of memory while "), std::string::npos) << run.err;
    ++outOfMemory;
  }
  EXPECT_GT(outOfMemory, 0u) << "no limit was tight enough";
}

struct MessageCase {
  std::string name;
  std::vector<std::string> args;  // after the program
  std::string program;
  std::string mention;       // in standard error
  long addressSpaceKiB = 0;  // limit of the run's memory; 0: the usual
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class WriteFailure : public ::testing::TestWithParam<MessageCase> {};

// A failed write names the file and the system's reason; running out of
// memory says so and names the step.
TEST_P(WriteFailure, NamesTheFileAndTheReason) {
  const MessageCase& c = GetParam();
  ScratchDir dir;
  WriteWhole(dir / "mic.xml", MicArrayXml());
  WriteWhole(dir / "list.xml", IRListXml());
  std::vector<float> ir(512, 0.0f);
  ir[0] = 1.0f;
  WriteWhole(dir / "ir.flt", Flt(ir));
  WriteWhole(dir / "origin.flt", Flt(ImpulsePeriod()));
  WriteWave(dir / "rec.wav", 1, ImpulsePeriod());
  ASSERT_EQ(0, ::symlink("/dev/full", (dir / "full_ch1.flt").c_str()));
  std::vector<std::string> argv = {RequireProgram(c.program == "dravik" ? "DRAVIK_BIN" : "TRELVIX_BIN")};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  if (!c.addressSpaceKiB) {
    const Outcome o = RunProgram(argv, dir.Path());
    if (EndedCleanly(o, 1)) ExpectMentions(o, o.err, {c.mention});
    return;
  }
#ifdef HOSTILE_SANITIZED
  GTEST_SKIP() << "the sanitizers need more address space than the case allows";
#endif
  // A list of 50000 sources (16 MB) does not fit beside trelvix.
  const Outcome list = RunProgram({RequireProgram("TRELVIX_BIN"), "--mode", "template", "-t", "ir", "--nummic", "1",
                                   "--numazi", "50000", "--aziint", "0.01", "-o", "big.xml"},
                                  dir.Path());
  ASSERT_TRUE(EndedCleanly(list, 0));
  vesk_test::ProcessOptions options;
  options.workDir = dir.Path();
  options.timeoutSeconds = kHangSeconds;
  const rlim_t limit = static_cast<rlim_t>(c.addressSpaceKiB) * 1024;
  options.inChild = [limit] {
    const struct rlimit space = {limit, limit};
    ::setrlimit(RLIMIT_AS, &space);
  };
  const vesk_test::ProcessResult run = vesk_test::RunProcess(argv, options);
  EXPECT_EQ(run.signal, 0) << run.err;
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find(c.mention), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("bad_alloc"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Targets, WriteFailure,
                         ::testing::Values(MessageCase{"TemplateOnAFullDevice",
                                                       {"--mode", "template", "-t", "mic", "-o", "/dev/full"},
                                                       "trelvix",
                                                       "cannot write output file '/dev/full': No space left on device"},
                                           MessageCase{"TransferFunctionOnAFullDevice",
                                                       {"--mode", "tf", "-o", "/dev/full", "mic.xml", "list.xml"},
                                                       "trelvix",
                                                       "cannot write output file '/dev/full': No space left on device"},
                                           MessageCase{"ImpulseOnAFullDevice",
                                                       {"--tsporigflt", "origin.flt", "--syncaddfreq", "1",
                                                        "--syncaddoffset", "0", "rec.wav", "full"},
                                                       "dravik",
                                                       "File open failed: full_ch1.flt: No space left on device"},
                                           MessageCase{"OutOfMemory",
                                                       {"--mode", "tf", "-o", "tf.bin", "mic.xml", "big.xml"},
                                                       "trelvix",
                                                       "out of memory while ",
                                                       70 * 1024}),
                         [](const ::testing::TestParamInfo<MessageCase>& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace hostile
