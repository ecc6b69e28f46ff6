#include "internal/certificate/tarvik/credential_file_writer.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/test/client_auth_test_util.h"

namespace vantorel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// Things at a credential path: which may be replaced or removed, and the
// record that refuses the others. Refused entries are never removed.
TEST(CredentialFileWriterTest, OnlyFilesLinksAndEmptyFoldersAreReplaceable) {
  test::ScopedTempDir dir;
  const std::string& d = dir.path();
  dir.Write("file", "f");
  dir.Write("other", "o");
  ASSERT_EQ(symlink("/dev/null", (d + "/link").c_str()), 0);
  ASSERT_EQ(mkdir((d + "/empty").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((d + "/full").c_str(), 0700), 0);
  dir.Write("full/x", "x");
  ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(mknod((d + "/device").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
  struct Case {
    std::string name;
    bool replaceable;
    std::string record;
  } cases[] = {
      {"missing", true, ""},
      {"file", true, ""},
      {"link", true, ""},
      {"empty", true, ""},
      {"full", false, " is a folder that is not empty; it is left as it is."},
      {"fifo", false, " is not a regular file; it is left as it is."},
      {"device", false, " is not a regular file; it is left as it is."},
      {"other/below", false, ": Not a directory"},
  };
  for (const Case& c : cases) {
    const std::string path = d + "/" + c.name;
    testing::internal::CaptureStderr();
    EXPECT_EQ(IsReplaceablePath(path), c.replaceable) << c.name;
    const std::string log = testing::internal::GetCapturedStderr();
    if (c.record.empty()) {
      EXPECT_THAT(log, IsEmpty()) << c.name;
    } else {
      EXPECT_THAT(log, HasSubstr(path + c.record + "\n")) << c.name;
    }

    testing::internal::CaptureStderr();
    EXPECT_EQ(RemoveCredentialPath(path), c.replaceable) << c.name;
    EXPECT_EQ(test::RecordTexts(testing::internal::GetCapturedStderr()),
              test::RecordTexts(log))
        << c.name;
    struct stat info;
    if (c.name != "other/below") {
      EXPECT_EQ(lstat(path.c_str(), &info) == 0, !c.replaceable) << c.name;
    }
  }
  // The link went, not what it points to.
  struct stat info;
  EXPECT_EQ(stat("/dev/null", &info), 0);
}

TEST(CredentialFileWriterTest, SameFileUnderTwoNames) {
  test::ScopedTempDir dir;
  const std::string& d = dir.path();
  ASSERT_EQ(mkdir((d + "/a").c_str(), 0700), 0);
  dir.Write("a/x", "x");
  dir.Write("a/y", "y");
  ASSERT_EQ(symlink((d + "/a/x").c_str(), (d + "/a/to_x").c_str()), 0);
  ASSERT_EQ(link((d + "/a/x").c_str(), (d + "/a/hard_x").c_str()), 0);
  ASSERT_EQ(symlink((d + "/a").c_str(), (d + "/dir_link").c_str()), 0);
  struct Case {
    std::string first;
    std::string second;
    bool same;
  } cases[] = {
      {d + "/a/x", d + "/a/x", true},
      {d + "/a/x", d + "/a/../a/x", true},
      {d + "/a/x", d + "/a/./x", true},
      {d + "/a/x", d + "/dir_link/x", true},
      {d + "/a/x", d + "/a/to_x", true},
      {d + "/a/hard_x", d + "/a/x", true},
      // Not there yet, but one folder entry.
      {d + "/a/new", d + "/a/../a/new", true},
      {d + "/a/x", d + "/a/y", false},
      {d + "/a/new", d + "/a/other", false},
      {d + "/a/x", d + "/none/x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameTheSameFile(c.first, c.second), c.same)
        << c.first << " " << c.second;
    EXPECT_EQ(NameTheSameFile(c.second, c.first), c.same)
        << c.second << " " << c.first;
  }
}

// Only files of exactly the temporary pattern of the target's name go.
TEST(CredentialFileWriterTest, RemovesOnlyLeftoversOfThisTarget) {
  test::ScopedTempDir dir;
  const std::string& d = dir.path();
  dir.Write("client.crt", "kept");
  dir.Write(".client.crt.tarvik-Ab12Z9", "stale");
  dir.Write(".client.crt.tarvik-000000", "stale");
  dir.Write(".client.crt.tarvik-short", "other");
  dir.Write(".client.crt.tarvik-toolong7", "other");
  dir.Write(".client.crt.tarvik-ab.c12", "other");
  dir.Write("client.crt.tarvik-Ab12Z9", "other");
  dir.Write(".client.key.tarvik-Ab12Z9", "other");
  dir.Write(".client.crt.XXXXXX", "other");
  ASSERT_EQ(mkfifo((d + "/.client.crt.tarvik-FIFO00").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((d + "/.client.crt.tarvik-DIR000").c_str(), 0700), 0);
  testing::internal::CaptureStderr();
  RemoveLeftoverTemporaryFiles(d + "/client.crt");
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(test::EntryNames(d),
              UnorderedElementsAre(
                  "client.crt", ".client.crt.tarvik-short",
                  ".client.crt.tarvik-toolong7", ".client.crt.tarvik-ab.c12",
                  "client.crt.tarvik-Ab12Z9", ".client.key.tarvik-Ab12Z9",
                  ".client.crt.XXXXXX", ".client.crt.tarvik-FIFO00",
                  ".client.crt.tarvik-DIR000"));
  EXPECT_EQ(test::SeverityOf(log, "RemoveLeftoverTemporaryFiles: removed " + d +
                                      "/.client.crt.tarvik-Ab12Z9, left "
                                      "by an interrupted run."),
            'W');
  // A folder that is not there holds no leftovers, and is no failure.
  testing::internal::CaptureStderr();
  RemoveLeftoverTemporaryFiles(d + "/none/client.crt");
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
}

TEST(CredentialFileWriterTest, StagedFileReplacesOnlyWhenCommitted) {
  test::ScopedTempDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/certs").c_str(), 0700), 0);
  const std::string target = dir.Write("certs/client.crt", "old");
  {
    StagedFile staged(target);
    ASSERT_EQ(staged.Write("new"), StagedFile::Result::kOk);
    EXPECT_EQ(test::ReadFileOrEmpty(target), "old");
    EXPECT_EQ(test::EntryNames(dir.path() + "/certs").size(), 2u);
  }
  // Dropped uncommitted: the temporary file is gone, the target unchanged.
  EXPECT_THAT(test::EntryNames(dir.path() + "/certs"),
              ElementsAre("client.crt"));
  EXPECT_EQ(test::ReadFileOrEmpty(target), "old");

  // A link at the target is replaced, not written through; an empty folder
  // there makes way.
  const std::string elsewhere = dir.Write("elsewhere", "theirs");
  const std::string link = dir.path() + "/certs/link";
  ASSERT_EQ(symlink(elsewhere.c_str(), link.c_str()), 0);
  const std::string folder = dir.path() + "/certs/folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path : {target, link, folder}) {
    StagedFile staged(path);
    ASSERT_EQ(staged.Write("new"), StagedFile::Result::kOk) << path;
    ASSERT_TRUE(staged.Commit()) << path;
    EXPECT_EQ(test::ReadFileOrEmpty(path), "new") << path;
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << path;
    EXPECT_EQ(info.st_mode & 07777, 0644u) << path;
  }
  EXPECT_EQ(test::ReadFileOrEmpty(elsewhere), "theirs");
  EXPECT_THAT(test::EntryNames(dir.path() + "/certs"),
              UnorderedElementsAre("client.crt", "link", "folder"));
}

// Failures name the path and the system's reason.
TEST(CredentialFileWriterTest, FailuresSayWhy) {
  test::ScopedTempDir dir;
  const std::string blocker = dir.Write("blocker", "b");
  {
    StagedFile staged(blocker + "/sub/file");
    testing::internal::CaptureStderr();
    EXPECT_EQ(staged.Write("data"), StagedFile::Result::kWriteFailed);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("] MakeParentFolders: cannot make the folder " +
                          blocker + ": File exists\n"));
  }
  const std::string long_name = dir.path() + "/" + std::string(256, 'n');
  testing::internal::CaptureStderr();
  EXPECT_FALSE(IsReplaceablePath(long_name));
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr(long_name + ": File name too long\n"));
  // A full folder at the target when the commit comes.
  const std::string target = dir.path() + "/target";
  StagedFile staged(target);
  ASSERT_EQ(staged.Write("data"), StagedFile::Result::kOk);
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  dir.Write("target/x", "x");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(staged.Commit());
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr(target + " is a folder that is not empty"));
  EXPECT_EQ(test::ReadFileOrEmpty(target + "/x"), "x");
}

}  // namespace
}  // namespace vantorel
