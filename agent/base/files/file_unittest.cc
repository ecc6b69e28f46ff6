#include "agent/base/files/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(FileTest, ErrorValues) {
  EXPECT_EQ(0, File::kErrorOk);
  EXPECT_EQ(-1, File::kErrorFailed);
  EXPECT_EQ(-2, File::kErrorInUse);
  EXPECT_EQ(-3, File::kErrorExists);
  EXPECT_EQ(-4, File::kErrorNotFound);
  EXPECT_EQ(-5, File::kErrorAccessDenied);
  EXPECT_EQ(-6, File::kErrorTooManyOpened);
  EXPECT_EQ(-7, File::kErrorNoMemory);
  EXPECT_EQ(-8, File::kErrorNoSpace);
  EXPECT_EQ(-9, File::kErrorNotADirectory);
  EXPECT_EQ(-16, File::kErrorIo);
}

TEST(FileTest, ErrorFromErrno) {
  struct Case {
    int error_number;
    File::Error expected;
  } const cases[] = {
      {EPERM, File::kErrorAccessDenied},  {EACCES, File::kErrorAccessDenied},
      {EISDIR, File::kErrorAccessDenied}, {EROFS, File::kErrorAccessDenied},
      {ENOENT, File::kErrorNotFound},     {EIO, File::kErrorIo},
      {ENOMEM, File::kErrorNoMemory},     {EBUSY, File::kErrorInUse},
      {ETXTBSY, File::kErrorInUse},       {EEXIST, File::kErrorExists},
      {ENOTDIR, File::kErrorNotADirectory}, {ENFILE, File::kErrorTooManyOpened},
      {EMFILE, File::kErrorTooManyOpened}, {ENOSPC, File::kErrorNoSpace},
      // Unmapped values, including ones at both ends of the mapped range.
      {0, File::kErrorFailed},            {ESRCH, File::kErrorFailed},
      {EINTR, File::kErrorFailed},        {EBADF, File::kErrorFailed},
      {EINVAL, File::kErrorFailed},       {ENOTEMPTY, File::kErrorFailed},
      {ELOOP, File::kErrorFailed},        {-5, File::kErrorFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, File::ErrorFromErrno(c.error_number))
        << "errno " << c.error_number;
  }
}

TEST(FileTest, StatFamily) {
  stat_wrapper_t st;
  ASSERT_EQ(0, File::Stat("/", &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  // /proc/self is a link to the process's own directory.
  ASSERT_EQ(0, File::Lstat("/proc/self", &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(0, File::Stat("/proc/self", &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, File::Fstat(fd, &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  close(fd);

  errno = 0;
  EXPECT_EQ(-1, File::Stat("/no/such/path", &st));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(-1, File::Lstat("/no/such/path", &st));
  EXPECT_EQ(-1, File::Fstat(-1, &st));
  EXPECT_EQ(EBADF, errno);
}

}  // namespace
}  // namespace kelmbase
