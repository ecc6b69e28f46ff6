#include "internal/certificate/tarvik/credential_file_writer.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/files/scoped_file.h"
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
using ::testing::UnorderedElementsAreArray;

// A private temporary folder under the test's temporary folder, removed
// with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string path = testing::TempDir() + "credential_file_writer.XXXXXX";
    if (mkdtemp(path.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a folder under " << testing::TempDir();
    }
    path_ = path;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    kelmbase::DoDeleteFile(kelmbase::FilePath(path_), /*recursive=*/true);
  }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name,
                    const std::string& contents) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << contents;
    return file;
  }

 private:
  std::string path_;
};

// Makes `folder` the working folder until destroyed.
class ScopedWorkingFolder {
 public:
  explicit ScopedWorkingFolder(const std::string& folder)
      : previous_(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {
    EXPECT_EQ(chdir(folder.c_str()), 0) << folder;
  }
  ~ScopedWorkingFolder() { EXPECT_EQ(fchdir(previous_.get()), 0); }

 private:
  kelmbase::ScopedFD previous_;
};

// The user whose permissions a test can have checked: its own, or nobody
// when it runs as root, whose own are not checked. -1 when there is none.
uid_t CheckedUser() {
  if (geteuid() != 0) return geteuid();
  const struct passwd* nobody = getpwnam("nobody");
  return nobody == nullptr ? static_cast<uid_t>(-1) : nobody->pw_uid;
}

// Acts as CheckedUser() in its scope: root changes its effective user only,
// so that it comes back afterwards.
class ScopedCheckedUser {
 public:
  ScopedCheckedUser()
      : dropped_(geteuid() == 0 && CheckedUser() != static_cast<uid_t>(-1) &&
                 seteuid(CheckedUser()) == 0) {}
  ScopedCheckedUser(const ScopedCheckedUser&) = delete;
  ScopedCheckedUser& operator=(const ScopedCheckedUser&) = delete;
  ~ScopedCheckedUser() {
    if (dropped_) {
      EXPECT_EQ(seteuid(0), 0);
    }
  }
  // Whether permissions are checked now.
  bool active() const { return geteuid() != 0; }

