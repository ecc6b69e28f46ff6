#include "agent/net/cert/internal/name_constraints.h"

#include <memory>
#include <string>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/cert/internal/parse_name.h"
#include "agent/net/der/tag.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Attribute;
using test::Hex;
using test::Sequence;
using test::Set;
using test::Tlv;

const char kNotPermitted[] = "ERROR: Not permitted by name constraints\n";
const char kTooMany[] = "ERROR: Too many name constraints checks\n";

// GeneralName elements.
std::string Rfc822(std::string_view name) {
  return Tlv(der::ContextSpecificPrimitive(1), name);
}
std::string Dns(std::string_view name) {
  return Tlv(der::ContextSpecificPrimitive(2), name);
}
std::string DirectoryName(std::string_view rdn_sequence) {
  return Tlv(der::ContextSpecificConstructed(4), Sequence(rdn_sequence));
}
std::string Uri(std::string_view uri) {
  return Tlv(der::ContextSpecificPrimitive(6), uri);
}
std::string Ip(std::string_view hex_bytes) {
  return Tlv(der::ContextSpecificPrimitive(7), Hex(hex_bytes));
}

// A nameConstraints value whose subtrees have the given bases; an empty
// side is left out.
std::string Constraints(const std::vector<std::string>& permitted,
                        const std::vector<std::string>& excluded) {
  std::string permitted_subtrees, excluded_subtrees;
  for (const std::string& base : permitted)
    permitted_subtrees += Sequence(base);
  for (const std::string& base : excluded) excluded_subtrees += Sequence(base);
  std::string contents;
  if (!permitted.empty()) {
    contents += Tlv(der::ContextSpecificConstructed(0), permitted_subtrees);
  }
  if (!excluded.empty()) {
    contents += Tlv(der::ContextSpecificConstructed(1), excluded_subtrees);
  }
  return Sequence(contents);
}

// RDN sequences.
std::string C(std::string_view value) {
  return Set(Attribute(TypeCountryNameOid(), der::kPrintableString, value));
}
std::string O(std::string_view value) {
  return Set(Attribute(TypeOrganizationNameOid(), der::kUtf8String, value));
}
std::string Cn(std::string_view value) {
  return Set(Attribute(TypeCommonNameOid(), der::kUtf8String, value));
}
std::string Email(std::string_view value) {
  return Set(Attribute(TypeEmailAddressOid(), der::kIA5String, value));
}

// Holds the encoded bytes that a NameConstraints views.
struct ParsedConstraints {
  ParsedConstraints(std::string value, bool is_critical)
      : der(std::move(value)),
        constraints(
            NameConstraints::Create(der::Input(der), is_critical, &errors)) {}
  std::string der;
  CertErrors errors;
  std::unique_ptr<NameConstraints> constraints;
};

std::unique_ptr<GeneralNames> Sans(const std::string& general_names_tlv) {
  return ParseGeneralNames(der::Input(general_names_tlv), nullptr);
}

// Runs IsPermittedCert and returns its error text ("" when permitted).
std::string CheckCert(const NameConstraints& constraints,
                      const std::string& subject, const std::string* san) {
  std::unique_ptr<GeneralNames> names;
  if (san) {
    names = Sans(*san);
    EXPECT_TRUE(names);
  }
  CertErrors errors;
  constraints.IsPermittedCert(der::Input(subject), names.get(), &errors);
  return errors.ToDebugString();
}

TEST(DnsNameMatchesConstraintTest, Cases) {
  struct Case {
    const char* name;
    const char* constraint;
    bool partial;  // WILDCARD_PARTIAL_MATCH
    bool full;     // WILDCARD_FULL_MATCH
  } cases[] = {
      {"b.c", "b.c", true, true},
      {"a.b.c", "b.c", true, true},
      {"xb.c", "b.c", false, false},
      {"a.b.c", ".b.c", true, true},
      {"b.c", ".b.c", false, false},
      {"a.b.c", "B.C.", true, true},
      {"A.B.C.", "b.c", true, true},
      {"a.b.c", "", true, true},
      {"", "", true, true},
      {"", "b.c", false, false},
      {"a.b.c", "c", true, true},
      {"abc", "c", false, false},
      {"b.c", "a.b.c", false, false},
      // A wildcard overlaps a constraint naming one of its names.
      {"*.b.c", "a.b.c", true, false},
      {"*.B.C", "a.b.c", true, false},
      {"*.b.c", "b.c", true, true},
      {"*.b.c", ".b.c", true, true},
      {"*.b.c", "x.a.b.c", false, false},
      {"*.b.c", "ab.c", false, false},
      // Too short to be a wildcard: the asterisk is an ordinary byte.
      {"*.", "a.", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.partial, DnsNameMatchesConstraint(c.name, c.constraint,
                                                  WILDCARD_PARTIAL_MATCH))
        << c.name << " / " << c.constraint;
    EXPECT_EQ(c.full, DnsNameMatchesConstraint(c.name, c.constraint,
                                               WILDCARD_FULL_MATCH))
        << c.name << " / " << c.constraint;
  }
}

