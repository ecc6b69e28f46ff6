#include "agent/base/memory/ref_counted.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>
#include <utility>

#include "agent/base/memory/scoped_refptr.h"
#include "gtest/gtest.h"

namespace kelmbase {

namespace subtle {

// Reaches the single-thread count so the overflow check can be shown
// without four billion increments.
class RefCountedBaseTestPeer {
 public:
  static void SetCount(const RefCountedBase& object, uint32_t count) {
    object.ref_count_ = count;
  }
};

}  // namespace subtle

namespace {

class Counted : public RefCountedThreadSafe<Counted> {
 public:
  explicit Counted(int* deletions) : deletions_(deletions) {}

  int value = 0;

 protected:
  friend class RefCountedThreadSafe<Counted>;
  virtual ~Counted() { ++*deletions_; }

 private:
  int* deletions_;
};

class DerivedCounted : public Counted {
 public:
  using Counted::Counted;

 private:
  ~DerivedCounted() override = default;
};

class SingleThreadCounted : public RefCounted<SingleThreadCounted> {
 public:
  explicit SingleThreadCounted(int* deletions) : deletions_(deletions) {}

 private:
  friend class RefCounted<SingleThreadCounted>;
  ~SingleThreadCounted() { ++*deletions_; }

  int* deletions_;
};

TEST(RefCountedTest, CountStartsAtZeroAndTheFirstOwnerMakesItOne) {
  int deletions = 0;
  Counted* raw = new Counted(&deletions);
  EXPECT_FALSE(raw->HasSingleRef());
  {
    scoped_refptr<Counted> first(raw);
    EXPECT_TRUE(raw->HasSingleRef());
    {
      scoped_refptr<Counted> second = first;
      EXPECT_FALSE(raw->HasSingleRef());
      EXPECT_EQ(first, second);
    }
    EXPECT_TRUE(raw->HasSingleRef());
    EXPECT_EQ(0, deletions);
  }
  EXPECT_EQ(1, deletions);
}

TEST(RefCountedTest, MoveTransfersWithoutTouchingTheCount) {
  int deletions = 0;
  scoped_refptr<Counted> a = MakeRefCounted<Counted>(&deletions);
  Counted* raw = a.get();
  scoped_refptr<Counted> b = std::move(a);
  EXPECT_EQ(nullptr, a);
  EXPECT_EQ(raw, b.get());
  EXPECT_TRUE(raw->HasSingleRef());

  scoped_refptr<Counted> c;
  c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_TRUE(raw->HasSingleRef());
  EXPECT_EQ(0, deletions);
  c.reset();
  EXPECT_EQ(nullptr, c.get());
  EXPECT_EQ(1, deletions);
}

TEST(RefCountedTest, AssignmentReleasesTheOldObject) {
  int first_deletions = 0;
  int second_deletions = 0;
  scoped_refptr<Counted> p = MakeRefCounted<Counted>(&first_deletions);
  scoped_refptr<Counted> other = MakeRefCounted<Counted>(&second_deletions);
  p = other;
  EXPECT_EQ(1, first_deletions);
  EXPECT_FALSE(other->HasSingleRef());

  // Self-assignment keeps the object.
  scoped_refptr<Counted>& alias = p;
  p = alias;
  EXPECT_EQ(0, second_deletions);
  p = nullptr;
  other = nullptr;
  EXPECT_EQ(1, second_deletions);
}

TEST(RefCountedTest, UpcastsShareTheCount) {
  int deletions = 0;
  scoped_refptr<DerivedCounted> derived =
      MakeRefCounted<DerivedCounted>(&deletions);
  scoped_refptr<Counted> base = derived;
  EXPECT_FALSE(derived->HasSingleRef());
  derived.reset();
  EXPECT_TRUE(base->HasSingleRef());
  scoped_refptr<Counted> moved(std::move(base));
  EXPECT_EQ(0, deletions);
  moved.reset();
  EXPECT_EQ(1, deletions);
}

TEST(RefCountedTest, WrapRefCountedAddsAReference) {
  int deletions = 0;
  scoped_refptr<Counted> owner = MakeRefCounted<Counted>(&deletions);
  scoped_refptr<Counted> wrapped = WrapRefCounted(owner.get());
  EXPECT_FALSE(owner->HasSingleRef());
  owner.reset();
  EXPECT_EQ(0, deletions);
}

struct TraitsRecord {
  static inline int destructs = 0;
};

class WithTraits;

struct CountingTraits {
  static void Destruct(const WithTraits* object);
};

class WithTraits : public RefCountedThreadSafe<WithTraits, CountingTraits> {};

void CountingTraits::Destruct(const WithTraits* object) {
  ++TraitsRecord::destructs;
  delete object;
}

TEST(RefCountedTest, LastReleaseGoesThroughTheTraits) {
  TraitsRecord::destructs = 0;
  {
    scoped_refptr<WithTraits> a = MakeRefCounted<WithTraits>();
    scoped_refptr<WithTraits> b = a;
  }
  EXPECT_EQ(1, TraitsRecord::destructs);
}

TEST(RefCountedTest, AddRefCheckedOnALiveObject) {
  int deletions = 0;
  scoped_refptr<Counted> p = MakeRefCounted<Counted>(&deletions);
  p->AddRefChecked();
  EXPECT_FALSE(p->HasSingleRef());
  p->Release();
  EXPECT_TRUE(p->HasSingleRef());
}

TEST(RefCountedDeathTest, AddRefCheckedRefusesToReviveAnObject) {
  int deletions = 0;
  Counted* raw = new Counted(&deletions);
  EXPECT_DEATH(raw->AddRefChecked(),
               "Check failed: ref_count_\\.Increment\\(\\) > 0");
  scoped_refptr<Counted> cleanup(raw);
}

// Both threads write through their own reference and then release; the
// acquire-release decrement makes the last releaser see the other's write
// before it deletes (ThreadSanitizer checks the ordering).
TEST(RefCountedTest, ConcurrentReleasesDeleteExactlyOnce) {
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> deletions{0};
    struct Shared : RefCountedThreadSafe<Shared> {
      explicit Shared(std::atomic<int>* deletions) : deletions(deletions) {}
      ~Shared() {
        EXPECT_EQ(2, writes[0] + writes[1]);
        deletions->fetch_add(1);
      }
      std::atomic<int>* deletions;
      int writes[2] = {0, 0};
    };
    scoped_refptr<Shared> first = MakeRefCounted<Shared>(&deletions);
    scoped_refptr<Shared> second = first;
    std::atomic<bool> go{false};
    auto release = [&go](scoped_refptr<Shared> ref, int slot) {
      while (!go.load()) {
      }
      ref->writes[slot] = 1;
      ref.reset();
    };
    std::thread a(release, std::move(first), 0);
    std::thread b(release, std::move(second), 1);
    go.store(true);
    a.join();
    b.join();
    EXPECT_EQ(1, deletions.load());
  }
}

TEST(RefCountedTest, SingleThreadCountsReleaseToZero) {
  int deletions = 0;
  {
    scoped_refptr<SingleThreadCounted> a =
        MakeRefCounted<SingleThreadCounted>(&deletions);
    EXPECT_TRUE(a->HasSingleRef());
    scoped_refptr<SingleThreadCounted> b = a;
    EXPECT_FALSE(a->HasSingleRef());
  }
  EXPECT_EQ(1, deletions);
}

TEST(RefCountedDeathTest, SingleThreadCountOverflowIsFatal) {
  int deletions = 0;
  SingleThreadCounted* raw = new SingleThreadCounted(&deletions);
  subtle::RefCountedBaseTestPeer::SetCount(
      *raw, std::numeric_limits<uint32_t>::max() - 1);
  raw->IncrementChecked();  // Reaches the largest value: still fine.
  EXPECT_DEATH(raw->IncrementChecked(), "Check failed: \\+\\+ref_count_ != 0");
  subtle::RefCountedBaseTestPeer::SetCount(*raw, 0);
  scoped_refptr<SingleThreadCounted> cleanup(raw);
}

TEST(RefCountedDeathTest, SingleThreadCountUnderflowIsFatal) {
  int deletions = 0;
  SingleThreadCounted* raw = new SingleThreadCounted(&deletions);
  EXPECT_DEATH(raw->DecrementChecked(),
               "Check failed: --ref_count_ != "
               "std::numeric_limits<decltype\\(ref_count_\\)>::max\\(\\)");
  scoped_refptr<SingleThreadCounted> cleanup(raw);
}

TEST(ScopedRefptrTest, NullPointers) {
  scoped_refptr<Counted> empty;
  EXPECT_FALSE(empty);
  EXPECT_EQ(nullptr, empty);
  scoped_refptr<Counted> from_null(nullptr);
  EXPECT_EQ(empty, from_null);
  Counted* null_raw = nullptr;
  scoped_refptr<Counted> from_null_raw(null_raw);
  EXPECT_EQ(nullptr, from_null_raw.get());
  from_null_raw.reset();
}

}  // namespace
}  // namespace kelmbase
