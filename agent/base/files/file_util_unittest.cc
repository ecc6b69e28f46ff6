#include "agent/base/files/file_util.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "agent/base/files/file.h"
#include "agent/base/files/file_path.h"
#include "agent/base/test/scoped_environment_restorer.h"
#include "agent/base/test/test_temp_dir.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using kelmbase::test::ScopedEnvironmentVariable;

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
  ~ScopedUmask() { umask(old_); }

 private:
  mode_t old_;
};

mode_t PermissionsOf(const FilePath& path) {
  struct stat st;
  if (lstat(path.value().c_str(), &st) != 0) return static_cast<mode_t>(-1);
  return st.st_mode & 07777;
}

// Each test works in a fresh directory of its own, removed afterwards.
class FileUtilTest : public testing::Test {
 protected:
  void SetUp() override {
    // A fixed umask, so that what the test makes does not depend on the
    // caller's.
    old_umask_ = umask(022);
    const std::string dir = test::CreateTestTempDir("kelm_file_util_");
    ASSERT_FALSE(dir.empty());
    temp_dir_ = FilePath(dir);
  }

  void TearDown() override {
    umask(old_umask_);
    std::error_code ignored;
    std::filesystem::remove_all(temp_dir_.value(), ignored);
  }

  FilePath Path(const char* relative) const {
    return temp_dir_.Append(relative);
  }

