#include "agent/base/threading/scoped_blocking_call.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(ScopedBlockingCallTest, ErrnoOfTheBlockingCallSurvivesTheScope) {
  errno = 0;
  {
    ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
    EXPECT_EQ(-1, open("/nonexistent-dir-for-blocking-test/x", O_RDONLY));
  }
  EXPECT_EQ(ENOENT, errno);
  {
    ScopedBlockingCallWithBaseSyncPrimitives scope(FROM_HERE,
                                                   BlockingType::kWillBlock);
    errno = EAGAIN;
  }
  EXPECT_EQ(EAGAIN, errno);
}

TEST(ScopedBlockingCallTest, ScopesNestAndRestoreTheirPredecessor) {
  EXPECT_EQ(nullptr, internal::BlockingScopeBase::GetCurrentScope());
  {
    ScopedBlockingCall outer(FROM_HERE, BlockingType::kMayBlock);
    EXPECT_EQ(&outer, internal::BlockingScopeBase::GetCurrentScope());
    EXPECT_FALSE(outer.is_will_block());
    {
      ScopedBlockingCallWithBaseSyncPrimitives inner(FROM_HERE,
                                                     BlockingType::kWillBlock);
      EXPECT_EQ(&inner, internal::BlockingScopeBase::GetCurrentScope());
      EXPECT_EQ(&outer, inner.previous_scope());
      EXPECT_TRUE(inner.is_will_block());
      {
        // Inherits will-block from its predecessor.
        ScopedBlockingCall innermost(FROM_HERE, BlockingType::kMayBlock);
        EXPECT_TRUE(innermost.is_will_block());
      }
    }
    EXPECT_EQ(&outer, internal::BlockingScopeBase::GetCurrentScope());
  }
  EXPECT_EQ(nullptr, internal::BlockingScopeBase::GetCurrentScope());
}

class RecordingObserver : public internal::BlockingCallObserver {
 public:
  void BlockingStarted(BlockingType blocking_type) override {
    events.push_back(blocking_type == BlockingType::kMayBlock ? "started-may"
                                                              : "started-will");
  }
  void BlockingTypeUpgraded() override { events.push_back("upgraded"); }
  void BlockingEnded() override { events.push_back("ended"); }

  std::vector<std::string> events;
};

TEST(ScopedBlockingCallTest, ObserverSeesOutermostScopeAndOneUpgrade) {
  RecordingObserver observer;
  internal::SetBlockingCallObserverForCurrentThread(&observer);
  {
    ScopedBlockingCall outer(FROM_HERE, BlockingType::kMayBlock);
    { ScopedBlockingCall inner(FROM_HERE, BlockingType::kMayBlock); }
    {
      ScopedBlockingCall upgrade(FROM_HERE, BlockingType::kWillBlock);
      // Already will-block: no second upgrade.
      ScopedBlockingCall nested(FROM_HERE, BlockingType::kWillBlock);
    }
  }
  { ScopedBlockingCall will(FROM_HERE, BlockingType::kWillBlock); }
  internal::SetBlockingCallObserverForCurrentThread(nullptr);
  EXPECT_EQ((std::vector<std::string>{"started-may", "upgraded", "ended",
                                      "started-will", "ended"}),
            observer.events);
}

}  // namespace
}  // namespace kelmbase
