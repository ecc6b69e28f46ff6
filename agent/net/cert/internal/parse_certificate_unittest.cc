#include "agent/net/cert/internal/parse_certificate.h"

#include <map>
#include <string>
#include <vector>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/cert_test_builder.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Hex;
using test::Oid;
using test::Sequence;
using test::Tlv;

der::Input In(const std::string& s) { return der::Input(s); }

TEST(ParseCertificateTest, BasicConstraints) {
  struct Case {
    const char* name;
    std::string value;
    bool ok;
    bool is_ca = false;
    bool has_path_len = false;
    uint8_t path_len = 0;
  } cases[] = {
      {"empty_sequence", Sequence(""), true, false, false, 0},
      {"ca", Sequence(Hex("0101FF")), true, true, false, 0},
      // An encoded false breaks DER but is accepted.
      {"ca_false_encoded", Sequence(Hex("010100")), true, false, false, 0},
      {"ca_path_len_255", Sequence(Hex("0101FF 020200FF")), true, true, true,
       255},
      {"path_len_without_ca", Sequence(Hex("020103")), true, false, true, 3},
      {"path_len_256", Sequence(Hex("0101FF 02020100")), false},
      {"path_len_negative", Sequence(Hex("0101FF 0201FF")), false},
      {"bad_boolean", Sequence(Hex("010101")), false},
      {"extra_element", Sequence(Hex("0101FF 020101 0500")), false},
      {"trailing_bytes", Sequence("") + Hex("00"), false},
      {"not_a_sequence", Hex("0500"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedBasicConstraints out;
    ASSERT_EQ(c.ok, ParseBasicConstraints(In(c.value), &out));
    if (!c.ok)
      continue;
    EXPECT_EQ(c.is_ca, out.is_ca);
    EXPECT_EQ(c.has_path_len, out.has_path_len);
    EXPECT_EQ(c.path_len, out.path_len);
  }
}

TEST(ParseCertificateTest, KeyUsage) {
  struct Case {
    const char* name;
    std::string value;
    bool ok;
  } cases[] = {
      {"digital_signature", Tlv(der::kBitString, Hex("07 80")), true},
      {"decipher_only_second_byte", Tlv(der::kBitString, Hex("07 00 80")),
       true},
      {"all_zero", Tlv(der::kBitString, Hex("00 00")), false},
      {"no_bytes", Tlv(der::kBitString, Hex("00")), false},
      {"unused_bits_not_zero", Tlv(der::kBitString, Hex("07 81")), false},
      {"trailing", Tlv(der::kBitString, Hex("07 80")) + Hex("00"), false},
      {"octet_string", Tlv(der::kOctetString, Hex("80")), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    der::BitString out;
    EXPECT_EQ(c.ok, ParseKeyUsage(In(c.value), &out));
  }
  // The result views the bytes parsed, which must outlive it.
  const std::string cert_sign_and_crl_sign = Tlv(der::kBitString, Hex("01 06"));
  der::BitString out;
  ASSERT_TRUE(ParseKeyUsage(In(cert_sign_and_crl_sign), &out));
  EXPECT_TRUE(out.IsBitSet(KEY_USAGE_BIT_KEY_CERT_SIGN));
  EXPECT_TRUE(out.IsBitSet(KEY_USAGE_BIT_CRL_SIGN));
  EXPECT_FALSE(out.IsBitSet(KEY_USAGE_BIT_DIGITAL_SIGNATURE));
}

std::string AccessDescription(const der::Input& method,
                              const std::string& location) {
  return Sequence(Oid(method) + location);
}

std::string Uri(const std::string& uri) {
  return Tlv(der::ContextSpecificPrimitive(6), uri);
}

TEST(ParseCertificateTest, AuthorityInfoAccess) {
  std::vector<std::string_view> ca_issuers;
  std::vector<std::string_view> ocsp;
  const std::string both = Sequence(
      AccessDescription(AdOcspOid(), Uri("http://ocsp.example/")) +
      AccessDescription(AdCaIssuersOid(),
                        Tlv(der::ContextSpecificConstructed(4),
                            test::CommonNameTlv("directory"))) +
      AccessDescription(AdCaIssuersOid(), Uri("http://ca.example/ca.der")) +
      AccessDescription(der::Input(Hex("2A03")), Uri("http://other/")));
  ca_issuers.push_back("stale");
  ASSERT_TRUE(ParseAuthorityInfoAccess(In(both), &ca_issuers, &ocsp));
  EXPECT_EQ(std::vector<std::string_view>{"http://ca.example/ca.der"},
            ca_issuers);
  EXPECT_EQ(std::vector<std::string_view>{"http://ocsp.example/"}, ocsp);

  struct Case {
    const char* name;
    std::string value;
    bool ok;
  } cases[] = {
      {"empty", Sequence(""), false},
      {"non_ascii_uri",
       Sequence(AccessDescription(AdOcspOid(), Uri("http://\xC3\xA9/"))),
       false},
      // A non-ASCII location of another form is skipped unread.
      {"non_ascii_dns_skipped",
       Sequence(AccessDescription(
           AdOcspOid(), Tlv(der::ContextSpecificPrimitive(2), "\xC3\xA9"))),
       true},
      {"missing_location", Sequence(Sequence(Oid(AdOcspOid()))), false},
      {"method_not_oid",
       Sequence(Sequence(Tlv(der::kInteger, Hex("01")) + Uri("x"))), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.ok, ParseAuthorityInfoAccess(In(c.value), &ca_issuers, &ocsp));
  }
}

TEST(ParseCertificateTest, KeyIdentifiers) {
  der::Input key_id;
  EXPECT_TRUE(ParseKeyIdentifier(In(Tlv(der::kOctetString, "")), &key_id));
  EXPECT_TRUE(key_id.empty());
  const std::string ab = Tlv(der::kOctetString, "ab");
  EXPECT_TRUE(ParseKeyIdentifier(In(ab), &key_id));
  EXPECT_EQ("ab", key_id.AsString());
  EXPECT_FALSE(
      ParseKeyIdentifier(In(Tlv(der::kOctetString, "ab") + Hex("00")), &key_id));
  EXPECT_FALSE(ParseKeyIdentifier(In(Tlv(der::kBitString, Hex("00"))), &key_id));

  const std::string key = Tlv(der::ContextSpecificPrimitive(0), "kk");
  const std::string issuer = Tlv(der::ContextSpecificConstructed(1),
                                 Tlv(der::ContextSpecificConstructed(4),
                                     test::CommonNameTlv("ca")));
  const std::string serial = Tlv(der::ContextSpecificPrimitive(2), Hex("05"));
  struct Case {
    const char* name;
    std::string value;
    bool ok;
    bool has_key = false;
    bool has_issuer_and_serial = false;
  } cases[] = {
      {"empty", Sequence(""), true, false, false},
      {"key_only", Sequence(key), true, true, false},
      {"all_three", Sequence(key + issuer + serial), true, true, true},
      {"issuer_and_serial", Sequence(issuer + serial), true, false, true},
      {"issuer_without_serial", Sequence(key + issuer), false},
      {"serial_without_issuer", Sequence(serial), false},
      {"out_of_order", Sequence(serial + issuer), false},
      {"trailing", Sequence(key) + Hex("00"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedAuthorityKeyIdentifier out;
    ASSERT_EQ(c.ok, ParseAuthorityKeyIdentifier(In(c.value), &out));
    if (!c.ok)
      continue;
    EXPECT_EQ(c.has_key, out.key_identifier.has_value());
    EXPECT_EQ(c.has_issuer_and_serial, out.authority_cert_issuer.has_value());
    EXPECT_EQ(c.has_issuer_and_serial,
              out.authority_cert_serial_number.has_value());
  }
}

TEST(ParseCertificateTest, Extension) {
  struct Case {
    const char* name;
    std::string value;
    bool ok;
    bool critical = false;
  } cases[] = {
      {"not_critical",
       Sequence(Oid(Hex("551D13")) + Tlv(der::kOctetString, "v")), true,
       false},
      {"critical",
       Sequence(Oid(Hex("551D13")) + Hex("0101FF") +
                Tlv(der::kOctetString, "v")),
       true, true},
      {"critical_false_encoded",
       Sequence(Oid(Hex("551D13")) + Hex("010100") +
                Tlv(der::kOctetString, "v")),
       false},
      {"value_not_octet_string",
       Sequence(Oid(Hex("551D13")) + Tlv(der::kBitString, Hex("00"))), false},
      {"extra_element",
       Sequence(Oid(Hex("551D13")) + Tlv(der::kOctetString, "v") + Hex("0500")),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedExtension out;
    ASSERT_EQ(c.ok, ParseExtension(In(c.value), &out));
    if (!c.ok)
      continue;
    EXPECT_EQ(Hex("551D13"), out.oid.AsString());
    EXPECT_EQ("v", out.value.AsString());
    EXPECT_EQ(c.critical, out.critical);
  }

  std::map<der::Input, ParsedExtension> map;
  const std::string two =
      Sequence(test::ExtensionTlv(Hex("551D13"), true, "a") +
               test::ExtensionTlv(Hex("551D0F"), false, "b"));
  ASSERT_TRUE(ParseExtensions(In(two), &map));
  ASSERT_EQ(2u, map.size());
  // Ordered by OID bytes, not by position.
  EXPECT_EQ(Hex("551D0F"), map.begin()->first.AsString());
  EXPECT_FALSE(ParseExtensions(In(Sequence("")), &map));
  EXPECT_FALSE(ParseExtensions(In(two + Hex("00")), &map));
}

TEST(ParseCertificateTest, Validity) {
  struct Case {
    const char* name;
    std::string value;
    bool ok;
  } cases[] = {
      {"utc_and_generalized",
       Sequence(Tlv(der::kUtcTime, "491231235959Z") +
                Tlv(der::kGeneralizedTime, "20500101000000Z")),
       true},
      // Order is not checked here.
      {"after_before_before",
       Sequence(Tlv(der::kGeneralizedTime, "20500101000000Z") +
                Tlv(der::kUtcTime, "200101000000Z")),
       true},
      {"leap_second",
       Sequence(Tlv(der::kUtcTime, "200101000000Z") +
                Tlv(der::kGeneralizedTime, "20401231235960Z")),
       true},
      {"one_time", Sequence(Tlv(der::kUtcTime, "200101000000Z")), false},
      {"three_times",
       Sequence(Tlv(der::kUtcTime, "200101000000Z") +
                Tlv(der::kUtcTime, "200101000000Z") +
                Tlv(der::kUtcTime, "200101000000Z")),
       false},
      {"wrong_tag",
       Sequence(Tlv(der::kUtcTime, "200101000000Z") +
                Tlv(der::kOctetString, "20400101000000Z")),
       false},
      {"trailing",
       Sequence(Tlv(der::kUtcTime, "200101000000Z") +
                Tlv(der::kUtcTime, "300101000000Z")) +
           Hex("00"),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    der::GeneralizedTime before;
    der::GeneralizedTime after;
    EXPECT_EQ(c.ok, ParseValidity(In(c.value), &before, &after));
  }
  der::GeneralizedTime before;
  der::GeneralizedTime after;
  ASSERT_TRUE(ParseValidity(In(cases[0].value), &before, &after));
  EXPECT_EQ(2049, before.year);
  EXPECT_EQ(2050, after.year);
}

TEST(ParseCertificateTest, TbsBytesAfterTheSequenceFailWithoutAnEntry) {
  const std::string tbs = test::TbsFields().Build();
  ParsedTbsCertificate out;
  CertErrors errors;
  EXPECT_TRUE(ParseTbsCertificate(In(tbs), ParseCertificateOptions(), &out,
                                  &errors));
  EXPECT_FALSE(ParseTbsCertificate(In(tbs + Hex("00")),
                                   ParseCertificateOptions(), &out, &errors));
  EXPECT_TRUE(errors.empty());
}

TEST(ParseCertificateTest, ReadSequenceContents) {
  der::Input contents;
  const std::string sequence = Sequence("ab");
  EXPECT_TRUE(ReadSequenceContents(In(sequence), &contents));
  EXPECT_EQ("ab", contents.AsString());
  EXPECT_FALSE(ReadSequenceContents(In(Sequence("ab") + Hex("00")), &contents));
  EXPECT_FALSE(ReadSequenceContents(In(test::Set("ab")), &contents));
}

}  // namespace
}  // namespace net
