#include "agent/base/functional/revocable_closure.h"

#include <memory>

#include "agent/base/functional/bind.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

OneShotClosure Increment(int* count) {
  return BindOneShot([](int* c) { ++*c; }, count);
}

TEST(RevocableOneShotClosureTest, ForwarderRunsTheWrappedClosure) {
  int runs = 0;
  RevocableOneShotClosure wrapper(Increment(&runs));
  OneShotClosure forwarder = wrapper.MakeForwarder();
  ASSERT_FALSE(forwarder.is_null());
  EXPECT_FALSE(forwarder.IsCancelled());
  EXPECT_TRUE(forwarder.IsPossiblyValid());
  forwarder.Run();
  EXPECT_EQ(1, runs);
  // The wrapper is empty now: new forwarders are null.
  EXPECT_TRUE(wrapper.MakeForwarder().is_null());
}

TEST(RevocableOneShotClosureTest, TwoForwardersRunTheClosureOnce) {
  int runs = 0;
  RevocableOneShotClosure wrapper(Increment(&runs));
  OneShotClosure first = wrapper.MakeForwarder();
  OneShotClosure second = wrapper.MakeForwarder();
  second.Run();
  EXPECT_EQ(1, runs);
  EXPECT_TRUE(first.IsCancelled());
  EXPECT_FALSE(first.IsPossiblyValid());
  first.Run();
  EXPECT_EQ(1, runs);
}

TEST(RevocableOneShotClosureTest, ForwarderAfterTheWrapperIsDestroyed) {
  int runs = 0;
  OneShotClosure forwarder;
  {
    RevocableOneShotClosure wrapper(Increment(&runs));
    forwarder = wrapper.MakeForwarder();
  }
  EXPECT_TRUE(forwarder.IsCancelled());
  EXPECT_FALSE(forwarder.IsPossiblyValid());
  forwarder.Run();
  EXPECT_EQ(0, runs);
}

TEST(RevocableOneShotClosureTest, RevokeCancelsForwarders) {
  int runs = 0;
  RevocableOneShotClosure wrapper(Increment(&runs));
  OneShotClosure forwarder = wrapper.MakeForwarder();
  wrapper.Revoke();
  EXPECT_TRUE(forwarder.IsCancelled());
  forwarder.Run();
  EXPECT_EQ(0, runs);
  EXPECT_TRUE(wrapper.MakeForwarder().is_null());
}

// Running the wrapper itself counts as the one run: forwarders made before
// it become no-ops, and a second run finds nothing to run.
TEST(RevocableOneShotClosureTest, RunWrappedRunsOnceAndCancelsForwarders) {
  int runs = 0;
  RevocableOneShotClosure wrapper(Increment(&runs));
  OneShotClosure forwarder = wrapper.MakeForwarder();
  wrapper.RunWrapped();
  EXPECT_EQ(1, runs);
  EXPECT_TRUE(forwarder.IsCancelled());
  EXPECT_FALSE(forwarder.IsPossiblyValid());
  forwarder.Run();
  wrapper.RunWrapped();
  EXPECT_EQ(1, runs);
  EXPECT_TRUE(wrapper.MakeForwarder().is_null());
}

TEST(RevocableOneShotClosureTest, EmptyWrapperMakesNullForwarders) {
  RevocableOneShotClosure wrapper;
  EXPECT_TRUE(wrapper.MakeForwarder().is_null());
}

// The wrapped closure runs from a local, so it may destroy its wrapper.
TEST(RevocableOneShotClosureTest, WrappedClosureMayDestroyTheWrapper) {
  int runs = 0;
  std::unique_ptr<RevocableOneShotClosure> wrapper;
  wrapper = std::make_unique<RevocableOneShotClosure>(BindOneShot(
      [](std::unique_ptr<RevocableOneShotClosure>* owner, int* count) {
        owner->reset();
        ++*count;
      },
      &wrapper, &runs));
  OneShotClosure forwarder = wrapper->MakeForwarder();
  forwarder.Run();
  EXPECT_EQ(nullptr, wrapper);
  EXPECT_EQ(1, runs);
}

}  // namespace
}  // namespace kelmbase