TEST(NameConstraintsTest, CreateFailures) {
  struct Case {
    const char* what;
    std::string value;
    std::string errors;
  } cases[] = {
      {"neither subtree", Sequence(""), ""},
      {"subtree with a minimum",
       Sequence(Tlv(der::ContextSpecificConstructed(0),
                    Sequence(Dns("b.c") +
                             Tlv(der::ContextSpecificPrimitive(0), "\x00")))),
       ""},
      {"subtree with a maximum",
       Sequence(Tlv(der::ContextSpecificConstructed(1),
                    Sequence(Dns("b.c") +
                             Tlv(der::ContextSpecificPrimitive(1), "\x01")))),
       ""},
      {"empty permitted subtrees",
       Sequence(Tlv(der::ContextSpecificConstructed(0), "")), ""},
      {"empty subtree",
       Sequence(Tlv(der::ContextSpecificConstructed(0), Sequence(""))), ""},
      {"excluded before permitted",
       Sequence(Tlv(der::ContextSpecificConstructed(1), Sequence(Dns("a"))) +
                Tlv(der::ContextSpecificConstructed(0), Sequence(Dns("b")))),
       ""},
      {"trailing data in the SEQUENCE",
       Sequence(Tlv(der::ContextSpecificConstructed(0), Sequence(Dns("a"))) +
                Tlv(der::kNull, "")),
       ""},
      {"trailing data after the SEQUENCE",
       Constraints({Dns("a")}, {}) + Tlv(der::kNull, ""), ""},
      {"netmask with a gap", Constraints({Ip("c0a80000 ff00ff00")}, {}),
       "ERROR: Failed parsing iPAddress\n"
       "ERROR: Failed parsing GeneralName\n"},
      {"bare address", Constraints({}, {Ip("c0a80000")}),
       "ERROR: Failed parsing iPAddress\n"
       "ERROR: Failed parsing GeneralName\n"},
      {"unknown form",
       Constraints({Tlv(der::ContextSpecificPrimitive(9), "")}, {}),
       "ERROR: Unknown GeneralName type\n  tag: 2147483657\n"
       "ERROR: Failed parsing GeneralName\n"},
  };
  for (const Case& c : cases) {
    ParsedConstraints parsed(c.value, /*is_critical=*/true);
    EXPECT_FALSE(parsed.constraints) << c.what;
    EXPECT_EQ(c.errors, parsed.errors.ToDebugString()) << c.what;
  }
}

TEST(NameConstraintsTest, ConstrainedTypesDependOnCriticality) {
  const std::string value =
      Constraints({Dns("b.c"), Rfc822("example.com"), Ip("0a000000 ff000000")},
                  {Uri("https://x/"), DirectoryName(C("US"))});
  ParsedConstraints critical(value, true);
  ParsedConstraints non_critical(value, false);
  ASSERT_TRUE(critical.constraints);
  ASSERT_TRUE(non_critical.constraints);
  EXPECT_EQ(GENERAL_NAME_DNS_NAME | GENERAL_NAME_RFC822_NAME |
                GENERAL_NAME_IP_ADDRESS |
                GENERAL_NAME_UNIFORM_RESOURCE_IDENTIFIER |
                GENERAL_NAME_DIRECTORY_NAME,
            critical.constraints->constrained_name_types());
  EXPECT_EQ(GENERAL_NAME_DNS_NAME | GENERAL_NAME_IP_ADDRESS |
                GENERAL_NAME_DIRECTORY_NAME,
            non_critical.constraints->constrained_name_types());
  const GeneralNames& permitted = critical.constraints->permitted_subtrees();
  ASSERT_EQ(1u, permitted.ip_address_ranges.size());
  EXPECT_EQ(8u, permitted.ip_address_ranges[0].second);
  EXPECT_EQ(1u,
            critical.constraints->excluded_subtrees().directory_names.size());
}

