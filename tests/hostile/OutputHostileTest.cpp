// Output targets, signals and limits, and the messages of failed writes:
// whatever the target is and however a run ends, no data is lost, no
// device or FIFO is replaced and nothing is left behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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
  const char* kind = S_ISLNK(st.st_mode) ? "link" : S_ISFIFO(st.st_mode) ? "fifo" : S_ISCHR(st.st_mode) ? "chr" : "file";
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

// How the run is started: as the invoking user, or as an unprivileged one.
std::vector<std::string> AsNobody(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  return argv;
}

struct TargetCase {
  std::string name;
  std::string program;  // "trelvix", "dravik" or "tspgen"
  // Makes the target `path` (relative to the run's directory) in `dir`.
  std::function<void(const std::string& dir, const std::string& path)> make;
  bool asNobody;        // run as an unprivileged user
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
  if (c.asNobody && ::geteuid() != 0 && ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "no way to run as an unprivileged user";

  // The file each program writes, and the command that writes it there.
  std::string target;
  std::vector<std::string> argv;
  if (c.program == "trelvix") {
    target = c.name == "trelvixIntoDevStdout" ? "/dev/stdout"
             : c.name == "trelvixIntoProcSelfFd" ? "/proc/self/fd/1" : "out.xml";
    argv = {RequireProgram("TRELVIX_BIN"), "--mode", "template", "-t", "mic", "-o", target};
  } else if (c.program == "dravik") {
    WriteWhole(dir + "/origin.flt", Flt(ImpulsePeriod()));
    WriteWave(dir + "/rec.wav", 1, ImpulsePeriod());
    target = "out_ch1.flt";
    argv = {RequireProgram("DRAVIK_BIN"), "--tsporigflt", "origin.flt", "--syncaddfreq", "1",
            "--syncaddoffset", "0", "rec.wav", "out"};
  } else {
    target = "origin.tsp";
    argv = {RequireProgram("TSPGEN_BIN"), "--tsp-length", "1024", "--synchronous-average", "1",
            "--tsp-offset", "0", "--origin", target, "--origin-wav", "o.wav", "--playback", "p.wav"};
  }
  if (c.make) c.make(dir, target);
  if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
  const Node node = Inspect(dir + "/" + target);
  // (A snapshot reads every file, which a FIFO would not allow.)
  const Tree before = node.kind == "fifo" ? Tree() : Snapshot(dir);
  std::future<std::string> reader;
  if (node.kind == "fifo") reader = DrainFifo(dir + "/" + target);

  const Outcome o = RunProgram(c.asNobody ? AsNobody(argv) : argv, dir);
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
  if (target[0] != '/') EXPECT_EQ(after.kind, node.kind == "absent" ? "file" : node.kind);
  std::string written;
  if (node.kind == "fifo") written = fromFifo;
  else if (node.kind == "link") written = ReadWhole(dir + "/real/target");
  else if (target[0] == '/') written = o.out;
  else if (node.kind == "file") written = ReadWhole(dir + "/" + target);
  if (node.kind != "chr") {
    EXPECT_GT(written.size(), 100u);
    EXPECT_NE(written, kEarlier);
  }
  if (node.kind == "file") {
    EXPECT_EQ(after.mode, node.mode);
    EXPECT_EQ(after.uid, node.uid);
  }
  // No temporary file is left beside the target.
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it)
    EXPECT_NE(it->path().filename().string()[0], '.') << "left behind: " << it->path();
}

INSTANTIATE_TEST_SUITE_P(Targets, OutputTarget, ::testing::ValuesIn(TargetCases()),
                         [](const ::testing::TestParamInfo<TargetCase>& info) { return info.param.name; });

}  // namespace
}  // namespace hostile
