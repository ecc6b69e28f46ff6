#include "agent/base/containers/mru_cache.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

using Cache = HashingMRUCache<std::string, std::string>;

// The keys from most to least recently used.
std::vector<std::string> Keys(const Cache& cache) {
  std::vector<std::string> keys;
  for (const auto& entry : cache) keys.push_back(entry.first);
  return keys;
}

TEST(HashingMRUCacheTest, GetFindsWhatPutStored) {
  Cache cache(3);
  EXPECT_TRUE(cache.empty());
  EXPECT_EQ(cache.Get("a"), cache.end());

  Cache::iterator put = cache.Put("a", "1");
  EXPECT_EQ(put->first, "a");
  EXPECT_EQ(put->second, "1");
  cache.Put("b", "2");
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache.max_size(), 3u);

  Cache::iterator it = cache.Get("a");
  ASSERT_NE(it, cache.end());
  EXPECT_EQ(it->second, "1");
  EXPECT_EQ(cache.Get("c"), cache.end());
}

TEST(HashingMRUCacheTest, KeepsEntriesInOrderOfUse) {
  Cache cache(5);
  cache.Put("a", "1");
  cache.Put("b", "2");
  cache.Put("c", "3");
  EXPECT_EQ(Keys(cache), (std::vector<std::string>{"c", "b", "a"}));
  cache.Get("a");
  EXPECT_EQ(Keys(cache), (std::vector<std::string>{"a", "c", "b"}));
  // A miss changes nothing.
  cache.Get("z");
  EXPECT_EQ(Keys(cache), (std::vector<std::string>{"a", "c", "b"}));
}

TEST(HashingMRUCacheTest, FullCacheEvictsTheLeastRecentlyUsed) {
  struct Case {
    const char* name;
    std::vector<std::string> touch;  // Keys looked up before the extra Put.
    std::vector<std::string> left;   // Keys left afterwards, MRU first.
  };
  const Case cases[] = {
      {"no lookups", {}, {"d", "c", "b"}},
      {"oldest looked up", {"a"}, {"d", "a", "c"}},
      {"all looked up", {"b", "a", "c"}, {"d", "c", "a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cache cache(3);
    cache.Put("a", "1");
    cache.Put("b", "2");
    cache.Put("c", "3");
    for (const std::string& key : c.touch) cache.Get(key);
    cache.Put("d", "4");
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(Keys(cache), c.left);
  }
}

TEST(HashingMRUCacheTest, TenEntriesAndAnEleventh) {
  Cache cache(10);
  for (int i = 1; i <= 10; ++i) {
    cache.Put("input" + std::to_string(i), "sig" + std::to_string(i));
  }
  cache.Get("input2");
  cache.Put("input11", "sig11");
  EXPECT_EQ(cache.size(), 10u);
  EXPECT_EQ(cache.Get("input1"), cache.end());
  EXPECT_NE(cache.Get("input2"), cache.end());
  cache.Put("input12", "sig12");
  // The second survived the first eviction and was used again since, so the
  // third goes next.
  EXPECT_EQ(cache.Get("input3"), cache.end());
  EXPECT_NE(cache.Get("input2"), cache.end());
  EXPECT_NE(cache.Get("input4"), cache.end());
}

TEST(HashingMRUCacheTest, PutOfAKnownKeyReplacesItWithoutEvicting) {
  Cache cache(3);
  cache.Put("a", "1");
  cache.Put("b", "2");
  cache.Put("c", "3");
  cache.Put("a", "new");
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(Keys(cache), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(cache.Get("a")->second, "new");
}

TEST(HashingMRUCacheTest, ClearDropsEverything) {
  Cache cache(3);
  cache.Put("a", "1");
  cache.Put("b", "2");
  cache.Clear();
  EXPECT_TRUE(cache.empty());
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(cache.Get("a"), cache.end());
  EXPECT_EQ(cache.begin(), cache.end());
  // Still usable at full size.
  for (const char* key : {"x", "y", "z"}) cache.Put(key, key);
  EXPECT_EQ(cache.size(), 3u);
}

TEST(HashingMRUCacheTest, MaxSizeOneKeepsTheNewest) {
  Cache cache(1);
  cache.Put("a", "1");
  cache.Put("b", "2");
  EXPECT_EQ(Keys(cache), std::vector<std::string>{"b"});
}

TEST(HashingMRUCacheTest, NoAutoEvictGrowsWithoutBound) {
  Cache cache(Cache::NO_AUTO_EVICT);
  for (int i = 0; i < 100; ++i) cache.Put(std::to_string(i), "v");
  EXPECT_EQ(cache.size(), 100u);
  EXPECT_NE(cache.Get("0"), cache.end());
}

TEST(HashingMRUCacheTest, HoldsMoveOnlyPayloads) {
  HashingMRUCache<int, std::unique_ptr<int>> cache(2);
  cache.Put(1, std::make_unique<int>(10));
  cache.Put(2, std::make_unique<int>(20));
  cache.Put(3, std::make_unique<int>(30));
  EXPECT_EQ(cache.Get(1), cache.end());
  ASSERT_NE(cache.Get(2), cache.end());
  EXPECT_EQ(*cache.Get(2)->second, 20);
}

}  // namespace
}  // namespace kelmbase