TEST(NameConstraintsTest, DnsNames) {
  ParsedConstraints parsed(
      Constraints({Dns("b.c"), Dns("a.x.y")}, {Dns("bad.b.c"), Dns("a.q.b.c")}),
      true);
  ASSERT_TRUE(parsed.constraints);
  const NameConstraints& nc = *parsed.constraints;
  struct Case {
    const char* name;
    bool permitted;
  } cases[] = {
      {"b.c", true},
      {"a.b.c", true},
      {"A.B.C.", true},
      {"xb.c", false},
      {"bad.b.c", false},
      {"x.bad.b.c", false},
      {"a.x.y", true},
      // Would stand for names outside a.x.y.
      {"*.x.y", false},
      // Would stand for the excluded a.q.b.c.
      {"*.q.b.c", false},
      // Would stand for the excluded bad.b.c.
      {"*.b.c", false},
      // Stands for names that no excluded subtree holds.
      {"*.z.b.c", true},
      {"other.z", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.permitted, nc.IsPermittedDnsName(c.name)) << c.name;
  }
}

TEST(NameConstraintsTest, ExcludedOnlyConstraintsPermitNothingOfTheirForm) {
  // A form that appears only among the excluded subtrees is still a
  // constrained form, and a constrained form needs a permitted subtree: so
  // names outside the excluded subtrees are refused as well. This departs
  // from RFC 5280 on purpose; forms named on neither side stay free.
  ParsedConstraints parsed(
      Constraints({}, {Dns("bad.example"), DirectoryName(C("US") + O("Bad")),
                       Ip("0a000000 ff000000")}),
      true);
  ASSERT_TRUE(parsed.constraints);
  const NameConstraints& nc = *parsed.constraints;
  EXPECT_FALSE(nc.IsPermittedDnsName("good.example"));
  EXPECT_FALSE(nc.IsPermittedDnsName("www.bad.example"));
  EXPECT_FALSE(nc.IsPermittedDirectoryName(der::Input(C("US") + O("Good"))));
  EXPECT_FALSE(
      nc.IsPermittedDirectoryName(der::Input(C("US") + O("Bad") + Cn("x"))));
  EXPECT_FALSE(nc.IsPermittedIp(IPAddress(11, 0, 0, 1)));
  EXPECT_FALSE(nc.IsPermittedIp(IPAddress(10, 0, 0, 1)));

  ParsedConstraints dns_only(Constraints({}, {Dns("bad.example")}), true);
  ASSERT_TRUE(dns_only.constraints);
  EXPECT_TRUE(dns_only.constraints->IsPermittedIp(IPAddress(11, 0, 0, 1)));
  EXPECT_TRUE(dns_only.constraints->IsPermittedDirectoryName(
      der::Input(C("US") + O("Good"))));
}

TEST(NameConstraintsTest, DirectoryNames) {
  ParsedConstraints parsed(
      Constraints({DirectoryName(C("US") + O("X"))},
                  {DirectoryName(C("US") + O("X") + Cn("Excluded"))}),
      true);
  ASSERT_TRUE(parsed.constraints);
  const NameConstraints& nc = *parsed.constraints;
  struct Case {
    const char* what;
    std::string name;
    bool permitted;
  } cases[] = {
      {"the subtree itself", C("US") + O("X"), true},
      {"below the subtree", C("US") + O("X") + Cn("Y"), true},
      {"differently spelled", C("us") + O("  x "), true},
      {"above the subtree", C("US"), false},
      {"beside the subtree", C("US") + O("Z") + Cn("Y"), false},
      {"excluded", C("US") + O("X") + Cn("Excluded"), false},
      {"below the excluded subtree",
       C("US") + O("X") + Cn("Excluded") + Cn("Z"), false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.permitted, nc.IsPermittedDirectoryName(der::Input(c.name)))
        << c.what;
  }
}

