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

TEST(ScopedFDTest, ReceiverHandsItsValueToTheHolderWhenItEnds) {
  const int first = OpenDevNull();
  const int second = OpenDevNull();
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ScopedFD fd(first);
  {
    ScopedFD::Receiver receiver(fd);
    *receiver.get() = second;
    EXPECT_EQ(first, fd.get());
  }
  EXPECT_EQ(second, fd.get());
  EXPECT_FALSE(IsOpen(first));

  // As an out-parameter, the value arrives at the end of the statement.
  int opened = -1;
  auto open_into = [&opened](int* out) { *out = opened = OpenDevNull(); };
  open_into(fd.receive().get());
  ASSERT_GE(opened, 0);
  EXPECT_EQ(opened, fd.get());
  EXPECT_FALSE(IsOpen(second));

  // A receiver that gets nothing leaves the holder empty.
  { ScopedFD::Receiver receiver(fd); }
  EXPECT_FALSE(fd.is_valid());
  EXPECT_FALSE(IsOpen(opened));
}

TEST(ScopedFDDeathTest, HolderDestroyedWithActiveReceiverIsFatal) {
  EXPECT_DEATH(
      {
        auto* fd = new ScopedFD;
        ScopedFD::Receiver receiver(*fd);
        delete fd;
      },
      "Check failed: !receiving_ ScopedGeneric destroyed with active "
      "receiver\n\\*\\*\\* Check failure stack trace");
}

TEST(ScopedFDDeathTest, SecondReceiverAtATimeIsFatal) {
  EXPECT_DEATH(
      {
        ScopedFD fd;
        ScopedFD::Receiver first(fd);
        ScopedFD::Receiver second(fd);
      },
      "Check failed: !receiving_\n");
}

TEST(ScopedFDDeathTest, ClosingADescriptorThatIsNotOpenIsFatal) {
  EXPECT_DEATH(
      {
        ScopedFD fd(OpenDevNull());
        close(fd.get());  // Behind the owner's back.
      },
      "Check failed: 0 == ret\n");
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
