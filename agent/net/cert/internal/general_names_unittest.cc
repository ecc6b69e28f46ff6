#include "agent/net/cert/internal/general_names.h"

#include <string>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/cert/internal/parse_name.h"
#include "agent/net/der/tag.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Hex;
using test::Sequence;
using test::Tlv;

std::string Name(int n, std::string_view contents) {
  return Tlv(der::ContextSpecificPrimitive(static_cast<uint8_t>(n)), contents);
}
std::string ConstructedName(int n, std::string_view contents) {
  return Tlv(der::ContextSpecificConstructed(static_cast<uint8_t>(n)),
             contents);
}

TEST(ParseGeneralNamesTest, DnsNameAndIpAddress) {
  const std::string san =
      Sequence(Name(2, "example.com") + Name(7, Hex("c0a80001")));
  CertErrors errors;
  std::unique_ptr<GeneralNames> names =
      ParseGeneralNames(der::Input(san), &errors);
  ASSERT_TRUE(names);
  EXPECT_EQ("", errors.ToDebugString());
  EXPECT_EQ(132, names->present_name_types);
  ASSERT_EQ(1u, names->dns_names.size());
  EXPECT_EQ("example.com", names->dns_names[0]);
  ASSERT_EQ(1u, names->ip_addresses.size());
  EXPECT_EQ(IPAddress(192, 168, 0, 1), names->ip_addresses[0]);
  EXPECT_TRUE(names->ip_address_ranges.empty());
}

TEST(ParseGeneralNamesTest, EveryFormIsKeptInItsList) {
  const std::string directory_name_contents =
      test::Set(test::Attribute(TypeCommonNameOid(), der::kUtf8String, "x"));
  const std::string san = Sequence(
      ConstructedName(0, "other") + Name(1, "a@example.com") +
      Name(2, "one.example") + Name(2, "two.example") +
      ConstructedName(3, "x400") +
      ConstructedName(4, Sequence(directory_name_contents)) +
      ConstructedName(5, "edi") + Name(6, "https://example.com/") +
      Name(7, Hex("20010db8000000000000000000000001")) + Name(8, Hex("2a03")));
  std::unique_ptr<GeneralNames> names =
      ParseGeneralNames(der::Input(san), nullptr);
  ASSERT_TRUE(names);
  EXPECT_EQ(GENERAL_NAME_ALL_TYPES, names->present_name_types);
  ASSERT_EQ(1u, names->other_names.size());
  EXPECT_EQ("other", names->other_names[0].AsString());
  ASSERT_EQ(1u, names->rfc822_names.size());
  EXPECT_EQ("a@example.com", names->rfc822_names[0]);
  ASSERT_EQ(2u, names->dns_names.size());
  EXPECT_EQ("one.example", names->dns_names[0]);
  EXPECT_EQ("two.example", names->dns_names[1]);
  ASSERT_EQ(1u, names->x400_addresses.size());
  EXPECT_EQ("x400", names->x400_addresses[0].AsString());
  ASSERT_EQ(1u, names->directory_names.size());
  EXPECT_EQ(directory_name_contents, names->directory_names[0].AsString());
  ASSERT_EQ(1u, names->edi_party_names.size());
  EXPECT_EQ("edi", names->edi_party_names[0].AsString());
  ASSERT_EQ(1u, names->uniform_resource_identifiers.size());
  EXPECT_EQ("https://example.com/", names->uniform_resource_identifiers[0]);
  ASSERT_EQ(1u, names->ip_addresses.size());
  EXPECT_TRUE(names->ip_addresses[0].IsIPv6());
  ASSERT_EQ(1u, names->registered_ids.size());
  EXPECT_EQ(Hex("2a03"), names->registered_ids[0].AsString());
}

TEST(ParseGeneralNamesTest, Failures) {
  const std::string failed = "ERROR: Failed parsing GeneralName\n";
  struct Case {
    const char* what;
    std::string value;
    std::string errors;
  } cases[] = {
      {"IP address of 5 bytes", Sequence(Name(7, Hex("0102030405"))),
       "ERROR: Failed parsing iPAddress\n" + failed},
      {"IP address with a netmask", Sequence(Name(7, Hex("0a000000ff000000"))),
       "ERROR: Failed parsing iPAddress\n" + failed},
      {"dNSName above ASCII", Sequence(Name(2, "caf\xc3\xa9.example")),
       "ERROR: dNSName is not ASCII\n" + failed},
      {"rfc822Name above ASCII", Sequence(Name(1, "\x80@example.com")),
       "ERROR: rfc822Name is not ASCII\n" + failed},
      {"URI above ASCII", Sequence(Name(6, "https://\xff/")),
       "ERROR: uniformResourceIdentifier is not ASCII\n" + failed},
      {"tag [9]", Sequence(Name(9, "x")),
       "ERROR: Unknown GeneralName type\n  tag: 2147483657\n" + failed},
      {"dNSName constructed", Sequence(ConstructedName(2, "")),
       "ERROR: Unknown GeneralName type\n  tag: 2684354562\n" + failed},
      {"otherName primitive", Sequence(Name(0, "")),
       "ERROR: Unknown GeneralName type\n  tag: 2147483648\n" + failed},
      {"universal tag", Sequence(Tlv(der::kIA5String, "x")),
       "ERROR: Unknown GeneralName type\n  tag: 22\n" + failed},
      {"directoryName without a Name",
       Sequence(ConstructedName(4, Tlv(der::kSet, ""))), failed},
      {"directoryName with trailing data",
       Sequence(ConstructedName(4, Sequence("") + Sequence(""))), failed},
      {"empty", Sequence(""),
       "ERROR: GeneralNames is a sequence of 0 elements\n"},
      {"truncated element", Sequence(Name(2, "abc").substr(0, 3)),
       "ERROR: Failed reading GeneralName TLV\n"},
      {"not a SEQUENCE", Tlv(der::kSet, Name(2, "a")),
       "ERROR: Failed reading GeneralNames SEQUENCE\n"},
      {"trailing data", Sequence(Name(2, "a")) + Sequence(""),
       "ERROR: GeneralNames contains trailing data after the sequence\n"},
      {"a good name before a bad one",
       Sequence(Name(2, "a") + Name(7, Hex("01"))),
       "ERROR: Failed parsing iPAddress\n" + failed},
  };
  for (const Case& c : cases) {
    CertErrors errors;
    EXPECT_FALSE(ParseGeneralNames(der::Input(c.value), &errors)) << c.what;
    EXPECT_EQ(c.errors, errors.ToDebugString()) << c.what;
  }
}

