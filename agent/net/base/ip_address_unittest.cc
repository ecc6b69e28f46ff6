#include "agent/net/base/ip_address.h"

#include <arpa/inet.h>

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace net {
namespace {

// Parses dotted IPv4 or colon IPv6 text; fails the test on bad text.
IPAddress Ip(const std::string& text) {
  uint8_t bytes[16];
  if (text.find(':') == std::string::npos) {
    EXPECT_EQ(1, inet_pton(AF_INET, text.c_str(), bytes)) << text;
    return IPAddress(bytes, 4);
  }
  EXPECT_EQ(1, inet_pton(AF_INET6, text.c_str(), bytes)) << text;
  return IPAddress(bytes, 16);
}

TEST(IPAddressTest, SizesAndEquality) {
  EXPECT_TRUE(IPAddress().empty());
  EXPECT_TRUE(Ip("10.1.2.3").IsIPv4());
  EXPECT_TRUE(Ip("::1").IsIPv6());
  EXPECT_EQ(Ip("10.1.2.3"), IPAddress(10, 1, 2, 3));
  EXPECT_NE(Ip("10.1.2.3"), Ip("10.1.2.4"));
  // Equal leading bytes of different sizes are different addresses.
  EXPECT_NE(Ip("0.0.0.0"), Ip("::"));
}

TEST(IPAddressTest, AssignCopiesOnlyTheGivenBytes) {
  const uint8_t first[] = {1, 2,  3,  4,  5,  6,  7,  8,
                           9, 10, 11, 12, 13, 14, 15, 16};
  IPAddressBytes bytes(first, 16);
  const uint8_t second[] = {9, 9, 9, 9};
  bytes.Assign(second, 4);
  EXPECT_EQ(4u, bytes.size());
  EXPECT_EQ(IPAddressBytes(second, 4), bytes);
}

TEST(IPAddressDeathTest, AssignRefusesMoreThanSixteenBytes) {
  const uint8_t seventeen[17] = {};
  IPAddressBytes bytes;
  EXPECT_DEATH(bytes.Assign(seventeen, 17),
               "Check failed: 16u >= data_len \\(16 vs. 17\\)");
}

TEST(IPAddressTest, MapIPv4ToIPv6) {
  EXPECT_EQ(Ip("::ffff:192.168.1.1"), MapIPv4ToIPv6(Ip("192.168.1.1")));
}

TEST(IPAddressTest, AddressMatchesPrefix) {
  struct Case {
    const char* address;
    const char* prefix;
    size_t bits;
    bool matches;
  } cases[] = {
      {"10.1.2.3", "10.0.0.0", 8, true},
      {"10.1.2.3", "11.0.0.0", 8, false},
      {"10.1.2.3", "11.0.0.0", 0, true},
      {"10.1.2.3", "10.1.2.3", 32, true},
      {"10.1.2.3", "10.1.2.2", 32, false},
      {"10.1.2.3", "10.1.2.2", 31, true},
      // A partial byte compares only its top bits: 0x80 vs 0xBF share 2.
      {"128.0.0.0", "191.0.0.0", 2, true},
      {"128.0.0.0", "191.0.0.0", 3, false},
      // IPv4 address, IPv6 prefix: the mapped address, same length.
      {"192.168.1.1", "::ffff:192.168.0.0", 112, true},
      {"192.168.1.1", "::ffff:192.169.0.0", 112, false},
      {"192.168.1.1", "::", 80, true},
      {"192.168.1.1", "::", 81, false},
      // IPv6 address, IPv4 prefix: the mapped prefix, 96 bits longer.
      {"::ffff:10.1.2.3", "10.0.0.0", 8, true},
      {"::ffff:11.1.2.3", "10.0.0.0", 8, false},
      {"2001:db8::1", "10.0.0.0", 0, false},
      {"2001:db8::1", "2001:db8::", 32, true},
      {"2001:db9::1", "2001:db8::", 32, false},
      {"2001:db8::1", "2001:db8::", 128, false},
      // A length past the addresses is never a match.
      {"10.1.2.3", "10.1.2.3", 33, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.matches,
              AddressMatchesPrefix(Ip(c.address), Ip(c.prefix), c.bits))
        << c.address << " in " << c.prefix << "/" << c.bits;
  }
}

TEST(IPAddressTest, AddressesOfOtherSizesNeverMatch) {
  const uint8_t five[] = {10, 1, 2, 3, 4};
  EXPECT_FALSE(AddressMatchesPrefix(IPAddress(five, 5), Ip("10.0.0.0"), 0));
  EXPECT_FALSE(AddressMatchesPrefix(IPAddress(), Ip("::"), 0));
}

TEST(IPAddressTest, PrefixBitsEqualWithinOneByte) {
  const uint8_t a[] = {0xA5};
  const uint8_t b[] = {0xA4};
  for (size_t bits = 0; bits <= 8; ++bits) {
    EXPECT_EQ(bits < 8,
              PrefixBitsEqual(IPAddressBytes(a, 1), IPAddressBytes(b, 1), bits))
        << bits;
  }
}

TEST(IPAddressTest, CommonPrefixBits) {
  struct Case {
    const char* a;
    const char* b;
    size_t bits;
  } cases[] = {
      {"128.0.0.0", "0.0.0.0", 0},         {"10.1.2.3", "10.1.2.3", 32},
      {"10.1.2.3", "10.1.2.2", 31},        {"10.1.64.0", "10.1.0.0", 17},
      {"2001:db8::1", "2001:db8::1", 128}, {"2001:db8::1", "2001:db8::", 127},
      {"2001:db8::", "a001:db8::", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bits, CommonPrefixBits(Ip(c.a), Ip(c.b)))
        << c.a << " / " << c.b;
  }
}

TEST(IPAddressTest, MaskPrefixBits) {
  struct Case {
    const char* mask;
    size_t bits;
  } cases[] = {
      {"255.255.255.0", 24},
      {"0.0.0.0", 0},
      {"255.255.255.255", 32},
      {"255.255.0.255", 16},
      {"255.254.0.0", 15},
      {"ffff:ffff::", 32},
      {"::", 0},
      {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 128},
      {"ffff:fff0::", 28},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bits, MaskPrefixBits(Ip(c.mask))) << c.mask;
  }
}

}  // namespace
}  // namespace net
