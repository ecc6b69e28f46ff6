#include "agent/base/task/per_sequence_storage_map.h"

#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::vector<int>* g_destroyed = nullptr;

void RecordDestroyed(void* value) {
  g_destroyed->push_back(*static_cast<int*>(value));
}

class PerSequenceStorageMapTest : public testing::Test {
 protected:
  PerSequenceStorageMapTest() { g_destroyed = &destroyed_; }
  ~PerSequenceStorageMapTest() override { g_destroyed = nullptr; }

  std::vector<int> destroyed_;
  int values_[4] = {1, 2, 3, 4};
  const char keys_[4] = {};
};

TEST_F(PerSequenceStorageMapTest, DestroysValuesNewestFirst) {
  {
    PerSequenceStorageMap map;
    map.Set(&keys_[0], &values_[0], &RecordDestroyed);
    map.Set(&keys_[1], &values_[1], &RecordDestroyed);
    map.Set(&keys_[2], nullptr, &RecordDestroyed);  // Null: not destroyed.
    map.Set(&keys_[3], &values_[3], &RecordDestroyed);
    EXPECT_EQ(map.Get(&keys_[1]), &values_[1]);
    EXPECT_EQ(map.Get(&keys_[2]), nullptr);
    EXPECT_TRUE(destroyed_.empty());
  }
  EXPECT_EQ(destroyed_, (std::vector<int>{4, 2, 1}));
}

TEST_F(PerSequenceStorageMapTest, ReplacingAValueDestroysTheOldOne) {
  PerSequenceStorageMap map;
  map.Set(&keys_[0], &values_[0], &RecordDestroyed);
  map.Set(&keys_[0], &values_[2], &RecordDestroyed);
  EXPECT_EQ(destroyed_, (std::vector<int>{1}));
  EXPECT_EQ(map.Get(&keys_[0]), &values_[2]);
  EXPECT_EQ(map.Get(&keys_[3]), nullptr);
}

TEST(PerSequenceStorageMapCurrentTest, CurrentMapIsPerThread) {
  EXPECT_EQ(PerSequenceStorageMap::GetCurrent(), nullptr);
  PerSequenceStorageMap map;
  PerSequenceStorageMap::SetCurrent(&map);
  EXPECT_EQ(PerSequenceStorageMap::GetCurrent(), &map);

  PerSequenceStorageMap* seen_elsewhere = &map;
  std::thread other(
      [&] { seen_elsewhere = PerSequenceStorageMap::GetCurrent(); });
  other.join();
  EXPECT_EQ(seen_elsewhere, nullptr);

  PerSequenceStorageMap::ClearCurrent();
  EXPECT_EQ(PerSequenceStorageMap::GetCurrent(), nullptr);
}

}  // namespace
}  // namespace kelmbase
