#include "agent/net/cert/internal/certificate_policies.h"

#include <string>
#include <vector>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/der_test_builder.h"
#include "agent/net/der/tag.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Hex;
using test::Oid;
using test::Sequence;
using test::Tlv;

// Policy OIDs 1.2.3 and 1.2.4, and a qualifier id that is neither CPS nor
// user notice (1.3.6.1.5.5.7.2.3).
const std::string kPolicyA = Hex("2a03");
const std::string kPolicyB = Hex("2a04");
const std::string kOtherQualifierId = Hex("2b06010505070203");

std::string Policy(const std::string& oid_bytes, std::string qualifiers = "") {
  return Sequence(Oid(oid_bytes) + qualifiers);
}
std::string Qualifier(const der::Input& id, const std::string& qualifier) {
  return Sequence(Oid(id) + qualifier);
}
std::string Qualifier(const std::string& id, const std::string& qualifier) {
  return Sequence(Oid(id) + qualifier);
}

TEST(ParseCertificatePoliciesTest, Cases) {
  const std::string cps =
      Qualifier(CpsPointerQualifierOid(),
                Tlv(der::kIA5String, "https://example.com/cps"));
  const std::string notice = Qualifier(
      UserNoticeQualifierOid(), Sequence(Tlv(der::kUtf8String, "notice")));
  const std::string other = Qualifier(kOtherQualifierId, Tlv(der::kNull, ""));
  const std::string any_policy = AnyPolicy().AsString();
  const std::string unknown_qualifier_errors =
      "ERROR: Unknown policy qualifier OID (not CPS or User Notice)\n"
      "  oid: 2B06010505070203\n"
      "ERROR: Failed parsing policy qualifiers\n";

  struct Case {
    const char* what;
    std::string value;
    bool strict;
    bool ok;
    std::vector<std::string> policies;
    std::string errors;
  } cases[] = {
      {"sorted",
       Sequence(Policy(kPolicyB) + Policy(kPolicyA)),
       false,
       true,
       {kPolicyA, kPolicyB},
       ""},
      {"a shorter OID sorts first",
       Sequence(Policy(kPolicyA + "\x01") + Policy(kPolicyA)),
       false,
       true,
       {kPolicyA, kPolicyA + "\x01"},
       ""},
      {"duplicate",
       Sequence(Policy(kPolicyA) + Policy(kPolicyB) + Policy(kPolicyA)),
       false,
       false,
       {},
       "ERROR: Policies contains duplicate OIDs\n  oid: 2A03\n"},
      {"empty",
       Sequence(""),
       false,
       false,
       {},
       "ERROR: Policies is an empty SEQUENCE\n"},
      {"known qualifiers, strict",
       Sequence(Policy(kPolicyA, Sequence(cps + notice))),
       true,
       true,
       {kPolicyA},
       ""},
      {"unknown qualifier, lenient",
       Sequence(Policy(kPolicyA, Sequence(other))),
       false,
       true,
       {kPolicyA},
       ""},
      {"unknown qualifier, strict",
       Sequence(Policy(kPolicyA, Sequence(cps + other))),
       true,
       false,
       {},
       unknown_qualifier_errors},
      {"unknown qualifier on anyPolicy, lenient",
       Sequence(Policy(any_policy, Sequence(other))),
       false,
       false,
       {},
       unknown_qualifier_errors},
      {"empty qualifiers, lenient",
       Sequence(Policy(kPolicyA, Sequence(""))),
       false,
       false,
       {},
       "ERROR: The policy qualifiers SEQUENCE is empty\n"
       "ERROR: Failed parsing policy qualifiers\n"},
      {"empty qualifiers, strict",
       Sequence(Policy(kPolicyA, Sequence(""))),
       true,
       false,
       {},
       "ERROR: The policy qualifiers SEQUENCE is empty\n"
       "ERROR: Failed parsing policy qualifiers\n"},
      {"qualifier without its value",
       Sequence(
           Policy(kPolicyA, Sequence(Sequence(Oid(CpsPointerQualifierOid()))))),
       false,
       false,
       {},
       "ERROR: PolicyQualifierInfo is missing qualifier\n"
       "ERROR: Failed parsing policy qualifiers\n"},
      {"qualifier with trailing data",
       Sequence(
           Policy(kPolicyA, Sequence(Sequence(Oid(CpsPointerQualifierOid()) +
                                              Tlv(der::kIA5String, "a") +
                                              Tlv(der::kIA5String, "b"))))),
       false,
       false,
       {},
       "ERROR: PolicyQualifierInfo has trailing data\n"
       "ERROR: Failed parsing policy qualifiers\n"},
      {"qualifier not starting with an OID",
       Sequence(
           Policy(kPolicyA, Sequence(Sequence(Tlv(der::kIA5String, "a") +
                                              Tlv(der::kIA5String, "b"))))),
       false,
       false,
       {},
       "ERROR: Failed parsing policy qualifiers\n"},
      {"policy information with trailing data",
       Sequence(Policy(kPolicyA, Sequence(cps) + Tlv(der::kNull, ""))),
       false,
       false,
       {},
       "ERROR: PolicyInformation has trailing data\n"},
      {"qualifiers not a SEQUENCE",
       Sequence(Policy(kPolicyA, Tlv(der::kNull, ""))),
       false,
       false,
       {},
       ""},
      {"policy information not starting with an OID",
       Sequence(Sequence(Tlv(der::kInteger, "\x01"))),
       false,
       false,
       {},
       ""},
      {"policy information not a SEQUENCE",
       Sequence(Oid(kPolicyA)),
       false,
       false,
       {},
       ""},
      {"trailing data after the extension",
       Sequence(Policy(kPolicyA)) + Tlv(der::kNull, ""),
       false,
       false,
       {},
       ""},
      {"not a SEQUENCE",
       Tlv(der::kSet, Policy(kPolicyA)),
       false,
       false,
       {},
       ""},
  };
  for (const Case& c : cases) {
    std::vector<der::Input> policies;
    CertErrors errors;
    ASSERT_EQ(c.ok, ParseCertificatePolicies(der::Input(c.value), c.strict,
                                             &policies, &errors))
        << c.what;
    EXPECT_EQ(c.errors, errors.ToDebugString()) << c.what;
    if (!c.ok) continue;
    std::vector<std::string> texts;
    for (const der::Input& policy : policies)
      texts.push_back(policy.AsString());
    EXPECT_EQ(c.policies, texts) << c.what;
  }
}