TEST(NameConstraintsTest, IpAddresses) {
  ParsedConstraints parsed(Constraints({Ip("0a000000 ff000000"),
                                        Ip("20010db8000000000000000000000000 "
                                           "ffffffff000000000000000000000000")},
                                       {Ip("0a010000 ffff0000")}),
                           true);
  ASSERT_TRUE(parsed.constraints);
  const NameConstraints& nc = *parsed.constraints;
  const uint8_t mapped[] = {0, 0, 0,    0,    0,  0, 0, 0,
                            0, 0, 0xff, 0xff, 10, 2, 0, 1};
  const uint8_t documentation[] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                   0,    0,    0,    0,    0, 0, 0, 1};
  EXPECT_TRUE(nc.IsPermittedIp(IPAddress(10, 2, 3, 4)));
  EXPECT_FALSE(nc.IsPermittedIp(IPAddress(11, 2, 3, 4)));
  EXPECT_FALSE(nc.IsPermittedIp(IPAddress(10, 1, 3, 4)));
  // An IPv6-mapped IPv4 address meets the IPv4 ranges.
  EXPECT_TRUE(nc.IsPermittedIp(IPAddress(mapped, sizeof(mapped))));
  EXPECT_TRUE(
      nc.IsPermittedIp(IPAddress(documentation, sizeof(documentation))));
}

TEST(NameConstraintsTest, IsPermittedCert) {
  const std::string subject = C("US") + O("X") + Cn("Y");
  struct Case {
    const char* what;
    std::string constraints;
    bool critical;
    std::string subject;
    std::optional<std::string> san;
    std::string errors;
  } cases[] = {
      {"permitted rfc822Name, critical, SAN rfc822Name",
       Constraints({Rfc822("example.com")}, {}), true, subject,
       Sequence(Rfc822("a@example.com")), kNotPermitted},
      {"permitted rfc822Name, non-critical, SAN rfc822Name",
       Constraints({Rfc822("example.com")}, {}), false, subject,
       Sequence(Rfc822("a@example.com")), ""},
      {"critical URI constraint, SAN without a URI",
       Constraints({Uri("https://example.com/")}, {}), true, subject,
       Sequence(Dns("a.example.com")), ""},
      {"rfc822Name constrained, no SAN, email in the subject",
       Constraints({Rfc822("example.com")}, {}), true,
       subject + Email("a@example.com"), std::nullopt, kNotPermitted},
      {"rfc822Name constrained, no SAN, no email",
       Constraints({Rfc822("example.com")}, {}), true, subject, std::nullopt,
       ""},
      {"rfc822Name constrained, no SAN, unreadable subject",
       Constraints({Rfc822("example.com")}, {}), true, subject + Set(""),
       std::nullopt, kNotPermitted},
      {"rfc822Name not constrained, no SAN, email in the subject",
       Constraints({Rfc822("example.com")}, {}), false,
       subject + Email("a@example.com"), std::nullopt, ""},
      {"rfc822Name constrained, SAN present, email in the subject",
       Constraints({Rfc822("example.com")}, {}), true,
       subject + Email("a@example.com"), Sequence(Dns("a.b")), ""},
      {"SAN dNSName permitted", Constraints({Dns("b.c")}, {}), true, subject,
       Sequence(Dns("a.b.c")), ""},
      {"SAN dNSName not permitted", Constraints({Dns("b.c")}, {}), true,
       subject, Sequence(Dns("a.b.c") + Dns("a.b.d")), kNotPermitted},
      {"SAN directoryName not permitted",
       Constraints({DirectoryName(C("US"))}, {}), true, C("US") + O("X"),
       Sequence(DirectoryName(C("DE"))), kNotPermitted},
      {"SAN iPAddress not permitted",
       Constraints({Ip("0a000000 ff000000")}, {}), true, subject,
       Sequence(Ip("0b000001")), kNotPermitted},
      {"subject outside the directoryName subtree, with SAN",
       Constraints({DirectoryName(C("DE"))}, {}), true, subject,
       Sequence(Dns("a.b")), kNotPermitted},
      {"empty subject skips directoryName with a SAN",
       Constraints({DirectoryName(C("DE"))}, {}), true, "",
       Sequence(Dns("a.b")), ""},
      {"empty subject is checked without a SAN",
       Constraints({DirectoryName(C("DE"))}, {}), true, "", std::nullopt,
       kNotPermitted},
      {"only the first failure is recorded",
       Constraints({Uri("https://example.com/"), Dns("b.c")}, {}), true,
       subject, Sequence(Uri("https://example.com/") + Dns("x.y")),
       kNotPermitted},
  };
  for (const Case& c : cases) {
    ParsedConstraints parsed(c.constraints, c.critical);
    ASSERT_TRUE(parsed.constraints) << c.what;
    EXPECT_EQ(c.errors, CheckCert(*parsed.constraints, c.subject,
                                  c.san ? &*c.san : nullptr))
        << c.what;
  }
}

