#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "agent/base/files/scoped_file.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

constexpr char kViolation[] = "Crashing due to FD ownership violation";

int OpenDevNull() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(FdOwnershipTest, CloseIsTheProcessWideDefinition) {
  // Shared libraries resolve close dynamically; they must reach this
  // program's definition, with the system library's still behind it.
  using CloseFunction = int (*)(int);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "close"),
            reinterpret_cast<void*>(static_cast<CloseFunction>(close)));
  EXPECT_NE(dlsym(RTLD_NEXT, "close"), dlsym(RTLD_DEFAULT, "close"));
}

TEST(FdOwnershipTest, WithoutEnforcementCloseOfAHeldDescriptorSucceeds) {
  ScopedFD fd(OpenDevNull());
  ASSERT_TRUE(fd.is_valid());
  const int raw = fd.get();
  EXPECT_EQ(close(raw), 0);
  EXPECT_FALSE(IsOpen(raw));
  // The holder no longer owns an open descriptor; let it go without the
  // close that would now meet EBADF.
  (void)fd.release();
}

TEST(FdOwnershipDeathTest, WithoutEnforcementTheOwnersLaterCloseIsFatal) {
  EXPECT_DEATH(
      {
        ScopedFD fd(OpenDevNull());
        if (close(fd.get()) != 0) {
          _exit(1);
        }
        fd.reset();
      },
      "Check failed: 0 == ret");
}

TEST(FdOwnershipDeathTest, WithoutEnforcementDoubleAcquireIsNotReported) {
  EXPECT_EXIT(
      {
        const int raw = OpenDevNull();
        UpdateFdOwnership(raw, true);
        UpdateFdOwnership(raw, true);
        UpdateFdOwnership(raw, false);
        UpdateFdOwnership(raw, false);
        _exit(close(raw) == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(FdOwnershipDeathTest, EnforcedCloseOfAHeldDescriptorCrashes) {
  EXPECT_DEATH(
      {
        EnableFdOwnershipEnforcement(true);
        ScopedFD fd(OpenDevNull());
        close(fd.get());
      },
      // The stack follows, naming the interposer that caught the close.
      std::string(kViolation) +
          ".*\n#[0-9]+ 0x[0-9a-f]{12,} kelmbase::CrashOnFdOwnershipViolation"
          "\\(\\)\n#[0-9]+ 0x[0-9a-f]{12,} close\n");
}

TEST(FdOwnershipDeathTest, EnforcedOwnersMayCloseReleaseAndMove) {
  EXPECT_EXIT(
      {
        EnableFdOwnershipEnforcement(true);
        {
          ScopedFD closed_by_owner(OpenDevNull());
        }
        ScopedFD reset_by_owner(OpenDevNull());
        reset_by_owner.reset(OpenDevNull());
        reset_by_owner.reset();

        ScopedFD released(OpenDevNull());
        const int raw = released.release();
        if (close(raw) != 0) {
          _exit(1);
        }

        ScopedFD source(OpenDevNull());
        ScopedFD moved(std::move(source));
        ScopedFD assigned;
        assigned = std::move(moved);
        assigned.reset();
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(FdOwnershipDeathTest, MovedDescriptorStaysRecordedAsOwned) {
  // The close behind the new owner's back is still caught after the move.
  EXPECT_DEATH(
      {
        EnableFdOwnershipEnforcement(true);
        ScopedFD source(OpenDevNull());
        ScopedFD moved(std::move(source));
        close(moved.get());
      },
      kViolation);
}

TEST(FdOwnershipDeathTest, EnforcedSecondHolderOfADescriptorCrashes) {
  EXPECT_DEATH(
      {
        EnableFdOwnershipEnforcement(true);
        ScopedFD first(OpenDevNull());
        ScopedFD second(first.get());
      },
      kViolation);
}

TEST(FdOwnershipDeathTest, EnforcedReleaseOfAnUnownedDescriptorCrashes) {
  EXPECT_DEATH(
      {
        EnableFdOwnershipEnforcement(true);
        UpdateFdOwnership(OpenDevNull(), false);
      },
      kViolation);
}

TEST(FdOwnershipDeathTest, DescriptorsOutsideTheTableAreNeverChecked) {
  EXPECT_EXIT(
      {
        EnableFdOwnershipEnforcement(true);
        // Negative numbers are outside the table too.
        UpdateFdOwnership(-5, true);
        UpdateFdOwnership(-5, true);

        rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
          _exit(2);
        }
        if (limit.rlim_cur <= 5000) {
          limit.rlim_cur = limit.rlim_max > 8192 ? 8192 : limit.rlim_max;
          if (limit.rlim_cur <= 5000 ||
              setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            _exit(0);  // No descriptor above the table can exist here.
          }
        }
        const int high = fcntl(OpenDevNull(), F_DUPFD_CLOEXEC, 5000);
        if (high < 4096) {
          _exit(3);
        }
        ScopedFD first(high);
        ScopedFD second(high);  // Would be a violation inside the table.
        if (close(high) != 0) {
          _exit(4);
        }
        (void)first.release();
        (void)second.release();
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kelmbase
