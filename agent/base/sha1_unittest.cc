#include "agent/base/sha1.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    char digits[3];
    snprintf(digits, sizeof(digits), "%02x", bytes[i]);
    text += digits;
  }
  return text;
}

// FIPS 180 examples and the empty message.
TEST(Sha1Test, MatchesPublishedVectors) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case kCases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : kCases) {
    uint8_t digest[kSha1Length];
    Sha1Hash(c.input.data(), c.input.size(), digest);
    EXPECT_EQ(Hex(digest, sizeof(digest)), c.digest) << c.input.size();
  }
}

TEST(Sha1Test, RepeatedCallsAgreeAndWriteTwentyBytes) {
  uint8_t first[kSha1Length + 4];
  uint8_t second[kSha1Length + 4];
  memset(first, 0xee, sizeof(first));
  memset(second, 0xee, sizeof(second));
  Sha1Hash("trace id", 8, first);
  Sha1Hash("trace id", 8, second);
  EXPECT_EQ(memcmp(first, second, sizeof(first)), 0);
  for (size_t i = kSha1Length; i < sizeof(first); ++i) {
    EXPECT_EQ(first[i], 0xee) << i;
  }
  Sha1Hash(nullptr, 0, first);
  EXPECT_EQ(Hex(first, kSha1Length),
            "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

}  // namespace
}  // namespace kelmbase