// `count` copies of one GeneralSubtree base.
std::vector<std::string> Repeat(const std::string& base, size_t count) {
  return std::vector<std::string>(count, base);
}

TEST(NameConstraintsTest, CheckCountLimitWithSubjectAltName) {
  ParsedConstraints parsed(Constraints(Repeat(Dns("example"), 1024), {}), true);
  ASSERT_TRUE(parsed.constraints);
  std::string names_1024, names_1025;
  for (int i = 0; i < 1024; ++i) names_1024 += Dns("a.example");
  names_1025 = names_1024 + Dns("a.example");
  const std::string san_1024 = Sequence(names_1024);
  const std::string san_1025 = Sequence(names_1025);
  // 1024 * 1024 = 2^20 checks are allowed, 1025 * 1024 are not.
  EXPECT_EQ("", CheckCert(*parsed.constraints, "", &san_1024));
  EXPECT_EQ(kTooMany, CheckCert(*parsed.constraints, "", &san_1025));
}

TEST(NameConstraintsTest, CheckCountLimitCountsTheSubject) {
  // SAN directoryNames times subtrees, plus the subtrees once more for a
  // non-empty subject.
  ParsedConstraints parsed(
      Constraints(Repeat(DirectoryName(C("US")), 1024), {}), true);
  ASSERT_TRUE(parsed.constraints);
  std::string names_1023;
  for (int i = 0; i < 1023; ++i) names_1023 += DirectoryName(C("US") + O("X"));
  const std::string san_1023 = Sequence(names_1023);
  const std::string san_1024 =
      Sequence(names_1023 + DirectoryName(C("US") + O("X")));
  const std::string subject = C("US") + O("X");
  EXPECT_EQ("", CheckCert(*parsed.constraints, subject, &san_1023));
  EXPECT_EQ("", CheckCert(*parsed.constraints, "", &san_1024));
  EXPECT_EQ(kTooMany, CheckCert(*parsed.constraints, subject, &san_1024));
}

TEST(NameConstraintsTest, CheckCountLimitWithoutSubjectAltName) {
  const std::string base = DirectoryName("");
  ParsedConstraints at_limit(Constraints(Repeat(base, 1 << 20), {}), true);
  ParsedConstraints over_limit(
      Constraints(Repeat(base, 1 << 19),
                  Repeat(DirectoryName(C("ZZ")), (1 << 19) + 1)),
      true);
  ASSERT_TRUE(at_limit.constraints);
  ASSERT_TRUE(over_limit.constraints);
  EXPECT_EQ("", CheckCert(*at_limit.constraints, C("US"), nullptr));
  EXPECT_EQ(kTooMany, CheckCert(*over_limit.constraints, C("US"), nullptr));
}

// Extension values written by the openssl command line (req -x509 with
// -extensions), so that the parsers meet an encoder other than this file's.
//   subjectAltName: DNS:a.example.com, DNS:*.b.example.com, IP:10.1.2.3,
//     IP:2001:db8::1, email:someone@example.com, URI:https://example.com/path,
//     RID:1.2.3.4, dirName:/C=US/O=Example Org/CN=Directory Name,
//     otherName:UPN;UTF8:user@example.com
//   nameConstraints: permitted DNS:.example.com, IP:10.0.0.0/255.0.0.0,
//     IP:2001:db8::/ffff:ffff::, dirName:/C=US/O=Example Org,
//     email:.example.com; excluded DNS:bad.example.com,
//     IP:10.99.0.0/255.255.0.0, URI:.bad.example
constexpr char kOpensslSubjectAltName[] =
    "3081ce820d612e6578616d706c652e636f6d820f2a2e622e6578616d706c652e"
    "636f6d87040a010203871020010db80000000000000000000000018113736f6d"
    "656f6e65406578616d706c652e636f6d861868747470733a2f2f6578616d706c"
    "652e636f6d2f7061746888032a0304a43e303c310b3009060355040613025553"
    "31143012060355040a0c0b4578616d706c65204f72673117301506035504030c"
    "0e4469726563746f7279204e616d65a020060a2b060104018237140203a0120c"
    "1075736572406578616d706c652e636f6d";
