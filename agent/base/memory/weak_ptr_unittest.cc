#include "agent/base/memory/weak_ptr.h"

#include <atomic>
#include <memory>
#include <thread>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

struct Base {
  int base_value = 1;
};

struct Target : Base {
  int value = 7;
  WeakPtrFactory<Target> weak_factory{this};
};

TEST(WeakPtrTest, EmptyPointersAreNull) {
  WeakPtr<Target> empty;
  EXPECT_EQ(nullptr, empty.get());
  EXPECT_FALSE(empty);
  EXPECT_TRUE(empty == nullptr);
  EXPECT_FALSE(empty.IsValidAnySequence());
  WeakPtr<Target> from_null(nullptr);
  EXPECT_EQ(nullptr, from_null.get());
}

TEST(WeakPtrTest, PointsAtTheOwnerWhileValid) {
  Target target;
  WeakPtr<Target> weak = target.weak_factory.GetWeakPtr();
  EXPECT_EQ(&target, weak.get());
  EXPECT_TRUE(weak);
  EXPECT_EQ(7, weak->value);
  EXPECT_EQ(7, (*weak).value);
  EXPECT_TRUE(weak.IsValidAnySequence());

  WeakPtr<Target> copy = weak;
  EXPECT_EQ(&target, copy.get());
  weak.reset();
  EXPECT_EQ(nullptr, weak.get());
  EXPECT_EQ(&target, copy.get());
}

TEST(WeakPtrTest, InvalidateVoidsOlderPointersOnly) {
  Target target;
  WeakPtr<Target> before = target.weak_factory.GetWeakPtr();
  WeakPtr<Target> before_copy = before;
  EXPECT_TRUE(target.weak_factory.HasWeakPtrs());

  target.weak_factory.InvalidateWeakPtrs();
  EXPECT_EQ(nullptr, before.get());
  EXPECT_EQ(nullptr, before_copy.get());
  EXPECT_FALSE(before.IsValidAnySequence());
  // The fresh flag has no weak pointers yet.
  EXPECT_FALSE(target.weak_factory.HasWeakPtrs());

  WeakPtr<Target> after = target.weak_factory.GetWeakPtr();
  EXPECT_EQ(&target, after.get());
  EXPECT_TRUE(target.weak_factory.HasWeakPtrs());
  // An old pointer copied after the invalidation stays void.
  WeakPtr<Target> late_copy = before;
  EXPECT_EQ(nullptr, late_copy.get());
}

TEST(WeakPtrTest, DestroyingTheFactoryVoidsEveryPointer) {
  WeakPtr<Target> first;
  WeakPtr<Target> second;
  {
    Target target;
    first = target.weak_factory.GetWeakPtr();
    second = target.weak_factory.GetWeakPtr();
  }
  EXPECT_EQ(nullptr, first.get());
  EXPECT_EQ(nullptr, second.get());
  EXPECT_FALSE(first.IsValidAnySequence());
}

TEST(WeakPtrTest, HasWeakPtrsFollowsTheirLifetime) {
  Target target;
  EXPECT_FALSE(target.weak_factory.HasWeakPtrs());
  {
    WeakPtr<Target> weak = target.weak_factory.GetWeakPtr();
    EXPECT_TRUE(target.weak_factory.HasWeakPtrs());
  }
  EXPECT_FALSE(target.weak_factory.HasWeakPtrs());
}

TEST(WeakPtrTest, UpcastKeepsTheReference) {
  auto target = std::make_unique<Target>();
  WeakPtr<Base> base = target->weak_factory.GetWeakPtr();
  EXPECT_EQ(static_cast<Base*>(target.get()), base.get());
  EXPECT_EQ(1, base->base_value);
  target.reset();
  EXPECT_EQ(nullptr, base.get());
}

TEST(WeakPtrTest, ReferenceSourceHandsOutReferencesToTheCurrentFlag) {
  internal::WeakReferenceSource source;
  EXPECT_FALSE(source.HasRefs());
  internal::WeakReference old_ref = source.MakeReference();
  EXPECT_TRUE(old_ref.IsValid());
  EXPECT_TRUE(source.HasRefs());
  source.Invalidate();
  EXPECT_FALSE(old_ref.IsValid());
  EXPECT_FALSE(old_ref.IsValidAnySequence());
  EXPECT_TRUE(source.MakeReference().IsValid());
  EXPECT_FALSE(internal::WeakReference().IsValid());
}

TEST(WeakPtrDeathTest, DereferencingAVoidPointerIsFatal) {
  WeakPtr<Target> weak;
  {
    Target target;
    weak = target.weak_factory.GetWeakPtr();
  }
  EXPECT_DEATH(weak->value++, "Check failed: ref_\\.IsValid\\(\\)");
  EXPECT_DEATH((*weak).value++, "Check failed: ref_\\.IsValid\\(\\)");
  WeakPtr<Target> empty;
  EXPECT_DEATH(empty->value++, "Check failed: ref_\\.IsValid\\(\\)");
}

// Another thread tests validity while the owner invalidates: the flag is an
// atomic, and the invalidation is seen there.
TEST(WeakPtrTest, ValidityIsReadableOnAnyThread) {
  Target target;
  WeakPtr<Target> weak = target.weak_factory.GetWeakPtr();
  std::atomic<bool> invalidated{false};
  bool seen_void = false;
  std::thread reader([&] {
    while (!invalidated.load(std::memory_order_relaxed)) {
      (void)weak.IsValidAnySequence();
    }
    // The flag's release store happened before `invalidated` was set.
    while (weak.IsValidAnySequence()) {
    }
    seen_void = true;
  });
  target.weak_factory.InvalidateWeakPtrs();
  invalidated.store(true, std::memory_order_relaxed);
  reader.join();
  EXPECT_TRUE(seen_void);
}

}  // namespace
}  // namespace kelmbase
