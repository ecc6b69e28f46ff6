#include "agent/base/files/scoped_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

int OpenDevNull() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(ScopedFDTest, DefaultHoldsNothing) {
  ScopedFD fd;
  EXPECT_FALSE(fd.is_valid());
  EXPECT_EQ(-1, fd.get());
}

TEST(ScopedFDTest, ClosesOnDestruction) {
  int raw = OpenDevNull();
  ASSERT_GE(raw, 0);
  {
    ScopedFD fd(raw);
    EXPECT_TRUE(fd.is_valid());
    EXPECT_EQ(raw, fd.get());
  }
  EXPECT_FALSE(IsOpen(raw));
}

TEST(ScopedFDTest, ResetClosesTheOldDescriptor) {
  int first = OpenDevNull();
  int second = OpenDevNull();
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ScopedFD fd(first);
  fd.reset(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_TRUE(IsOpen(second));
  fd.reset();
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(fd.is_valid());
}

TEST(ScopedFDTest, ReleaseGivesUpWithoutClosing) {
  int raw = OpenDevNull();
  ASSERT_GE(raw, 0);
  {
    ScopedFD fd(raw);
    EXPECT_EQ(raw, fd.release());
    EXPECT_FALSE(fd.is_valid());
  }
  EXPECT_TRUE(IsOpen(raw));
  close(raw);
}

TEST(ScopedFDTest, MoveTransfersOwnership) {
  int raw = OpenDevNull();
  ASSERT_GE(raw, 0);
  ScopedFD source(raw);
  ScopedFD moved(std::move(source));
  EXPECT_FALSE(source.is_valid());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(raw, moved.get());

  int other = OpenDevNull();
  ASSERT_GE(other, 0);
  ScopedFD assigned(other);
  assigned = std::move(moved);
  EXPECT_FALSE(IsOpen(other));
  EXPECT_EQ(raw, assigned.get());
  EXPECT_TRUE(IsOpen(raw));
}

TEST(ScopedFDDeathTest, ClosingADescriptorThatIsNotOpenIsFatal) {
  EXPECT_DEATH(
      {
        ScopedFD fd(OpenDevNull());
        close(fd.get());  // Behind the owner's back.
      },
      "Check failed: 0 == ret");
}

TEST(ScopedFDDeathTest, ResetToTheHeldDescriptorAborts) {
  EXPECT_DEATH(
      {
        ScopedFD fd(OpenDevNull());
        fd.reset(fd.get());
      },
      "");
}

}  // namespace
}  // namespace kelmbase