  void MakeFile(const FilePath& path, const std::string& contents) {
    FILE* f = fopen(path.value().c_str(), "wb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(contents.size(), fwrite(contents.data(), 1, contents.size(), f));
    ASSERT_EQ(0, fclose(f));
  }

  void MakeDir(const FilePath& path) {
    ASSERT_EQ(0, mkdir(path.value().c_str(), 0700));
  }

  FilePath temp_dir_;
  mode_t old_umask_ = 0;
};

TEST_F(FileUtilTest, ReadFileToStringReadsWholeFile) {
  FilePath file = Path("data");
  std::string contents(100000, '\0');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = char(i * 7);
  MakeFile(file, contents);

  std::string read = "stale";
  EXPECT_TRUE(ReadFileToString(file, &read));
  EXPECT_EQ(contents, read);
  EXPECT_TRUE(ReadFileToString(file, nullptr));
}

TEST_F(FileUtilTest, ReadFileToStringOfMissingFileClearsOutput) {
  std::string read = "stale";
  EXPECT_FALSE(ReadFileToString(Path("missing"), &read));
  EXPECT_EQ("", read);
}

TEST_F(FileUtilTest, ReadFileToStringOfDirectoryFails) {
  std::string read;
  EXPECT_FALSE(ReadFileToString(temp_dir_, &read));
  EXPECT_EQ("", read);
}

TEST_F(FileUtilTest, ReadRefusesParentReferences) {
  MakeDir(Path("sub"));
  MakeFile(Path("file"), "secret");
  FilePath via_parent = Path("sub").Append("..").Append("file");

  std::string read = "stale";
  EXPECT_FALSE(ReadFileToStringLimited(via_parent, &read, 100));
  EXPECT_EQ("", read);
  EXPECT_FALSE(ReadFileToString(via_parent, &read));
  // The same file without the parent reference is readable.
  EXPECT_TRUE(ReadFileToString(Path("file"), &read));
  EXPECT_EQ("secret", read);
}

TEST_F(FileUtilTest, ReadFileToStringLimited) {
  MakeFile(Path("empty"), "");
  MakeFile(Path("ten"), "0123456789");
  struct Case {
    const char* name;
    size_t max_size;
    bool expected_result;
    const char* expected_contents;
  } const cases[] = {
      {"empty", 0, true, ""},     {"empty", 5, true, ""},
      {"ten", 5, false, "01234"}, {"ten", 9, false, "012345678"},
      {"ten", 10, true, "0123456789"}, {"ten", 11, true, "0123456789"},
      {"ten", 0, false, ""},
  };
  for (const Case& c : cases) {
    std::string read = "stale";
    EXPECT_EQ(c.expected_result,
              ReadFileToStringLimited(Path(c.name), &read, c.max_size))
        << c.name << " max " << c.max_size;
    EXPECT_EQ(c.expected_contents, read) << c.name << " max " << c.max_size;
  }
}

TEST_F(FileUtilTest, ReadStreamWithoutStatSizeReadsInChunks) {
  // A memory stream has no descriptor, so there is no size hint and the
  // read has to grow chunk by chunk.
  std::string data(200000, 'x');
  for (size_t i = 0; i < data.size(); i += 997) data[i] = char('a' + i % 26);
  FILE* stream = fmemopen(data.data(), data.size(), "r");
  ASSERT_NE(nullptr, stream);
  std::string read;
  EXPECT_TRUE(ReadStreamToStringWithMaxSize(stream, data.size(), &read));
  EXPECT_EQ(data, read);

  // It starts again from the beginning, and stops at the limit.
  EXPECT_FALSE(ReadStreamToStringWithMaxSize(stream, 70000, &read));
  EXPECT_EQ(data.substr(0, 70000), read);
  fclose(stream);
}

TEST_F(FileUtilTest, ReadProcFileWhoseStatSizeIsZero) {
  struct stat st;
  ASSERT_EQ(0, stat("/proc/self/status", &st));
  ASSERT_EQ(0, st.st_size);

  std::string read;
  EXPECT_TRUE(ReadFileToString(FilePath("/proc/self/status"), &read));
  EXPECT_NE(std::string::npos, read.find("Name:"));

  std::string limited;
  EXPECT_FALSE(
      ReadFileToStringLimited(FilePath("/proc/self/status"), &limited, 4));
  EXPECT_EQ(read.substr(0, 4), limited);
}

TEST_F(FileUtilTest, OpenFileIsCloseOnExec) {
  MakeFile(Path("f"), "abc");
  for (const char* mode : {"r", "rb", "r+"}) {
    FILE* stream = OpenFile(Path("f"), mode);
    ASSERT_NE(nullptr, stream) << mode;
    int flags = fcntl(fileno(stream), F_GETFD);
    EXPECT_TRUE(flags & FD_CLOEXEC) << mode;
    fclose(stream);
  }
  EXPECT_EQ(nullptr, OpenFile(Path("missing"), "r"));
}

TEST_F(FileUtilTest, WriteFileCreatesAndTruncates) {
  FilePath file = Path("out");
  const std::string data = "hello\0world";
  EXPECT_EQ(static_cast<int>(data.size()),
            WriteFile(file, data.data(), static_cast<int>(data.size())));
  std::string read;
  ASSERT_TRUE(ReadFileToString(file, &read));
  EXPECT_EQ(data, read);

  EXPECT_EQ(2, WriteFile(file, "ab", 2));
  ASSERT_TRUE(ReadFileToString(file, &read));
  EXPECT_EQ("ab", read);

  EXPECT_EQ(0, WriteFile(file, "", 0));
  ASSERT_TRUE(ReadFileToString(file, &read));
  EXPECT_EQ("", read);

  EXPECT_EQ(0, WriteFile(Path("new_empty"), nullptr, 0));
  EXPECT_TRUE(PathExists(Path("new_empty")));
}

TEST_F(FileUtilTest, WriteFileAppliesUmask) {
  {
    ScopedUmask mask(022);
    ASSERT_EQ(1, WriteFile(Path("a"), "x", 1));
  }
  {
    ScopedUmask mask(077);
    ASSERT_EQ(1, WriteFile(Path("b"), "x", 1));
  }
  {
    ScopedUmask mask(0);
    ASSERT_EQ(1, WriteFile(Path("c"), "x", 1));
  }
  EXPECT_EQ(0644u, PermissionsOf(Path("a")));
  EXPECT_EQ(0600u, PermissionsOf(Path("b")));
  EXPECT_EQ(0666u, PermissionsOf(Path("c")));
}

TEST_F(FileUtilTest, WriteFileIntoMissingDirectoryFails) {
  EXPECT_EQ(-1, WriteFile(Path("no_dir").Append("f"), "x", 1));
  EXPECT_FALSE(PathExists(Path("no_dir")));
}

TEST_F(FileUtilTest, WriteAllToFd) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  EXPECT_TRUE(WriteAllToFd(fds[1], 0, nullptr));
  EXPECT_TRUE(WriteAllToFd(fds[1], 5, "abcde"));
  char buffer[5];
  EXPECT_TRUE(ReadFromFd(fds[0], buffer, 5));
  EXPECT_EQ("abcde", std::string(buffer, 5));
  close(fds[0]);
  close(fds[1]);

