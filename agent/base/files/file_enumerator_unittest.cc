#include "agent/base/files/file_enumerator.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/test/test_temp_dir.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// A tree:
//   root/a.txt  root/b.log  root/dir1/  root/dir1/c.txt  root/dir1/sub/
//   root/dir1/sub/d.txt  root/dir2.txt/ (a directory)  root/dir2.txt/e.log
class FileEnumeratorTest : public testing::Test {
 protected:
  void SetUp() override {
    // A fixed umask, so that what the test makes does not depend on the
    // caller's.
    old_umask_ = umask(022);
    const std::string dir = test::CreateTestTempDir("kelm_enumerator_");
    ASSERT_FALSE(dir.empty());
    root_ = FilePath(dir);
    MakeFile("a.txt");
    MakeFile("b.log");
    MakeDir("dir1");
    MakeFile("dir1/c.txt");
    MakeDir("dir1/sub");
    MakeFile("dir1/sub/d.txt");
    MakeDir("dir2.txt");
    MakeFile("dir2.txt/e.log");
  }

  void TearDown() override {
    umask(old_umask_);
    std::error_code ignored;
    std::filesystem::remove_all(root_.value(), ignored);
  }

  void MakeFile(const char* relative) {
    FILE* f = fopen(root_.Append(relative).value().c_str(), "w");
    ASSERT_NE(nullptr, f);
    fclose(f);
  }

  void MakeDir(const char* relative) {
    ASSERT_EQ(0, mkdir(root_.Append(relative).value().c_str(), 0700));
  }

  // All paths the enumerator yields, relative to the root and sorted (the
  // order within a directory is the file system's).
  std::vector<std::string> Collect(FileEnumerator* enumerator) {
    std::vector<std::string> result;
    for (FilePath path = enumerator->Next(); !path.empty();
         path = enumerator->Next()) {
      EXPECT_EQ(0u, path.value().find(root_.value() + "/")) << path;
      result.push_back(path.value().substr(root_.value().size() + 1));
    }
    std::sort(result.begin(), result.end());
    return result;
  }

  FilePath root_;
  mode_t old_umask_ = 0;
};

using Paths = std::vector<std::string>;

TEST_F(FileEnumeratorTest, TypeMasks) {
  struct Case {
    bool recursive;
    int file_type;
    Paths expected;
  } const cases[] = {
      {false, FileEnumerator::kFiles, {"a.txt", "b.log"}},
      {false, FileEnumerator::kDirectories, {"dir1", "dir2.txt"}},
      {false, FileEnumerator::kFiles | FileEnumerator::kDirectories,
       {"a.txt", "b.log", "dir1", "dir2.txt"}},
      {true, FileEnumerator::kFiles,
       {"a.txt", "b.log", "dir1/c.txt", "dir1/sub/d.txt", "dir2.txt/e.log"}},
      {true, FileEnumerator::kDirectories, {"dir1", "dir1/sub", "dir2.txt"}},
      {false, FileEnumerator::kFiles | FileEnumerator::kDirectories |
                  FileEnumerator::kIncludeDotDot,
       {"..", "a.txt", "b.log", "dir1", "dir2.txt"}},
  };
  for (const Case& c : cases) {
    FileEnumerator enumerator(root_, c.recursive, c.file_type);
    EXPECT_EQ(c.expected, Collect(&enumerator))
        << "recursive " << c.recursive << " type " << c.file_type;
    EXPECT_EQ(File::kErrorOk, enumerator.GetError());
  }
}

TEST_F(FileEnumeratorTest, RootWithTrailingSeparator) {
  FileEnumerator enumerator(FilePath(root_.value() + "//"), false,
                            FileEnumerator::kDirectories);
  EXPECT_EQ((Paths{"dir1", "dir2.txt"}), Collect(&enumerator));
}

TEST_F(FileEnumeratorTest, PatternAndFolderSearchPolicy) {
  const int kAllTypes = FileEnumerator::kFiles | FileEnumerator::kDirectories;
  struct Case {
    bool recursive;
    FileEnumerator::FolderSearchPolicy policy;
    Paths expected;
  } const cases[] = {
      // Only the root's entries are filtered; a matching directory is walked
      // without a filter.
      {false, FileEnumerator::kMatchOnly, {"a.txt", "dir2.txt"}},
      {true, FileEnumerator::kMatchOnly,
       {"a.txt", "dir2.txt", "dir2.txt/e.log"}},
      // kAll walks non-matching directories as well, and the pattern
      // filters what is reported at every level.
      {false, FileEnumerator::kAll, {"a.txt", "dir2.txt"}},
      {true, FileEnumerator::kAll,
       {"a.txt", "dir1/c.txt", "dir1/sub/d.txt", "dir2.txt"}},
  };
  for (const Case& c : cases) {
    FileEnumerator enumerator(root_, c.recursive, kAllTypes, "*.txt",
                              c.policy, FileEnumerator::kIgnoreErrors);
    EXPECT_EQ(c.expected, Collect(&enumerator))
        << "recursive " << c.recursive << " policy " << c.policy;
  }
}

TEST_F(FileEnumeratorTest, PatternTakesBackslashLiterally) {
  MakeFile("x\\y");
  FileEnumerator enumerator(root_, false, FileEnumerator::kFiles, "x\\y",
                            FileEnumerator::kMatchOnly,
                            FileEnumerator::kIgnoreErrors);
  EXPECT_EQ((Paths{"x\\y"}), Collect(&enumerator));
}