TEST(ParseGeneralNameTest, AddressAndMask) {
  struct Case {
    const char* what;
    std::string value;
    bool ok;
    std::string address;
    unsigned prefix_length;
  } cases[] = {
      {"/16", Hex("c0a80000 ffff0000"), true, Hex("c0a80000"), 16},
      {"/0", Hex("00000000 00000000"), true, Hex("00000000"), 0},
      {"/32", Hex("0a010203 ffffffff"), true, Hex("0a010203"), 32},
      {"/23", Hex("0a010200 fffffe00"), true, Hex("0a010200"), 23},
      {"host bits may be set", Hex("0a010203 ff000000"), true, Hex("0a010203"),
       8},
      {"IPv6 /32",
       Hex("20010db8000000000000000000000000 ffffffff000000000000000000000000"),
       true, Hex("20010db8000000000000000000000000"), 32},
      {"IPv6 /128",
       Hex("20010db8000000000000000000000001 ffffffffffffffffffffffffffffffff"),
       true, Hex("20010db8000000000000000000000001"), 128},
      {"gap in the mask", Hex("c0a80000 ff00ff00"), false, "", 0},
      {"one stray bit", Hex("c0a80000 ffff0001"), false, "", 0},
      {"stray bit in the partial byte", Hex("c0a80000 fffffa00"), false, "", 0},
      {"IPv6 gap",
       Hex("20010db8000000000000000000000000 ffffffff000000000000000000000001"),
       false, "", 0},
      {"a bare address", Hex("c0a80001"), false, "", 0},
      {"16 bytes", Hex("20010db8000000000000000000000001"), false, "", 0},
      {"9 bytes", Hex("c0a80000 ffff0000 00"), false, "", 0},
  };
  for (const Case& c : cases) {
    GeneralNames names;
    CertErrors errors;
    const std::string tlv = Name(7, c.value);
    ASSERT_EQ(c.ok, ParseGeneralName(der::Input(tlv), ADDRESS_AND_MASK, &names,
                                     &errors))
        << c.what;
    if (!c.ok) {
      EXPECT_EQ("ERROR: Failed parsing iPAddress\n", errors.ToDebugString())
          << c.what;
      EXPECT_TRUE(names.ip_address_ranges.empty()) << c.what;
      EXPECT_EQ(GENERAL_NAME_NONE, names.present_name_types) << c.what;
      continue;
    }
    EXPECT_TRUE(names.ip_addresses.empty()) << c.what;
    ASSERT_EQ(1u, names.ip_address_ranges.size()) << c.what;
    const IPAddress expected(reinterpret_cast<const uint8_t*>(c.address.data()),
                             c.address.size());
    EXPECT_EQ(expected, names.ip_address_ranges[0].first) << c.what;
    EXPECT_EQ(c.prefix_length, names.ip_address_ranges[0].second) << c.what;
    EXPECT_EQ(GENERAL_NAME_IP_ADDRESS, names.present_name_types) << c.what;
  }
}

TEST(ParseGeneralNameTest, FailureLeavesTheListsAlone) {
  GeneralNames names;
  const std::string good = Name(2, "a.example");
  ASSERT_TRUE(
      ParseGeneralName(der::Input(good), ADDRESS_ONLY, &names, nullptr));
  const std::string bad_dns = Name(2, "\xff");
  const std::string bad_directory_name = ConstructedName(4, "");
  EXPECT_FALSE(
      ParseGeneralName(der::Input(bad_dns), ADDRESS_ONLY, &names, nullptr));
  EXPECT_FALSE(ParseGeneralName(der::Input(bad_directory_name), ADDRESS_ONLY,
                                &names, nullptr));
  EXPECT_EQ(1u, names.dns_names.size());
  EXPECT_TRUE(names.directory_names.empty());
  EXPECT_EQ(GENERAL_NAME_DNS_NAME, names.present_name_types);
}

}  // namespace
}  // namespace net
