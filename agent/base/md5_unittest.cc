#include "agent/base/md5.h"

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

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, MatchesRfc1321Vectors) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678"
       "901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : kCases) {
    uint8_t digest[kMd5Length];
    Md5Sum(c.input.data(), c.input.size(), digest);
    EXPECT_EQ(Hex(digest, sizeof(digest)), c.digest) << c.input;
  }
}

TEST(Md5Test, WritesExactlySixteenBytes) {
  uint8_t out[kMd5Length + 4];
  memset(out, 0xee, sizeof(out));
  Md5Sum("abc", 3, out);
  for (size_t i = kMd5Length; i < sizeof(out); ++i) {
    EXPECT_EQ(out[i], 0xee) << i;
  }
  EXPECT_EQ(Hex(out, kMd5Length), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Test, EmptyInputMayHaveNoPointer) {
  uint8_t digest[kMd5Length];
  Md5Sum(nullptr, 0, digest);
  EXPECT_EQ(Hex(digest, sizeof(digest)), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace kelmbase