  EXPECT_FALSE(WriteAllToFd(-1, 1, "x"));
}

// Not in the fixture: a death test's child dies before TearDown and would
// leave the fixture's folder behind.
TEST(FileUtilDeathTest, WriteAllToFdWithNegativeSizeTraps) {
  EXPECT_DEATH(WriteAllToFd(STDERR_FILENO, -1, "x"), "");
}

TEST_F(FileUtilTest, CreateDirectoryMakesEveryLevel) {
  ScopedUmask mask(0);
  FilePath deep = Path("a").Append("b").Append("c");
  File::Error error = File::kErrorOk;
  EXPECT_TRUE(CreateDirectoryAndGetError(deep, &error));
  EXPECT_EQ(File::kErrorOk, error);
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_EQ(0700u, PermissionsOf(Path("a")));
  EXPECT_EQ(0700u, PermissionsOf(deep));

  // Existing directories are success, with or without trailing separators.
  EXPECT_TRUE(CreateDirectory(deep));
  EXPECT_TRUE(CreateDirectory(FilePath(deep.value() + "/")));
  EXPECT_TRUE(CreateDirectory(FilePath("/")));
}

TEST_F(FileUtilTest, CreateDirectoryAppliesUmask) {
  ScopedUmask mask(077);
  EXPECT_TRUE(CreateDirectory(Path("d")));
  EXPECT_EQ(0700u, PermissionsOf(Path("d")));
}

TEST_F(FileUtilTest, CreateDirectoryFailsOnFileInTheWay) {
  MakeFile(Path("a"), "");
  File::Error error = File::kErrorOk;
  EXPECT_FALSE(
      CreateDirectoryAndGetError(Path("a").Append("b").Append("c"), &error));
  EXPECT_EQ(File::kErrorExists, error);
  EXPECT_FALSE(CreateDirectoryAndGetError(Path("a"), &error));
  EXPECT_EQ(File::kErrorExists, error);
  EXPECT_FALSE(CreateDirectory(Path("a")));
}

TEST_F(FileUtilTest, CreateDirectoryRelativeToCurrentDirectory) {
  char old_cwd[4096];
  ASSERT_NE(nullptr, getcwd(old_cwd, sizeof(old_cwd)));
  ASSERT_EQ(0, chdir(temp_dir_.value().c_str()));
  EXPECT_TRUE(CreateDirectory(FilePath("x/y")));
  EXPECT_TRUE(DirectoryExists(Path("x").Append("y")));
  ASSERT_EQ(0, chdir(old_cwd));
}

TEST_F(FileUtilTest, DeleteFile) {
  MakeFile(Path("f"), "x");
  MakeDir(Path("empty"));
  MakeDir(Path("full"));
  MakeFile(Path("full").Append("g"), "y");
  ASSERT_EQ(0, symlink(Path("full").value().c_str(),
                       Path("link").value().c_str()));

  EXPECT_TRUE(DeleteFile(Path("missing")));
  EXPECT_TRUE(DeleteFile(Path("f")));
  EXPECT_FALSE(PathExists(Path("f")));
  EXPECT_TRUE(DeleteFile(Path("empty")));
  EXPECT_FALSE(PathExists(Path("empty")));
  // A non-empty directory stays.
  EXPECT_FALSE(DeleteFile(Path("full")));
  EXPECT_TRUE(PathExists(Path("full").Append("g")));
  // A link to a directory goes, the directory stays.
  EXPECT_TRUE(DeleteFile(Path("link")));
  EXPECT_FALSE(PathExists(Path("link")));
  EXPECT_TRUE(DirectoryExists(Path("full")));
  // Below a missing directory counts as deleted too.
  EXPECT_TRUE(DeleteFile(Path("missing").Append("x")));
  // Below a file it does not (ENOTDIR).
  MakeFile(Path("plain"), "");
  EXPECT_FALSE(DeleteFile(Path("plain").Append("x")));
}

