#include "internal/sdk/kelm_core/auth/signature_cache.h"

#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace kelm_auth {
namespace {

TEST(SignatureCacheTest, AnswersOnlyForItsKeyAndInput) {
  SignatureCache cache;
  EXPECT_EQ(cache.Get("", "input"), "");
  cache.Put("key A", "input", "signature");
  EXPECT_EQ(cache.Get("key A", "input"), "signature");
  EXPECT_EQ(cache.Get("key A", "other input"), "");
  EXPECT_EQ(cache.Get("key B", "input"), "");
  // Keys compare byte for byte.
  EXPECT_EQ(cache.Get(std::string("key A\0", 6), "input"), "");
  // Looking up another key clears nothing.
  EXPECT_EQ(cache.Get("key A", "input"), "signature");
}

TEST(SignatureCacheTest, TheEmptyKeyIsTheInitialKey) {
  SignatureCache cache;
  cache.Put("", "input", "signature");
  EXPECT_EQ(cache.Get("", "input"), "signature");
}

TEST(SignatureCacheTest, StoringForAnotherKeyForgetsThePreviousKey) {
  SignatureCache cache;
  cache.Put("key A", "one", "A1");
  cache.Put("key A", "two", "A2");
  cache.Put("key B", "one", "B1");
  EXPECT_EQ(cache.Get("key B", "one"), "B1");
  EXPECT_EQ(cache.Get("key A", "one"), "");
  // Back to A: B is forgotten and A starts empty.
  cache.Put("key A", "three", "A3");
  EXPECT_EQ(cache.Get("key A", "two"), "");
  EXPECT_EQ(cache.Get("key A", "three"), "A3");
  EXPECT_EQ(cache.Get("key B", "one"), "");
}

TEST(SignatureCacheTest, KeepsTheTenMostRecentlyUsedInputs) {
  SignatureCache cache;
  for (int i = 1; i <= 10; ++i) {
    cache.Put("key", "input" + std::to_string(i), "sig" + std::to_string(i));
  }
  EXPECT_EQ(cache.Get("key", "input2"), "sig2");
  cache.Put("key", "input11", "sig11");
  EXPECT_EQ(cache.Get("key", "input1"), "");
  EXPECT_EQ(cache.Get("key", "input11"), "sig11");
  cache.Put("key", "input12", "sig12");
  // The second was used after the third, so the third went.
  EXPECT_EQ(cache.Get("key", "input3"), "");
  EXPECT_EQ(cache.Get("key", "input2"), "sig2");
  for (int i = 4; i <= 12; ++i) {
    EXPECT_EQ(cache.Get("key", "input" + std::to_string(i)),
              "sig" + std::to_string(i));
  }
}

TEST(SignatureCacheTest, SharedBetweenThreads) {
  SignatureCache cache;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      const std::string key = t % 2 == 0 ? "key A" : "key B";
      for (int i = 0; i < 200; ++i) {
        const std::string input = std::to_string(i % 12);
        const std::string found = cache.Get(key, input);
        // Whatever is found was stored for this key and input.
        if (!found.empty()) {
          EXPECT_EQ(found, key + "/" + input);
        }
        cache.Put(key, input, key + "/" + input);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(SignatureCacheTest, ProcessWideCacheIsOneObject) {
  EXPECT_EQ(&GetSignatureCache(), &GetSignatureCache());
}

}  // namespace
}  // namespace kelm_auth