TEST_F(FileEnumeratorTest, GetInfo) {
  FileEnumerator enumerator(root_, false, FileEnumerator::kFiles |
                                              FileEnumerator::kDirectories);
  EXPECT_FALSE(enumerator.GetInfo().IsDirectory());
  int seen = 0;
  for (FilePath path = enumerator.Next(); !path.empty();
       path = enumerator.Next()) {
    FileEnumerator::FileInfo info = enumerator.GetInfo();
    EXPECT_EQ(path.BaseName(), info.GetName());
    EXPECT_EQ(info.GetName().value().rfind("dir", 0) == 0, info.IsDirectory())
        << path;
    ++seen;
  }
  EXPECT_EQ(4, seen);
  EXPECT_TRUE(enumerator.Next().empty());
}

TEST_F(FileEnumeratorTest, SymbolicLinks) {
  // A link back to the root would make a cycle if followed blindly.
  ASSERT_EQ(0, symlink(root_.value().c_str(),
                       root_.Append("dir1/loop").value().c_str()));

  // Followed, the link is reported as the directory it leads to, but that
  // directory is not walked a second time.
  FileEnumerator followed(root_, true, FileEnumerator::kDirectories);
  EXPECT_EQ((Paths{"dir1", "dir1/loop", "dir1/sub", "dir2.txt"}),
            Collect(&followed));

  // Shown as links, they are entries of their own and never walked.
  FileEnumerator shown(root_, true,
                       FileEnumerator::kFiles | FileEnumerator::kShowSymLinks);
  EXPECT_EQ((Paths{"a.txt", "b.log", "dir1/c.txt", "dir1/loop",
                   "dir1/sub/d.txt", "dir2.txt/e.log"}),
            Collect(&shown));
}

TEST_F(FileEnumeratorTest, LinkToDirectoryOutsideIsWalked) {
  const std::string dir = test::CreateTestTempDir("kelm_enumerator_out_");
  ASSERT_FALSE(dir.empty());
  FilePath outside(dir);
  FILE* f = fopen(outside.Append("z.txt").value().c_str(), "w");
  ASSERT_NE(nullptr, f);
  fclose(f);
  ASSERT_EQ(0, symlink(outside.value().c_str(),
                       root_.Append("out").value().c_str()));

  FileEnumerator enumerator(root_, true, FileEnumerator::kFiles);
  Paths found = Collect(&enumerator);
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(), "out/z.txt"));

  std::error_code ignored;
  std::filesystem::remove_all(outside.value(), ignored);
}

TEST_F(FileEnumeratorTest, MissingRoot) {
  FilePath missing = root_.Append("missing");

  FileEnumerator ignoring(missing, true, FileEnumerator::kFiles);
  EXPECT_TRUE(ignoring.Next().empty());
  EXPECT_EQ(File::kErrorOk, ignoring.GetError());

  FileEnumerator stopping(missing, true, FileEnumerator::kFiles, "",
                          FileEnumerator::kMatchOnly,
                          FileEnumerator::kStopEnumeration);
  EXPECT_TRUE(stopping.Next().empty());
  EXPECT_EQ(File::kErrorNotFound, stopping.GetError());

  FileEnumerator not_a_dir(root_.Append("a.txt"), false,
                           FileEnumerator::kFiles, "",
                           FileEnumerator::kMatchOnly,
                           FileEnumerator::kStopEnumeration);
  EXPECT_TRUE(not_a_dir.Next().empty());
  EXPECT_EQ(File::kErrorNotADirectory, not_a_dir.GetError());
}

TEST_F(FileEnumeratorTest, EmptyDirectory) {
  MakeDir("empty");
  FileEnumerator enumerator(root_.Append("empty"), true,
                            FileEnumerator::kFiles |
                                FileEnumerator::kDirectories);
  EXPECT_TRUE(enumerator.Next().empty());
  EXPECT_TRUE(enumerator.Next().empty());
}

TEST_F(FileEnumeratorTest, EntryFilters) {
  FileEnumerator plain(root_, false, FileEnumerator::kFiles);
  EXPECT_TRUE(plain.ShouldSkip(FilePath(".")));
  EXPECT_TRUE(plain.ShouldSkip(FilePath("..")));
  EXPECT_FALSE(plain.ShouldSkip(FilePath("a.txt")));
  EXPECT_TRUE(plain.IsPatternMatched(FilePath("anything")));

  FileEnumerator dot_dot(
      root_, false, FileEnumerator::kFiles | FileEnumerator::kIncludeDotDot,
      "*.txt", FileEnumerator::kMatchOnly, FileEnumerator::kIgnoreErrors);
  EXPECT_TRUE(dot_dot.ShouldSkip(FilePath(".")));
  EXPECT_FALSE(dot_dot.ShouldSkip(FilePath("..")));
  EXPECT_TRUE(dot_dot.IsPatternMatched(FilePath("a.txt")));
  EXPECT_FALSE(dot_dot.IsPatternMatched(FilePath("b.log")));
}

TEST_F(FileEnumeratorTest, GetStatFollowsLinksUnlessAsked) {
  const FilePath link = root_.Append("link");
  ASSERT_EQ(0, symlink(root_.Append("dir1").value().c_str(),
                       link.value().c_str()));
  stat_wrapper_t st;
  FileEnumerator::GetStat(link, false, &st);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  FileEnumerator::GetStat(link, true, &st);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  FileEnumerator::GetStat(root_.Append("missing"), false, &st);
  EXPECT_EQ(0u, st.st_mode);
  EXPECT_EQ(0u, st.st_ino);
}

}  // namespace
}  // namespace kelmbase