TEST_F(FileUtilTest, DoDeleteFileRecursive) {
  FilePath root = Path("root");
  MakeDir(root);
  MakeDir(root.Append("a"));
  MakeDir(root.Append("a").Append("b"));
  MakeFile(root.Append("f"), "1");
  MakeFile(root.Append("a").Append("g"), "2");
  MakeFile(root.Append("a").Append("b").Append("h"), "3");
  MakeDir(Path("outside"));
  MakeFile(Path("outside").Append("keep"), "4");
  ASSERT_EQ(0, symlink(Path("outside").value().c_str(),
                       root.Append("a").Append("link").value().c_str()));

  EXPECT_TRUE(DoDeleteFile(root, true));
  EXPECT_FALSE(PathExists(root));
  // What the link pointed at is untouched.
  EXPECT_TRUE(PathExists(Path("outside").Append("keep")));

  EXPECT_TRUE(DoDeleteFile(Path("missing"), true));
  MakeFile(Path("single"), "");
  EXPECT_TRUE(DoDeleteFile(Path("single"), true));
  EXPECT_FALSE(PathExists(Path("single")));
}

TEST_F(FileUtilTest, PathExistsAndDirectoryExists) {
  MakeFile(Path("f"), "");
  ASSERT_EQ(0,
            symlink(temp_dir_.value().c_str(), Path("dlink").value().c_str()));
  ASSERT_EQ(0, symlink("nowhere", Path("dangling").value().c_str()));
  struct Case {
    FilePath path;
    bool exists;
    bool is_dir;
  } const cases[] = {
      {temp_dir_, true, true},
      {Path("f"), true, false},
      {Path("missing"), false, false},
      {Path("dlink"), true, true},
      {Path("dangling"), false, false},
      {FilePath(), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.exists, PathExists(c.path)) << c.path;
    EXPECT_EQ(c.is_dir, DirectoryExists(c.path)) << c.path;
  }
}

TEST_F(FileUtilTest, SetPosixFilePermissions) {
  ScopedUmask mask(0);
  MakeFile(Path("f"), "");
  EXPECT_TRUE(SetPosixFilePermissions(Path("f"), 0644));
  EXPECT_EQ(0644u, PermissionsOf(Path("f")));
  // Only the permission bits of the argument count.
  EXPECT_TRUE(SetPosixFilePermissions(Path("f"), 07600));
  EXPECT_EQ(0600u, PermissionsOf(Path("f")));

  // The sticky bit of a directory is kept.
  MakeDir(Path("d"));
  ASSERT_EQ(0, chmod(Path("d").value().c_str(), 01777));
  EXPECT_TRUE(SetPosixFilePermissions(Path("d"), 0755));
  EXPECT_EQ(01755u, PermissionsOf(Path("d")));

  EXPECT_FALSE(SetPosixFilePermissions(Path("missing"), 0644));
}

TEST_F(FileUtilTest, MakeAbsoluteFilePath) {
  MakeDir(Path("sub"));
  MakeFile(Path("f"), "");
  ASSERT_EQ(0, symlink(Path("f").value().c_str(), Path("l").value().c_str()));
  FilePath canonical_dir = FilePath(std::filesystem::canonical(
                                        temp_dir_.value()).string());

  EXPECT_EQ(canonical_dir.Append("f"),
            MakeAbsoluteFilePath(Path("sub").Append("..").Append("f")));
  EXPECT_EQ(canonical_dir.Append("f"), MakeAbsoluteFilePath(Path("l")));
  EXPECT_EQ(FilePath(),
            MakeAbsoluteFilePath(Path("sub").Append("..").Append("missing")));
}