constexpr char kOpensslNameConstraints[] =
    "3081aca079300e820c2e6578616d706c652e636f6d300a87080a000000ff0000"
    "003022872020010db8000000000000000000000000ffffffff00000000000000"
    "00000000003027a4253023310b30090603550406130255533114301206035504"
    "0a0c0b4578616d706c65204f7267300e810c2e6578616d706c652e636f6da12f"
    "3011820f6261642e6578616d706c652e636f6d300a87080a630000ffff000030"
    "0e860c2e6261642e6578616d706c65";

TEST(NameConstraintsTest, OpensslEncodings) {
  const std::string san = Hex(kOpensslSubjectAltName);
  std::unique_ptr<GeneralNames> names = Sans(san);
  ASSERT_TRUE(names);
  EXPECT_EQ(GENERAL_NAME_ALL_TYPES & ~GENERAL_NAME_X400_ADDRESS &
                ~GENERAL_NAME_EDI_PARTY_NAME,
            names->present_name_types);
  EXPECT_EQ((std::vector<std::string_view>{"a.example.com", "*.b.example.com"}),
            names->dns_names);
  ASSERT_EQ(2u, names->ip_addresses.size());
  EXPECT_EQ(IPAddress(10, 1, 2, 3), names->ip_addresses[0]);
  EXPECT_TRUE(names->ip_addresses[1].IsIPv6());
  ASSERT_EQ(1u, names->directory_names.size());
  EXPECT_EQ(C("US") + O("Example Org") + Cn("Directory Name"),
            names->directory_names[0].AsString());

  const std::string value = Hex(kOpensslNameConstraints);
  ParsedConstraints critical(value, true);
  ParsedConstraints non_critical(value, false);
  ASSERT_TRUE(critical.constraints);
  ASSERT_TRUE(non_critical.constraints);
  const GeneralNames& permitted = critical.constraints->permitted_subtrees();
  const GeneralNames& excluded = critical.constraints->excluded_subtrees();
  EXPECT_EQ((std::vector<std::string_view>{".example.com"}),
            permitted.dns_names);
  ASSERT_EQ(2u, permitted.ip_address_ranges.size());
  EXPECT_EQ(8u, permitted.ip_address_ranges[0].second);
  EXPECT_EQ(32u, permitted.ip_address_ranges[1].second);
  ASSERT_EQ(1u, excluded.ip_address_ranges.size());
  EXPECT_EQ(16u, excluded.ip_address_ranges[0].second);
  EXPECT_EQ(GENERAL_NAME_DNS_NAME | GENERAL_NAME_IP_ADDRESS |
                GENERAL_NAME_DIRECTORY_NAME | GENERAL_NAME_RFC822_NAME |
                GENERAL_NAME_UNIFORM_RESOURCE_IDENTIFIER,
            critical.constraints->constrained_name_types());

  const std::string subject = C("US") + O("Example Org") + Cn("leaf");
  // Critical: the email address and the URI cannot be matched.
  EXPECT_EQ(kNotPermitted, CheckCert(*critical.constraints, subject, &san));
  // Non-critical: every matchable name lies in the permitted subtrees.
  EXPECT_EQ("", CheckCert(*non_critical.constraints, subject, &san));
  EXPECT_EQ(kNotPermitted,
            CheckCert(*non_critical.constraints, C("US") + O("Other"), &san));
}

TEST(NameConstraintsTest, NullErrorListIsAllowed) {
  const std::string value = Constraints({Dns("b.c")}, {});
  const std::unique_ptr<NameConstraints> nc =
      NameConstraints::Create(der::Input(value), true, nullptr);
  ASSERT_TRUE(nc);
  const std::string san_value = Sequence(Dns("x.y"));
  const std::unique_ptr<GeneralNames> san = Sans(san_value);
  nc->IsPermittedCert(der::Input(), san.get(), nullptr);
  EXPECT_FALSE(NameConstraints::Create(der::Input(), true, nullptr));
}

}  // namespace
}  // namespace net