TEST(ParseCertificatePoliciesTest, ReplacesEarlierContents) {
  const std::string value = Sequence(Policy(kPolicyB));
  std::vector<der::Input> policies = {der::Input(kPolicyA)};
  ASSERT_TRUE(
      ParseCertificatePolicies(der::Input(value), false, &policies, nullptr));
  ASSERT_EQ(1u, policies.size());
  EXPECT_EQ(der::Input(kPolicyB), policies[0]);
}

TEST(ParsePolicyConstraintsTest, Cases) {
  const auto require = [](const std::string& integer) {
    return Tlv(der::ContextSpecificPrimitive(0), integer);
  };
  const auto inhibit = [](const std::string& integer) {
    return Tlv(der::ContextSpecificPrimitive(1), integer);
  };
  struct Case {
    const char* what;
    std::string value;
    bool ok;
    ParsedPolicyConstraints expected;
  } cases[] = {
      {"both",
       Sequence(require("\x03") + inhibit("\x05")),
       true,
       {true, 3, true, 5}},
      {"only inhibitPolicyMapping 0",
       Sequence(inhibit(Hex("00"))),
       true,
       {false, 0, true, 0}},
      {"only requireExplicitPolicy 255",
       Sequence(require(Hex("00ff"))),
       true,
       {true, 255, false, 0}},
      {"empty", Sequence(""), false, {}},
      {"256", Sequence(require(Hex("0100"))), false, {}},
      {"negative", Sequence(require(Hex("ff"))), false, {}},
      {"not minimally encoded", Sequence(require(Hex("0005"))), false, {}},
      {"wrong order", Sequence(inhibit("\x01") + require("\x01")), false, {}},
      {"constructed tag",
       Sequence(
           Tlv(der::ContextSpecificConstructed(0), Tlv(der::kInteger, "\x01"))),
       false,
       {}},
      {"a third element",
       Sequence(require("\x01") + inhibit("\x01") + Tlv(der::kNull, "")),
       false,
       {}},
      {"trailing data",
       Sequence(require("\x01")) + Tlv(der::kNull, ""),
       false,
       {}},
  };
  for (const Case& c : cases) {
    ParsedPolicyConstraints out;
    ASSERT_EQ(c.ok, ParsePolicyConstraints(der::Input(c.value), &out))
        << c.what;
    if (!c.ok) continue;
    EXPECT_EQ(c.expected.has_require_explicit_policy,
              out.has_require_explicit_policy)
        << c.what;
    EXPECT_EQ(c.expected.require_explicit_policy, out.require_explicit_policy)
        << c.what;
    EXPECT_EQ(c.expected.has_inhibit_policy_mapping,
              out.has_inhibit_policy_mapping)
        << c.what;
    EXPECT_EQ(c.expected.inhibit_policy_mapping, out.inhibit_policy_mapping)
        << c.what;
  }
}