TEST_F(FileUtilTest, GetCurrentDirectoryFollowsChdir) {
  char old_cwd[4096];
  ASSERT_NE(nullptr, getcwd(old_cwd, sizeof(old_cwd)));
  FilePath canonical_dir = MakeAbsoluteFilePath(temp_dir_);
  ASSERT_EQ(0, chdir(canonical_dir.value().c_str()));

  FilePath cwd("unchanged");
  EXPECT_TRUE(GetCurrentDirectory(&cwd));
  EXPECT_EQ(canonical_dir, cwd);

  // Once the directory is gone, getcwd fails and the output stays.
  ASSERT_EQ(0, rmdir(canonical_dir.value().c_str()));
  cwd = FilePath("unchanged");
  EXPECT_FALSE(GetCurrentDirectory(&cwd));
  EXPECT_EQ(FilePath("unchanged"), cwd);
  ASSERT_EQ(0, chdir(old_cwd));
}

TEST(FileUtilEnvTest, GetTempDir) {
  FilePath path;
  {
    ScopedEnvironmentVariable tmpdir("TMPDIR", "/var/scratch/");
    EXPECT_TRUE(GetTempDir(&path));
    EXPECT_EQ(FilePath("/var/scratch/"), path);
  }
  {
    ScopedEnvironmentVariable tmpdir("TMPDIR", "");
    path = FilePath("x");
    EXPECT_TRUE(GetTempDir(&path));
    EXPECT_EQ(FilePath(), path);
  }
  {
    ScopedEnvironmentVariable tmpdir("TMPDIR", std::nullopt);
    EXPECT_TRUE(GetTempDir(&path));
    EXPECT_EQ(FilePath("/tmp"), path);
  }
}

TEST(FileUtilEnvTest, GetHomeDir) {
  ScopedEnvironmentVariable tmpdir("TMPDIR", "/scratch");
  {
    ScopedEnvironmentVariable home("HOME", "/home/u");
    EXPECT_EQ(FilePath("/home/u"), GetHomeDir());
  }
  {
    ScopedEnvironmentVariable home("HOME", "");
    EXPECT_EQ(FilePath("/scratch"), GetHomeDir());
  }
  {
    ScopedEnvironmentVariable home("HOME", std::nullopt);
    EXPECT_EQ(FilePath("/scratch"), GetHomeDir());
    ScopedEnvironmentVariable no_tmpdir("TMPDIR", std::nullopt);
    EXPECT_EQ(FilePath("/tmp"), GetHomeDir());
  }
}

TEST(FileUtilFdTest, ReadFromFd) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  ASSERT_EQ(6, write(fds[1], "abcdef", 6));
  char buffer[8] = {};
  EXPECT_TRUE(ReadFromFd(fds[0], buffer, 4));
  EXPECT_EQ("abcd", std::string(buffer, 4));
  EXPECT_TRUE(ReadFromFd(fds[0], buffer, 0));
  close(fds[1]);
  // Two bytes remain, then the end of the pipe.
  EXPECT_FALSE(ReadFromFd(fds[0], buffer, 4));
  close(fds[0]);
  EXPECT_FALSE(ReadFromFd(-1, buffer, 1));
}

TEST(FileUtilFdTest, CreateNonBlockingPipe) {
  int fds[2] = {-1, -1};
  ASSERT_TRUE(CreateNonBlockingPipe(fds));
  for (int fd : fds) {
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
  }
  char c;
  EXPECT_EQ(-1, read(fds[0], &c, 1));
  EXPECT_EQ(EAGAIN, errno);
  ASSERT_EQ(1, write(fds[1], "z", 1));
  EXPECT_TRUE(ReadFromFd(fds[0], &c, 1));
  EXPECT_EQ('z', c);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace kelmbase
