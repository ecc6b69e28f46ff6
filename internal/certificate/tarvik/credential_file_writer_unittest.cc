#include "internal/certificate/tarvik/credential_file_writer.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/tarvik/credential_lock.h"
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
  // Links to what is not there yet: a folder, a file, and each other.
  ASSERT_EQ(symlink("real", (d + "/lnk").c_str()), 0);
  ASSERT_EQ(symlink((d + "/real/deeper").c_str(), (d + "/abs_lnk").c_str()), 0);
  ASSERT_EQ(symlink("new_file", (d + "/a/to_new").c_str()), 0);
  ASSERT_EQ(symlink("loop_b", (d + "/loop_a").c_str()), 0);
  ASSERT_EQ(symlink("loop_a", (d + "/loop_b").c_str()), 0);
  const std::string lock_of_n = CredentialLock::LockFilePath(d + "/N/key");
  struct Case {
    std::string first;
    std::string second;
    bool same;
  } cases[] = {
      {d + "/a/x", d + "/a/x", true},
      {d + "/a/x", d + "/a/../a/x", true},
      {d + "/a/x", d + "/a/./x", true},
      {d + "/a/x", d + "//a///x", true},
      {d + "/a/x", d + "/dir_link/x", true},
      // A link's ".." is the parent of what it points to.
      {d + "/a/x", d + "/dir_link/../a/x", true},
      {d + "/a/x", d + "/a/to_x", true},
      {d + "/a/hard_x", d + "/a/x", true},
      // Not there yet, but one folder entry.
      {d + "/a/new", d + "/a/../a/new", true},
      {d + "/a/new_file", d + "/a/to_new", true},
      // In a folder that is not there yet.
      {d + "/N/x", d + "/N/./x", true},
      {d + "/N/x", d + "/N//x", true},
      {d + "/N/x", d + "/N/M/../x", true},
      {d + "/N/x/", d + "/N/x", true},
      // Through a dangling link to a folder, by its relative and its
      // absolute text.
      {d + "/lnk/x", d + "/real/x", true},
      {d + "/lnk/./x", d + "/real//x", true},
      {d + "/abs_lnk/x", d + "/real/deeper/x", true},
      {d + "/abs_lnk/x", d + "/lnk/deeper/x", true},
      // The lock file beside a key in a folder that is not there yet.
      {d + "/N/.tarvik.lock", lock_of_n, true},
      {d + "/N/./.tarvik.lock", lock_of_n, true},
      {d + "/N/key", lock_of_n, false},
      {d + "/a/x", d + "/a/y", false},
      {d + "/a/new", d + "/a/other", false},
      {d + "/a/x", d + "/none/x", false},
      {d + "/N/x", d + "/M/x", false},
      {d + "/lnk/x", d + "/lnk/y", false},
      {d + "/lnk/x", d + "/x", false},
      // A loop resolves to nothing, and is no reason for a match.
      {d + "/loop_a/x", d + "/loop_b/x", false},
      {d + "/loop_a/x", d + "/loop_a/./x", true},
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
  // An old link that a kill left aside: the link goes, not its target.
  ASSERT_EQ(symlink("client.crt", (d + "/.client.crt.tarvik-Lnk000").c_str()),
            0);
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
  EXPECT_EQ(test::SeverityOf(log, "RemoveLeftoverTemporaryFiles: removed " + d +
                                      "/.client.crt.tarvik-Lnk000, left "
                                      "by an interrupted run."),
            'W');
  EXPECT_EQ(test::ReadFileOrEmpty(d + "/client.crt"), "kept");
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

// The names in `dir` that are temporary names of `target_name`.
std::vector<std::string> TempNamesOf(const std::string& dir,
                                     const std::string& target_name) {
  std::vector<std::string> names;
  for (const std::string& name : test::EntryNames(dir)) {
    if (name.rfind("." + target_name + ".tarvik-", 0) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

// What stands at a target moves aside under a temporary name and comes back
// unchanged; dropped, the moved file is gone.
TEST(CredentialFileWriterTest, AsideFileKeepsTheOldFileUntilDropped) {
  test::ScopedTempDir dir;
  const std::string& d = dir.path();
  const std::string file = dir.Write("key", "old key");
  const std::string link = d + "/link";
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  for (const std::string& target : {link, file}) {
    const std::string name = target.substr(d.size() + 1);
    struct stat before;
    ASSERT_EQ(lstat(target.c_str(), &before), 0);
    {
      AsideFile aside(target);
      ASSERT_TRUE(aside.MoveAside()) << target;
      struct stat info;
      EXPECT_NE(lstat(target.c_str(), &info), 0) << target;
      const std::vector<std::string> moved = TempNamesOf(d, name);
      ASSERT_EQ(moved.size(), 1u) << target;
      EXPECT_EQ(moved[0].size(), name.size() + 15) << moved[0];
      ASSERT_TRUE(aside.Restore()) << target;
      ASSERT_EQ(lstat(target.c_str(), &info), 0) << target;
      EXPECT_EQ(info.st_ino, before.st_ino) << target;
      EXPECT_THAT(TempNamesOf(d, name), IsEmpty()) << target;
    }
    // Restored, it stays when dropped.
    EXPECT_EQ(test::ReadFileOrEmpty(target), "old key") << target;
    {
      AsideFile aside(target);
      ASSERT_TRUE(aside.MoveAside()) << target;
    }
    EXPECT_THAT(TempNamesOf(d, name), IsEmpty()) << target;
    struct stat info;
    EXPECT_NE(lstat(target.c_str(), &info), 0) << target;
    // A link moved aside and dropped leaves what it points to.
    if (target == link) {
      EXPECT_EQ(lstat(file.c_str(), &info), 0);
    }
  }
  EXPECT_THAT(test::EntryNames(d), IsEmpty());

  // Nothing there is nothing to move; an empty folder goes for good.
  const std::string folder = d + "/folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& target : {d + "/missing", folder}) {
    AsideFile aside(target);
    EXPECT_TRUE(aside.MoveAside()) << target;
    EXPECT_TRUE(aside.Restore()) << target;
  }
  EXPECT_THAT(test::EntryNames(d), IsEmpty());
}

// A kill while the old file stands aside leaves a name that the next
// writing run's cleanup removes.
TEST(CredentialFileWriterTest, AsideFileLeftByAKillIsALeftover) {
  test::ScopedTempDir dir;
  const std::string target = dir.Write("key", "old key");
  AsideFile aside(target);
  ASSERT_TRUE(aside.MoveAside());
  ASSERT_EQ(TempNamesOf(dir.path(), "key").size(), 1u);
  testing::internal::CaptureStderr();
  RemoveLeftoverTemporaryFiles(target);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("] RemoveLeftoverTemporaryFiles: removed " +
                        dir.path() + "/.key.tarvik-"));
  EXPECT_THAT(test::EntryNames(dir.path()), IsEmpty());
}

// A failed move back says where the old file is, and leaves it there.
TEST(CredentialFileWriterTest, AsideFileFailedRestoreSaysWhereTheFileIs) {
  test::ScopedTempDir dir;
  const std::string& d = dir.path();
  ASSERT_EQ(mkdir((d + "/a").c_str(), 0700), 0);
  const std::string target = dir.Write("a/key", "old key");
  {
    AsideFile aside(target);
    ASSERT_TRUE(aside.MoveAside());
    const std::vector<std::string> moved = TempNamesOf(d + "/a", "key");
    ASSERT_EQ(moved.size(), 1u);
    // The folder goes away underneath.
    ASSERT_EQ(rename((d + "/a").c_str(), (d + "/b").c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(aside.Restore());
    const std::string aside_path = d + "/a/" + moved[0];
    EXPECT_EQ(
        test::SeverityOf(
            testing::internal::GetCapturedStderr(),
            "AsideFile: cannot rename " + aside_path + " back to " + target +
                ": No such file or directory; the old file "
                "is at " +
                aside_path + ", where the next writing run removes it."),
        'E');
  }
  EXPECT_EQ(test::ReadFileOrEmpty(d + "/b/" + TempNamesOf(d + "/b", "key")[0]),
            "old key");
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
  // A path's control bytes are escaped, so that its record stays one line.
  const std::string broken = dir.path() + "/full\nE0000 folder";
  ASSERT_EQ(mkdir(broken.c_str(), 0700), 0);
  dir.Write("full\nE0000 folder/x", "x");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(IsReplaceablePath(broken));
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("] IsReplaceablePath: " + dir.path() +
                        "/full\\nE0000 folder is a folder that is not "
                        "empty; it is left as it is.\n"));
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