 private:
  const bool dropped_;
};

// Whether CheckedUser() may search `folder` (on the way to what the test
// makes in it); fails the test when no user checks permissions.
void CheckedUserReaches(const std::string& folder, bool* reachable) {
  ScopedCheckedUser checked;
  ASSERT_TRUE(checked.active()) << "no user to check permissions with";
  *reachable = access(folder.c_str(), X_OK) == 0;
}

// Things at a credential path: which may be replaced or removed, and the
// record that refuses the others. Refused entries are never removed.
TEST(CredentialFileWriterTest, OnlyFilesLinksAndEmptyFoldersAreReplaceable) {
  TempFolder dir;
  const std::string& d = dir.path();
  dir.Write("file", "f");
  dir.Write("other", "o");
  ASSERT_EQ(symlink("/dev/null", (d + "/link").c_str()), 0);
  ASSERT_EQ(mkdir((d + "/empty").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((d + "/full").c_str(), 0700), 0);
  dir.Write("full/x", "x");
  ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0600), 0);
  // Only root may make a device.
  const bool device =
      mknod((d + "/device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  ASSERT_TRUE(device || errno == EPERM) << std::strerror(errno);
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
    if (c.name == "device" && !device) continue;
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

// Two paths are one file when a writer would replace the same folder entry
// through both, or when both open the same file.
TEST(CredentialFileWriterTest, ComparesTheFolderEntryThatAWriterReplaces) {
  TempFolder dir;
  const std::string& d = dir.path();
  ASSERT_EQ(mkdir((d + "/a").c_str(), 0700), 0);
  dir.Write("a/x", "x");
  dir.Write("a/y", "y");
  ASSERT_EQ(symlink((d + "/a/x").c_str(), (d + "/a/to_x").c_str()), 0);
  ASSERT_EQ(link((d + "/a/x").c_str(), (d + "/a/hard_x").c_str()), 0);
  ASSERT_EQ(symlink((d + "/a").c_str(), (d + "/dir_link").c_str()), 0);
  ASSERT_EQ(symlink("a", (d + "/rel_dir_link").c_str()), 0);
  // Links to what is not there yet: a folder, a file.
  ASSERT_EQ(symlink("real", (d + "/lnk").c_str()), 0);
  ASSERT_EQ(symlink((d + "/real/deeper").c_str(), (d + "/abs_lnk").c_str()), 0);
  ASSERT_EQ(symlink("new_file", (d + "/a/to_new").c_str()), 0);
  // Links that lead nowhere: each other, and one through itself, which a
  // folder link reaches under another name.
  ASSERT_EQ(symlink("loop_b", (d + "/loop_a").c_str()), 0);
  ASSERT_EQ(symlink("loop_a", (d + "/loop_b").c_str()), 0);
  ASSERT_EQ(mkdir((d + "/certs").c_str(), 0700), 0);
  ASSERT_EQ(symlink("client.crt/x", (d + "/certs/client.crt").c_str()), 0);
  ASSERT_EQ(symlink("certs", (d + "/alias").c_str()), 0);
  // Chains of links to the folder a: the kernel follows 40, not 41.
  for (int i = 0; i <= 40; ++i) {
    const std::string next = i == 0 ? "a" : "chain" + std::to_string(i - 1);
    ASSERT_EQ(symlink(next.c_str(), (d + "/chain" + std::to_string(i)).c_str()),
              0);
  }
  struct stat info;
  ASSERT_EQ(stat((d + "/chain39/x").c_str(), &info), 0);
  ASSERT_NE(stat((d + "/chain40/x").c_str(), &info), 0);
  ASSERT_EQ(errno, ELOOP);
  const std::string lock_of_n = CredentialLock::LockFilePath(d + "/N/key");
  constexpr SameFile kYes = SameFile::kYes;
  constexpr SameFile kNo = SameFile::kNo;
  constexpr SameFile kCannotTell = SameFile::kCannotTell;
  // Relative paths are relative to `d`.
  struct Case {
    std::string first;
    std::string second;
    SameFile same;
  } cases[] = {
      // One folder under other spellings.
      {d + "/a/x", d + "/a/x", kYes},
      {d + "/a/x", d + "/a/../a/x", kYes},
      {d + "/a/x", d + "/a/./x", kYes},
      {d + "/a/x", d + "//a///x", kYes},
      {d + "/a/new", d + "/a/../a/new", kYes},
      // Through a link to the folder, by its absolute and relative text; a
      // link's ".." is the parent of what it points to.
      {d + "/a/x", d + "/dir_link/x", kYes},
      {d + "/a/new", d + "/dir_link/new", kYes},
      {d + "/a/new", d + "/rel_dir_link/new", kYes},
      {d + "/a/x", d + "/dir_link/../a/x", kYes},
      {d + "/a/x", d + "/chain39/x", kYes},
      // Relative and absolute.
      {"a/x", d + "/a/x", kYes},
      {"a/new", d + "/dir_link/new", kYes},
      {"N/x", d + "/N/./x", kYes},
      {"lnk/x", d + "/real/x", kYes},
      {"a/x", d + "/a/y", kNo},
      {"a/x", "x", kNo},
      // A link at the last name is itself replaced, not what it points to;
      // but two existing paths that open the same file are one file.
      {d + "/a/new_file", d + "/a/to_new", kNo},
      {d + "/a/x", d + "/a/to_x", kYes},
      {d + "/a/hard_x", d + "/a/x", kYes},
      // In a folder that is not there yet.
      {d + "/N/x", d + "/N/./x", kYes},
      {d + "/N/x", d + "/N//x", kYes},
      {d + "/N/x", d + "/N/M/../x", kYes},
      {d + "/N/x/", d + "/N/x", kYes},
      {d + "/N/x", d + "/M/x", kNo},
      {d + "/a/x", d + "/none/x", kNo},
      // Through a dangling link to a folder, by its relative and its
      // absolute text.
      {d + "/lnk/x", d + "/real/x", kYes},
      {d + "/lnk/./x", d + "/real//x", kYes},
      {d + "/abs_lnk/x", d + "/real/deeper/x", kYes},
      {d + "/abs_lnk/x", d + "/lnk/deeper/x", kYes},
      {d + "/lnk/x", d + "/lnk/y", kNo},
      {d + "/lnk/x", d + "/x", kNo},
      // The lock file beside a key in a folder that is not there yet.
      {d + "/N/.tarvik.lock", lock_of_n, kYes},
      {d + "/N/./.tarvik.lock", lock_of_n, kYes},
      {d + "/N/key", lock_of_n, kNo},
      {d + "/a/x", d + "/a/y", kNo},
      {d + "/a/new", d + "/a/other", kNo},
      // A link that loops through itself is a name like any other at the
      // last component.
      {d + "/certs/client.crt", d + "/alias/client.crt", kYes},
      {d + "/certs/client.crt", d + "/certs/client.key", kNo},
      // Links that cannot be followed: anything may be behind them.
      {d + "/loop_a/x", d + "/loop_a/x", kYes},
      {d + "/loop_a/x", d + "/loop_b/x", kCannotTell},
      {d + "/loop_a/x", d + "/loop_a/./x", kCannotTell},
      {d + "/loop_a/x", d + "/a/x", kCannotTell},
      {d + "/certs/client.crt/x", d + "/a/x", kCannotTell},
      {d + "/chain40/x", d + "/a/x", kCannotTell},
      {d + "/a/x/..", d + "/a", kCannotTell},
  };
  ScopedWorkingFolder working_folder(d);
  for (const Case& c : cases) {
    for (const auto& [first, second] :
         {std::pair(c.first, c.second), std::pair(c.second, c.first)}) {
      testing::internal::CaptureStderr();
      EXPECT_EQ(CompareCredentialPaths(first, second), c.same)
          << first << " " << second;
      EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
      EXPECT_EQ(NameTheSameFile(first, second), c.same != kNo)
          << first << " " << second;
    }
  }
}

// A folder that cannot be searched hides what is in it: links that may lead
// to the other path's folder, folders below it.
TEST(CredentialFileWriterTest, AnUnsearchableFolderCannotTell) {
  TempFolder dir;
  const std::string& d = dir.path();
  ASSERT_EQ(chmod(d.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((d + "/locked").c_str(), 0700), 0);
  ASSERT_EQ(symlink("..", (d + "/locked/up").c_str()), 0);
  bool reachable = false;
  ASSERT_NO_FATAL_FAILURE(CheckedUserReaches(d, &reachable));
  if (!reachable) {
    GTEST_SKIP() << "the user nobody cannot reach " << testing::TempDir();
  }
  ASSERT_EQ(chmod((d + "/locked").c_str(), 0600), 0);
  {
    ScopedCheckedUser checked;
    EXPECT_EQ(CompareCredentialPaths(d + "/locked/up/x", d + "/x"),
              SameFile::kCannotTell);
    EXPECT_EQ(CompareCredentialPaths(d + "/locked/sub/x", d + "/y"),
              SameFile::kCannotTell);
    // A name right in it needs no search: the folder is known.
    EXPECT_EQ(CompareCredentialPaths(d + "/locked/x", d + "/./locked/x"),
              SameFile::kYes);
    EXPECT_EQ(CompareCredentialPaths(d + "/locked/x", d + "/x"),
              SameFile::kNo);
  }
  ASSERT_EQ(chmod((d + "/locked").c_str(), 0700), 0);
}

// Only files of exactly the temporary pattern of the target's name go.
TEST(CredentialFileWriterTest, RemovesOnlyLeftoversOfThisTarget) {
  TempFolder dir;
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
  ASSERT_EQ(symlink(".client.key.tarvik-Ab12Z9",
                    (d + "/.client.crt.tarvik-Lnk000").c_str()),
            0);
  testing::internal::CaptureStderr();
  RemoveLeftoverTemporaryFiles(d + "/client.crt", {d + "/client.crt"});
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
  RemoveLeftoverTemporaryFiles(d + "/none/client.crt", {});
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
}

// A credential file of the run may bear a leftover's name: it stays under
// whatever spelling the run names it, and so does what may be one.
TEST(CredentialFileWriterTest, LeftoversThatAreCredentialFilesStay) {
  TempFolder dir;
  const std::string& d = dir.path();
  const std::string certs = d + "/certs";
  ASSERT_EQ(mkdir(certs.c_str(), 0700), 0);
  ASSERT_EQ(symlink("certs", (d + "/alias").c_str()), 0);
  ASSERT_EQ(symlink("loop", (d + "/loop").c_str()), 0);
  const std::string key_name = ".client.crt.tarvik-abc123";
  const std::string chain_name = ".client.crt.tarvik-chn456";
  const std::string hard_name = ".client.crt.tarvik-hrd789";
  const std::string stale_name = ".client.crt.tarvik-Ab12Z9";
  struct Case {
    std::string name;
    std::vector<std::string> keep;
    std::vector<std::string> removed;
  } cases[] = {
      {"the same spellings",
       {certs + "/client.crt", certs + "/" + key_name, certs + "/" + chain_name,
        d + "/other.key"},
       {stale_name}},
      {"through a folder link, relative, by a hard link",
       {d + "/alias/client.crt", "alias/./" + key_name,
        "certs//" + chain_name, "other.key"},
       {stale_name}},
      {"nothing to keep", {}, {key_name, chain_name, hard_name, stale_name}},
      {"a path that cannot be followed",
       {d + "/loop/client.crt", certs + "/" + key_name},
       {}},
  };
  ScopedWorkingFolder working_folder(d);
  for (const Case& c : cases) {
    dir.Write("certs/client.crt", "cert");
    dir.Write("certs/" + key_name, "key");
    dir.Write("certs/" + chain_name, "chain");
    dir.Write("certs/" + stale_name, "stale");
    dir.Write("other.key", "other key");
    unlink((certs + "/" + hard_name).c_str());
    ASSERT_EQ(link((d + "/other.key").c_str(), (certs + "/" + hard_name).c_str()),
              0);
    testing::internal::CaptureStderr();
    RemoveLeftoverTemporaryFiles(certs + "/client.crt", c.keep);
    const std::string log = testing::internal::GetCapturedStderr();
    std::vector<std::string> expected = {"client.crt"};
    for (const std::string& name :
         {key_name, chain_name, hard_name, stale_name}) {
      const bool removed = std::find(c.removed.begin(), c.removed.end(),
                                     name) != c.removed.end();
      if (!removed) expected.push_back(name);
      EXPECT_EQ(test::SeverityOf(log, "RemoveLeftoverTemporaryFiles: removed " +
                                          certs + "/" + name +
                                          ", left by an interrupted run."),
                removed ? 'W' : '-')
          << c.name << " " << name;
    }
    EXPECT_THAT(test::EntryNames(certs),
                UnorderedElementsAreArray(expected))
        << c.name;
    EXPECT_EQ(test::ReadFileOrEmpty(certs + "/client.crt"), "cert") << c.name;
    EXPECT_EQ(test::ReadFileOrEmpty(d + "/other.key"), "other key") << c.name;
  }
}

TEST(CredentialFileWriterTest, StagedFileReplacesOnlyWhenCommitted) {
  TempFolder dir;
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
  TempFolder dir;
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
  TempFolder dir;
  const std::string target = dir.Write("key", "old key");
  AsideFile aside(target);
  ASSERT_TRUE(aside.MoveAside());
  ASSERT_EQ(TempNamesOf(dir.path(), "key").size(), 1u);
  testing::internal::CaptureStderr();
  RemoveLeftoverTemporaryFiles(target, {target});
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("] RemoveLeftoverTemporaryFiles: removed " +
                        dir.path() + "/.key.tarvik-"));
  EXPECT_THAT(test::EntryNames(dir.path()), IsEmpty());
}

// A failed move back says where the old file is, and leaves it there.
TEST(CredentialFileWriterTest, AsideFileFailedRestoreSaysWhereTheFileIs) {
  TempFolder dir;
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

// The files of `dir` and their content, a folder's as "[folder]".
std::vector<std::pair<std::string, std::string>> FolderContent(
    const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> content;
  for (const std::string& name : test::EntryNames(dir)) {
    struct stat info;
    const std::string path = dir + "/" + name;
    const bool folder = lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    content.emplace_back(name,
                         folder ? "[folder]" : test::ReadFileOrEmpty(path));
  }
  return content;
}

// The new pair replaces the old one, and nothing else is left.
TEST(CredentialFileWriterTest, CommitPairReplacesThePair) {
  TempFolder dir;
  const std::string cert = dir.Write("client.crt", "old cert");
  const std::string key = dir.Write("client.key", "old key");
  StagedFile new_cert(cert);
  StagedFile new_key(key);
  ASSERT_EQ(new_cert.Write("new cert"), StagedFile::Result::kOk);
  ASSERT_EQ(new_key.Write("new key"), StagedFile::Result::kOk);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(CommitPair(&new_cert, &new_key));
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
  EXPECT_THAT(FolderContent(dir.path()),
              ElementsAre(std::pair("client.crt", "new cert"),
                          std::pair("client.key", "new key")));
}

// Up to the certificate's rename, a failure leaves the old pair: a key that
// cannot move aside stops everything, and a certificate that cannot be
// replaced brings the old key back, the same file byte for byte.
TEST(CredentialFileWriterTest, CommitPairKeepsTheOldPairUntilTheCertificate) {
  struct Case {
    std::string blocked;  // Becomes a folder that is not empty.
    std::string record;
  } cases[] = {
      {"client.crt", "/client.crt is a folder that is not empty"},
      {"client.key", "/client.key is a folder that is not empty"},
  };
  for (const Case& c : cases) {
    TempFolder dir;
    const std::string cert = dir.Write("client.crt", "old cert");
    const std::string key = dir.Write("client.key", "old key");
    const std::string blocked = dir.path() + "/" + c.blocked;
    std::vector<std::pair<std::string, std::string>> before;
    struct stat key_before;
    {
      StagedFile new_cert(cert);
      StagedFile new_key(key);
      ASSERT_EQ(new_cert.Write("new cert"), StagedFile::Result::kOk);
      ASSERT_EQ(new_key.Write("new key"), StagedFile::Result::kOk);
      ASSERT_EQ(unlink(blocked.c_str()), 0);
      ASSERT_EQ(mkdir(blocked.c_str(), 0700), 0);
      dir.Write(c.blocked + "/theirs", "theirs");
      ASSERT_EQ(lstat(key.c_str(), &key_before), 0);
      before = FolderContent(dir.path());
      testing::internal::CaptureStderr();
      EXPECT_FALSE(CommitPair(&new_cert, &new_key)) << c.blocked;
      EXPECT_THAT(testing::internal::GetCapturedStderr(),
                  HasSubstr(dir.path() + c.record))
          << c.blocked;
    }
    // Once the staged files are dropped, all is as it was.
    EXPECT_EQ(FolderContent(dir.path()).size(), 2u) << c.blocked;
    EXPECT_THAT(FolderContent(dir.path()),
                testing::IsSubsetOf(before)) << c.blocked;
    struct stat key_after;
    ASSERT_EQ(lstat(key.c_str(), &key_after), 0) << c.blocked;
    EXPECT_EQ(key_after.st_ino, key_before.st_ino) << c.blocked;
    EXPECT_EQ(test::ReadFileOrEmpty(blocked + "/theirs"), "theirs")
        << c.blocked;
  }
}

// A certificate in place stays there: when the folder cannot be flushed
// after its rename, the key follows all the same, so that the new pair is
// complete, and the failure is reported. Opening a folder that may be
// written and searched but not read fails, renaming in it does not; root
// may open it, so the commit runs as nobody.
TEST(CredentialFileWriterTest, CommitPairFinishesThePairWhenAFlushFails) {
  TempFolder dir;
  const std::string& d = dir.path();
  const std::string certs = d + "/certs";
  ASSERT_EQ(chmod(d.c_str(), 0711), 0);
  ASSERT_EQ(mkdir(certs.c_str(), 0700), 0);
  const std::string cert = dir.Write("certs/client.crt", "old cert");
  const std::string key = dir.Write("certs/client.key", "old key");
  StagedFile new_cert(cert);
  StagedFile new_key(key);
  ASSERT_EQ(new_cert.Write("new cert"), StagedFile::Result::kOk);
  ASSERT_EQ(new_key.Write("new key"), StagedFile::Result::kOk);
  bool reachable = false;
  ASSERT_NO_FATAL_FAILURE(CheckedUserReaches(d, &reachable));
  if (!reachable) {
    GTEST_SKIP() << "the user nobody cannot reach " << testing::TempDir();
  }
  ASSERT_EQ(chown(certs.c_str(), CheckedUser(), static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(chmod(certs.c_str(), 0333), 0);
  testing::internal::CaptureStderr();
  bool committed;
  {
    ScopedCheckedUser checked;
    committed = CommitPair(&new_cert, &new_key);
  }
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_EQ(chmod(certs.c_str(), 0700), 0);
  EXPECT_FALSE(committed);
  EXPECT_EQ(test::SeverityOf(log, "StagedFile: cannot flush the folder " +
                                      certs + ": Permission denied"),
            'E')
      << log;
  EXPECT_THAT(FolderContent(certs),
              ElementsAre(std::pair("client.crt", "new cert"),
                          std::pair("client.key", "new key")));
}

// Failures name the path and the system's reason.
TEST(CredentialFileWriterTest, FailuresSayWhy) {
  TempFolder dir;
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
