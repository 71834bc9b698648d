#include <string>

#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include "front/AtomicOutputFile.h"
#include "RunProgram.h"

using trelvix::AtomicOutputFile;
using trelvix_test::ReadFile;
using trelvix_test::ScratchDir;
using trelvix_test::WriteFile;


TEST(AtomicOutputFile, CommitReplacesTheNamedFile) {
  ScratchDir dir;
  WriteFile(dir / "out.xml", "old content");
  {
    AtomicOutputFile file(dir / "out.xml");
    EXPECT_EQ(0u, file.TemporaryPath().find(dir / ".out.xml."));
    *file.Stream() << "new";
    EXPECT_EQ("old content", ReadFile(dir / "out.xml"));
    file.Commit();
  }
  EXPECT_EQ("new", ReadFile(dir / "out.xml"));
  EXPECT_EQ(std::vector<std::string>{"out.xml"}, dir.Entries());
}

TEST(AtomicOutputFile, WithoutCommitNothingChanges) {
  ScratchDir dir;
  WriteFile(dir / "kept.xml", "old content");
  {
    AtomicOutputFile file(dir / "kept.xml");
    *file.Stream() << "partial";
  }
  {
    AtomicOutputFile file(dir / "never.xml");
  }
  EXPECT_EQ("old content", ReadFile(dir / "kept.xml"));
  EXPECT_EQ(std::vector<std::string>{"kept.xml"}, dir.Entries());
}

TEST(AtomicOutputFile, NewFileGetsTheUsualPermissions) {
  ScratchDir dir;
  const mode_t old = ::umask(027);
  {
    AtomicOutputFile file(dir / "perm.xml");
    file.Commit();
  }
  ::umask(old);
  struct stat st;
  ASSERT_EQ(0, ::stat((dir / "perm.xml").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
}

TEST(AtomicOutputFile, SymbolicLinksAreWrittenThrough) {
  ScratchDir dir, elsewhere;
  WriteFile(elsewhere / "real.xml", "old");
  ASSERT_EQ(0, ::symlink((elsewhere / "real.xml").c_str(), (dir / "link.xml").c_str()));
  {
    AtomicOutputFile file(dir / "link.xml");
    EXPECT_EQ(0u, file.TemporaryPath().find(elsewhere / ".real.xml."));
    *file.Stream() << "new";
    file.Commit();
  }
  struct stat st;
  ASSERT_EQ(0, ::lstat((dir / "link.xml").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ("new", ReadFile(elsewhere / "real.xml"));
  EXPECT_EQ(std::vector<std::string>{"real.xml"}, elsewhere.Entries());
}
