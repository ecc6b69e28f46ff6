#include "agent/base/threading/thread_local_storage.h"

#include <cstdint>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {

class ThreadLocalStorageTestPeer {
 public:
  static int Index(const ThreadLocalStorage::Slot& slot) { return slot.slot_; }
  static uint32_t Version(const ThreadLocalStorage::Slot& slot) {
    return slot.version_;
  }
};

namespace {

TEST(ThreadLocalStorageTest, ValuesArePerThread) {
  ThreadLocalStorage::Slot slot;
  int main_value = 1;
  EXPECT_EQ(nullptr, slot.Get());
  slot.Set(&main_value);
  EXPECT_EQ(&main_value, slot.Get());
  void* seen_elsewhere = &main_value;
  int other_value = 2;
  void* after_set = nullptr;
  std::thread([&] {
    seen_elsewhere = slot.Get();
    slot.Set(&other_value);
    after_set = slot.Get();
  }).join();
  EXPECT_EQ(nullptr, seen_elsewhere);
  EXPECT_EQ(&other_value, after_set);
  EXPECT_EQ(&main_value, slot.Get());
  slot.Set(nullptr);
  EXPECT_EQ(nullptr, slot.Get());
}

TEST(ThreadLocalStorageTest, ReallocatedSlotHidesOldValues) {
  auto* slot = new ThreadLocalStorage::Slot();
  const int index = ThreadLocalStorageTestPeer::Index(*slot);
  const uint32_t version = ThreadLocalStorageTestPeer::Version(*slot);
  int value = 7;
  slot->Set(&value);
  void* other_thread_value = &value;
  std::thread([&] {
    slot->Set(&value);
    delete slot;
    // Walk the table once round: the freed index comes back, with a new
    // version, and reads null on both threads.
    std::vector<ThreadLocalStorage::Slot*> taken;
    while (true) {
      auto* candidate = new ThreadLocalStorage::Slot();
      taken.push_back(candidate);
      if (ThreadLocalStorageTestPeer::Index(*candidate) == index) {
        EXPECT_EQ(version + 1, ThreadLocalStorageTestPeer::Version(*candidate));
        other_thread_value = candidate->Get();
        break;
      }
    }
    for (ThreadLocalStorage::Slot* candidate : taken) {
      EXPECT_EQ(nullptr, candidate->Get());
      delete candidate;
    }
  }).join();
  EXPECT_EQ(nullptr, other_thread_value);
}

struct DestructorLog {
  static std::vector<intptr_t>* entries;
};
std::vector<intptr_t>* DestructorLog::entries = nullptr;

ThreadLocalStorage::Slot* g_second_slot = nullptr;

TEST(ThreadLocalStorageTest, DestructorsRunAtThreadExitInPasses) {
  std::vector<intptr_t> entries;
  DestructorLog::entries = &entries;
  ThreadLocalStorage::Slot second([](void* value) {
    DestructorLog::entries->push_back(reinterpret_cast<intptr_t>(value));
  });
  g_second_slot = &second;
  ThreadLocalStorage::Slot first([](void* value) {
    DestructorLog::entries->push_back(reinterpret_cast<intptr_t>(value));
    EXPECT_TRUE(ThreadLocalStorage::HasBeenDestroyed());
    // Values set from a destructor are destroyed in a later pass.
    if (reinterpret_cast<intptr_t>(value) == 1) {
      g_second_slot->Set(reinterpret_cast<void*>(2));
    }
  });
  bool destroyed_before_exit = true;
  std::thread([&] {
    destroyed_before_exit = ThreadLocalStorage::HasBeenDestroyed();
    first.Set(reinterpret_cast<void*>(1));
  }).join();
  EXPECT_FALSE(destroyed_before_exit);
  EXPECT_EQ((std::vector<intptr_t>{1, 2}), entries);
  EXPECT_FALSE(ThreadLocalStorage::HasBeenDestroyed());
}

int g_resurrections = 0;
ThreadLocalStorage::Slot* g_resurrecting_slot = nullptr;

TEST(ThreadLocalStorageTest, DestructorThatAlwaysSetsAgainStopsAfterAllPasses) {
  g_resurrections = 0;
  ThreadLocalStorage::Slot slot([](void* value) {
    ++g_resurrections;
    g_resurrecting_slot->Set(value);
  });
  g_resurrecting_slot = &slot;
  std::thread([&] { slot.Set(&g_resurrections); }).join();
  EXPECT_EQ(kThreadLocalStorageSize, g_resurrections);
}

TEST(ThreadLocalStorageTest, FreedSlotDestructorDoesNotRun) {
  static int runs = 0;
  runs = 0;
  auto* slot = new ThreadLocalStorage::Slot([](void*) { ++runs; });
  ThreadLocalStorage::Slot keeper;
  std::thread([&] {
    slot->Set(&runs);
    delete slot;
    keeper.Set(&runs);
  }).join();
  EXPECT_EQ(0, runs);
}

TEST(ThreadLocalStorageTest, HasBeenDestroyedIsFalseOnAFreshThread) {
  bool destroyed = true;
  std::thread([&] { destroyed = ThreadLocalStorage::HasBeenDestroyed(); })
      .join();
  EXPECT_FALSE(destroyed);
}

TEST(ThreadLocalStorageDeathTest, RunningOutOfSlotsIsFatal) {
  EXPECT_DEATH(
      {
        // More slots than the table holds, whatever the process already
        // uses; never freed, the child process ends here.
        for (int i = 0; i <= kThreadLocalStorageSize; ++i) {
          new ThreadLocalStorage::Slot();
        }
      },
      "Check failed: slot_ != kInvalidSlotValue\n");
}

ThreadLocalStorage::Slot* g_late_slot = nullptr;

TEST(ThreadLocalStorageDeathTest, SetAfterDestructionIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        g_late_slot = new ThreadLocalStorage::Slot();
        // A second key destructor that runs after ours has finished (keys
        // are destroyed in creation order, ours first) and sets a value.
        pthread_key_t late_key;
        pthread_key_create(&late_key, [](void*) {
          g_late_slot->Set(reinterpret_cast<void*>(1));
        });
        std::thread([&] {
          g_late_slot->Set(reinterpret_cast<void*>(3));
          pthread_setspecific(late_key, reinterpret_cast<void*>(1));
        }).join();
      },
      "Check failed: GetTlsVectorStateAndValue\\(key\\) == "
      "TlsVectorState::kUninitialized \\(2 vs. 0\\)");
}

}  // namespace
}  // namespace kelmbase
