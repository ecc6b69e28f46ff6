#include "agent/net/cert/internal/extended_key_usage.h"

#include <string>
#include <vector>

#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/der/tag.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Oid;
using test::Sequence;
using test::Tlv;

TEST(ParseExtendedKeyUsageTest, Cases) {
  struct Case {
    const char* what;
    std::string value;
    bool ok;
    std::vector<der::Input> purposes;
  } cases[] = {
      {"two purposes in order",
       Sequence(Oid(ServerAuth()) + Oid(ClientAuth())),
       true,
       {ServerAuth(), ClientAuth()}},
      {"repeats are kept",
       Sequence(Oid(ClientAuth()) + Oid(ClientAuth())),
       true,
       {ClientAuth(), ClientAuth()}},
      {"any purpose", Sequence(Oid(AnyEKU())), true, {AnyEKU()}},
      {"empty", Sequence(""), false, {}},
      {"an INTEGER",
       Sequence(Oid(ServerAuth()) + Tlv(der::kInteger, "\x01")),
       false,
       {}},
      {"trailing data",
       Sequence(Oid(ServerAuth())) + Tlv(der::kNull, ""),
       false,
       {}},
      {"not a SEQUENCE", Tlv(der::kSet, Oid(ServerAuth())), false, {}},
  };
  for (const Case& c : cases) {
    std::vector<der::Input> purposes;
    ASSERT_EQ(c.ok, ParseExtendedKeyUsage(der::Input(c.value), &purposes))
        << c.what;
    if (c.ok) {
      EXPECT_EQ(c.purposes, purposes) << c.what;
    }
  }
}

TEST(ParseExtendedKeyUsageTest, Appends) {
  const std::string value = Sequence(Oid(ClientAuth()));
  std::vector<der::Input> purposes = {ServerAuth()};
  ASSERT_TRUE(ParseExtendedKeyUsage(der::Input(value), &purposes));
  EXPECT_EQ((std::vector<der::Input>{ServerAuth(), ClientAuth()}), purposes);
}

TEST(ParseExtendedKeyUsageTest, OidsSpellTheirDottedForms) {
  EXPECT_EQ("2.5.29.37.0", test::OidToText(AnyEKU()));
  EXPECT_EQ("1.3.6.1.5.5.7.3.1", test::OidToText(ServerAuth()));
  EXPECT_EQ("1.3.6.1.5.5.7.3.2", test::OidToText(ClientAuth()));
  EXPECT_EQ("2.16.840.1.113730.4.1",
            test::OidToText(NetscapeServerGatedCrypto()));
}

}  // namespace
}  // namespace net