TEST(ParsePolicyMappingsTest, Cases) {
  const std::string any_policy = AnyPolicy().AsString();
  const auto mapping = [](const std::string& issuer,
                          const std::string& subject) {
    return Sequence(Oid(issuer) + Oid(subject));
  };
  struct Case {
    const char* what;
    std::string value;
    bool ok;
    std::vector<std::pair<std::string, std::string>> expected;
  } cases[] = {
      {"two in order",
       Sequence(mapping(kPolicyB, kPolicyA) + mapping(kPolicyA, kPolicyB)),
       true,
       {{kPolicyB, kPolicyA}, {kPolicyA, kPolicyB}}},
      {"anyPolicy is left to verification",
       Sequence(mapping(any_policy, kPolicyA)),
       true,
       {{any_policy, kPolicyA}}},
      {"empty", Sequence(""), false, {}},
      {"one OID", Sequence(Sequence(Oid(kPolicyA))), false, {}},
      {"three OIDs",
       Sequence(Sequence(Oid(kPolicyA) + Oid(kPolicyB) + Oid(kPolicyA))),
       false,
       {}},
      {"not an OID",
       Sequence(Sequence(Oid(kPolicyA) + Tlv(der::kInteger, "\x01"))),
       false,
       {}},
      {"trailing data",
       Sequence(mapping(kPolicyA, kPolicyB)) + Tlv(der::kNull, ""),
       false,
       {}},
  };
  for (const Case& c : cases) {
    // Earlier contents are dropped whatever the outcome.
    std::vector<ParsedPolicyMapping> mappings(3);
    ASSERT_EQ(c.ok, ParsePolicyMappings(der::Input(c.value), &mappings))
        << c.what;
    if (!c.ok) {
      EXPECT_TRUE(mappings.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(c.expected.size(), mappings.size()) << c.what;
    for (size_t i = 0; i < mappings.size(); ++i) {
      EXPECT_EQ(c.expected[i].first,
                mappings[i].issuer_domain_policy.AsString())
          << c.what;
      EXPECT_EQ(c.expected[i].second,
                mappings[i].subject_domain_policy.AsString())
          << c.what;
    }
  }
}

TEST(ParseInhibitAnyPolicyTest, Cases) {
  struct Case {
    std::string value;
    bool ok;
    uint8_t skip_certs;
  } cases[] = {
      {Tlv(der::kInteger, Hex("00")), true, 0},
      {Tlv(der::kInteger, Hex("00ff")), true, 255},
      {Tlv(der::kInteger, Hex("0100")), false, 0},
      {Tlv(der::kInteger, Hex("ff")), false, 0},
      {Tlv(der::kInteger, ""), false, 0},
      {Tlv(der::kInteger, Hex("01")) + Tlv(der::kNull, ""), false, 0},
      {Tlv(der::kOctetString, Hex("01")), false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    uint8_t skip_certs = 99;
    ASSERT_EQ(c.ok, ParseInhibitAnyPolicy(der::Input(c.value), &skip_certs))
        << testing::PrintToString(c.value);
    if (c.ok) {
      EXPECT_EQ(c.skip_certs, skip_certs);
    }
  }
}

TEST(CertificatePoliciesTest, OidsSpellTheirDottedForms) {
  EXPECT_EQ("2.5.29.32.0", test::OidToText(AnyPolicy()));
  EXPECT_EQ("2.5.29.54", test::OidToText(InhibitAnyPolicyOid()));
  EXPECT_EQ("2.5.29.33", test::OidToText(PolicyMappingsOid()));
  EXPECT_EQ("1.3.6.1.5.5.7.2.1", test::OidToText(CpsPointerQualifierOid()));
  EXPECT_EQ("1.3.6.1.5.5.7.2.2", test::OidToText(UserNoticeQualifierOid()));
}

}  // namespace
}  // namespace net
