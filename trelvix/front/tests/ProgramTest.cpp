// The built trelvix as a user meets it: exit statuses, where messages go,
// and how --output-file behaves on success and failure.
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include "RunProgram.h"

using trelvix_test::FileExists;
using trelvix_test::ReadFile;
using trelvix_test::RunTrelvix;
using trelvix_test::ScratchDir;
using trelvix_test::WriteFile;

namespace {
const std::string kOld = "precious old content\n";
}

TEST(Program, HintHelpAndUnknownOption) {
  ScratchDir dir;
  const auto hint = RunTrelvix({});
  EXPECT_EQ(0, hint.status);
  EXPECT_EQ("You may want to use --mode to specify creation mode\n", hint.out);
  EXPECT_EQ("", hint.err);

  const auto help = RunTrelvix({"--help", "--mode", "template", "-o", dir / "x.xml"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.find("Usage: " + trelvix_test::ProgramPath("TRELVIX_BIN") +
                              " [options] input-files\n\nCommon options:\n"));
  EXPECT_EQ("", help.err);
  EXPECT_TRUE(dir.Entries().empty());

  const auto unknown = RunTrelvix({"--mode", "template", "--bogus"});
  EXPECT_EQ(1, unknown.status);
  EXPECT_EQ("", unknown.out);
  EXPECT_EQ(0u, unknown.err.find("unrecognised option '--bogus'\nUsage: "));
  EXPECT_EQ(help.out.substr(help.out.find("Common options:")), unknown.err.substr(unknown.err.find("Common options:")));
}

TEST(Program, SuccessfulRunReplacesTheFile) {
  ScratchDir dir;
  WriteFile(dir / "mic.xml", kOld);
  const auto run = RunTrelvix({"--mode", "template", "-t", "mic", "-o", "mic.xml"}, dir.Path(), [] { ::umask(022); });
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
  const std::string written = ReadFile(dir / "mic.xml");
  EXPECT_NE(kOld, written);
  EXPECT_NE(std::string::npos, written.find("created by trelvix"));
  EXPECT_EQ(std::vector<std::string>{"mic.xml"}, dir.Entries());
  struct stat st;
  ASSERT_EQ(0, ::stat((dir / "mic.xml").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);

  // The same document goes to standard output without --output-file.
  const auto toStdout = RunTrelvix({"--mode", "template", "-t", "mic"});
  EXPECT_EQ(0, toStdout.status);
  EXPECT_EQ(written, toStdout.out);
}

TEST(Program, FailedRunLeavesTheFileAlone) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--mode", "template"}, "in template mode, output type must be specified\n"},
      {{"--mode", "template", "-t", "mic", "-f", "binary"}, "unsupported output format in template mode\n"},
      {{"--mode", "template", "-t", "gtf"}, "invalid output type for making template\n"},
      {{"--mode", "template", "-t", "ir", "--mic-channels", "0,2"}, "the mic-channels' size != nummic\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    WriteFile(dir / "kept.xml", kOld);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", dir / "kept.xml"});
    const auto run = RunTrelvix(args);
    EXPECT_EQ(1, run.status) << c.err;
    EXPECT_EQ(c.err, run.err);
    EXPECT_EQ(kOld, ReadFile(dir / "kept.xml"));
    EXPECT_EQ(std::vector<std::string>{"kept.xml"}, dir.Entries());

    // Nor is a new file created.
    args.back() = dir / "new.xml";
    EXPECT_EQ(1, RunTrelvix(args).status);
    EXPECT_FALSE(FileExists(dir / "new.xml"));
    EXPECT_EQ(std::vector<std::string>{"kept.xml"}, dir.Entries());
  }
}

TEST(Program, FailedTFRunLeavesTheFileAlone) {
  ScratchDir dir;
  WriteFile(dir / "tf.bin", kOld);
  const auto run = RunTrelvix({"--mode", "tf", "-t", "gtf", "-o", dir / "tf.bin", dir / "none.xml"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE("", run.err);
  EXPECT_EQ(kOld, ReadFile(dir / "tf.bin"));
  EXPECT_EQ(std::vector<std::string>{"tf.bin"}, dir.Entries());
}

TEST(Program, UnwritableOutputIsRefusedBeforeAnyWork) {
  ScratchDir dir;
  WriteFile(dir / "plain", kOld);
  const auto missing = RunTrelvix({"--mode", "template", "-t", "mic", "-o", dir / "no/out.xml"});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("cannot write output file '" + (dir / "no/out.xml") + "': No such file or directory\n", missing.err);
  EXPECT_EQ("", missing.out);

  const auto notDir = RunTrelvix({"--mode", "template", "-t", "mic", "-o", dir / "plain/out.xml"});
  EXPECT_EQ(1, notDir.status);
  EXPECT_EQ("cannot write output file '" + (dir / "plain/out.xml") + "': Not a directory\n", notDir.err);

  const auto isDir = RunTrelvix({"--mode", "template", "-t", "mic", "-o", dir.Path()});
  EXPECT_EQ(1, isDir.status);
  EXPECT_EQ("cannot write output file '" + dir.Path() + "': Is a directory\n", isDir.err);
  const auto slash = RunTrelvix({"--mode", "template", "-t", "mic", "-o", dir / ""});
  EXPECT_EQ("cannot write output file '" + (dir / "") + "': Is a directory\n", slash.err);
  EXPECT_EQ(std::vector<std::string>{"plain"}, dir.Entries());
}

TEST(Program, WriteFailureIsAnError) {
  ScratchDir dir;
  WriteFile(dir / "ir.xml", kOld);
  // A file size limit makes the writes fail part way, as a full disk would.
  const auto limitFileSize = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  const auto run = RunTrelvix({"--mode", "template", "-t", "ir", "-o", dir / "ir.xml"}, ".", limitFileSize);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("cannot write output file '" + (dir / "ir.xml") + "': File too large\n", run.err);
  EXPECT_EQ(kOld, ReadFile(dir / "ir.xml"));
  EXPECT_EQ(std::vector<std::string>{"ir.xml"}, dir.Entries());

  const auto full = RunTrelvix({"--mode", "template", "-t", "ir"}, ".", [] {
    const int fd = ::open("/dev/full", O_WRONLY);
    if (fd >= 0) ::dup2(fd, 1);
  });
  EXPECT_EQ(1, full.status);
  EXPECT_NE("", full.err);
}
