#include "agent/net/cert/internal/parsed_certificate.h"

#include <openssl/pool.h>

#include <sstream>
#include <string>
#include <vector>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/cert_test_builder.h"
#include "agent/net/cert/internal/general_names.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/cert/internal/test_certificates.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::CertificateTlv;
using test::CommonNameTlv;
using test::ExtensionTlv;
using test::Hex;
using test::Oid;
using test::Sequence;
using test::TbsFields;
using test::Tlv;

// Each entry as "ERROR: <text>" or "WARNING: <text>", in order.
std::vector<std::string> Entries(const CertErrors& errors) {
  std::vector<std::string> out;
  for (const CertErrorNode& node : errors.nodes()) {
    out.push_back(std::string(node.severity == SEVERITY_ERROR ? "ERROR: "
                                                              : "WARNING: ") +
                  CertErrorIdToDebugString(node.id));
  }
  return out;
}

scoped_refptr<ParsedCertificate> Create(const std::string& der,
                                        bool allow_invalid_serial,
                                        CertErrors* errors) {
  ParseCertificateOptions options;
  options.allow_invalid_serial_numbers = allow_invalid_serial;
  return ParsedCertificate::Create(
      bssl::UniquePtr<CRYPTO_BUFFER>(CRYPTO_BUFFER_new(
          reinterpret_cast<const uint8_t*>(der.data()), der.size(), nullptr)),
      options, errors);
}

TbsFields WithSerial(const std::string& serial_value) {
  TbsFields tbs;
  tbs.serial = Tlv(der::kInteger, serial_value);
  return tbs;
}

TbsFields WithExtensions(const std::string& extensions) {
  TbsFields tbs;
  tbs.extensions = extensions;
  return tbs;
}

const std::string kBasicConstraints = Hex("551D13");
const std::string kKeyUsage = Hex("551D0F");
const std::string kSubjectAltName = Hex("551D11");
const std::string kAuthorityKeyId = Hex("551D23");

struct CreateCase {
  const char* name;
  std::string der;
  bool allow_invalid_serial;
  bool ok;
  std::vector<std::string> entries;
};

std::vector<CreateCase> CreateCases() {
  std::vector<CreateCase> cases;
  TbsFields v1;
  v1.version.clear();
  cases.push_back({"v1_without_version", CertificateTlv(v1.Build()), false,
                   true, {}});

  TbsFields explicit_v1;
  explicit_v1.version = Tlv(der::ContextSpecificConstructed(0),
                            Tlv(der::kInteger, Hex("00")));
  cases.push_back({"explicit_v1", CertificateTlv(explicit_v1.Build()), false,
                   false,
                   {"ERROR: Version explicitly V1 (should be omitted)",
                    "ERROR: Failed parsing TBSCertificate"}});

  TbsFields version4;
  version4.version = Tlv(der::ContextSpecificConstructed(0),
                         Tlv(der::kInteger, Hex("03")));
  cases.push_back({"version_3_is_unknown", CertificateTlv(version4.Build()),
                   false, false,
                   {"ERROR: Failed parsing version",
                    "ERROR: Failed parsing TBSCertificate"}});

  TbsFields v2_with_extensions = WithExtensions(
      ExtensionTlv(kBasicConstraints, true, Sequence(Hex("0101FF"))));
  v2_with_extensions.version = Tlv(der::ContextSpecificConstructed(0),
                                   Tlv(der::kInteger, Hex("01")));
  cases.push_back({"v2_with_extensions",
                   CertificateTlv(v2_with_extensions.Build()), false, false,
                   {"ERROR: Unexpected extensions (must be V3 certificate)",
                    "ERROR: Failed parsing TBSCertificate"}});

  TbsFields v1_with_issuer_uid = v1;
  v1_with_issuer_uid.issuer_unique_id =
      Tlv(der::ContextSpecificPrimitive(1), Hex("00AB"));
  cases.push_back(
      {"v1_with_issuer_unique_id", CertificateTlv(v1_with_issuer_uid.Build()),
       false, false,
       {"ERROR: Unexpected issuerUniqueId (must be V2 or V3 certificate)",
        "ERROR: Failed parsing TBSCertificate"}});

  TbsFields v1_with_subject_uid = v1;
  v1_with_subject_uid.subject_unique_id =
      Tlv(der::ContextSpecificPrimitive(2), Hex("00AB"));
  cases.push_back(
      {"v1_with_subject_unique_id",
       CertificateTlv(v1_with_subject_uid.Build()), false, false,
       {"ERROR: Unexpected subjectUniqueId (must be V2 or V3 certificate)",
        "ERROR: Failed parsing TBSCertificate"}});

  TbsFields v3_with_uids;
  v3_with_uids.issuer_unique_id =
      Tlv(der::ContextSpecificPrimitive(1), Hex("00AB"));
  v3_with_uids.subject_unique_id =
      Tlv(der::ContextSpecificPrimitive(2), Hex("00CD"));
  cases.push_back({"v3_with_unique_ids", CertificateTlv(v3_with_uids.Build()),
                   false, true, {}});

  TbsFields bad_uid;
  bad_uid.issuer_unique_id = Tlv(der::ContextSpecificPrimitive(1), Hex("08FF"));
  cases.push_back({"unique_id_bad_bit_string", CertificateTlv(bad_uid.Build()),
                   false, false,
                   {"ERROR: Failed parsing issuerUniqueId",
                    "ERROR: Failed parsing TBSCertificate"}});

  const std::string serial21 = "01" + std::string(40, '0');
  const std::string serial20 = "01" + std::string(38, '0');
  cases.push_back({"serial_21_octets_refused",
                   CertificateTlv(WithSerial(Hex(serial21)).Build()), false,
                   false,
                   {"ERROR: Serial number is longer than 20 octets",
                    "ERROR: Failed parsing TBSCertificate"}});
  cases.push_back({"serial_21_octets_allowed",
                   CertificateTlv(WithSerial(Hex(serial21)).Build()), true,
                   true, {"WARNING: Serial number is longer than 20 octets"}});
  cases.push_back({"serial_20_octets",
                   CertificateTlv(WithSerial(Hex(serial20)).Build()), false,
                   true, {}});
  cases.push_back({"serial_zero", CertificateTlv(WithSerial(Hex("00")).Build()),
                   false, true, {"WARNING: Serial number is zero"}});
  cases.push_back({"serial_negative",
                   CertificateTlv(WithSerial(Hex("FF")).Build()), false, true,
                   {"WARNING: Serial number is negative"}});
  cases.push_back({"serial_not_minimal_refused",
                   CertificateTlv(WithSerial(Hex("0005")).Build()), false,
                   false,
                   {"ERROR: Serial number is not a valid INTEGER",
                    "ERROR: Failed parsing TBSCertificate"}});
  cases.push_back({"serial_not_minimal_allowed",
                   CertificateTlv(WithSerial(Hex("0005")).Build()), true, true,
                   {"WARNING: Serial number is not a valid INTEGER"}});

  TbsFields missing_serial;
  missing_serial.serial.clear();
  cases.push_back({"missing_serial", CertificateTlv(missing_serial.Build()),
                   false, false,
                   {"ERROR: Failed reading serialNumber",
                    "ERROR: Failed parsing TBSCertificate"}});

  TbsFields bad_validity;
  bad_validity.validity =
      Sequence(Tlv(der::kUtcTime, "200101000000Z") +
               Tlv(der::kUtcTime, "200101000000+0000"));
  cases.push_back({"validity_with_offset", CertificateTlv(bad_validity.Build()),
                   false, false,
                   {"ERROR: Failed parsing validity",
                    "ERROR: Failed parsing TBSCertificate"}});

  TbsFields trailing_in_tbs;
  trailing_in_tbs.trailing = Tlv(der::kNull, "");
  cases.push_back({"unconsumed_in_tbs", CertificateTlv(trailing_in_tbs.Build()),
                   false, false,
                   {"ERROR: Unconsumed data inside TBSCertificate",
                    "ERROR: Failed parsing TBSCertificate"}});

  cases.push_back({"trailing_after_certificate",
                   CertificateTlv(TbsFields().Build()) + Hex("00"), false,
                   false,
                   {"ERROR: Unconsumed data after Certificate SEQUENCE",
                    "ERROR: Failed parsing Certificate"}});

  cases.push_back({"signature_not_bit_string",
                   Sequence(TbsFields().Build() + test::Sha256WithRsaTlv() +
                            Tlv(der::kOctetString, "x")),
                   false, false,
                   {"ERROR: Couldn't read Certificate.signatureValue as BIT "
                    "STRING",
                    "ERROR: Failed parsing Certificate"}});

  cases.push_back(
      {"unknown_signature_algorithm",
       CertificateTlv(TbsFields().Build(), Sequence(Oid(Hex("2A0304")))),
       false, false,
       {"ERROR: Unknown AlgorithmIdentifier OID",
        "ERROR: Failed parsing SignatureAlgorithm"}});

  TbsFields at_sign;
  at_sign.subject = Sequence(test::Set(test::Attribute(
      TypeCommonNameOid(), der::kPrintableString, "a@b")));
  cases.push_back({"printable_string_with_at_sign",
                   CertificateTlv(at_sign.Build()), false, false,
                   {"ERROR: Failed normalizing string",
                    "ERROR: Failed normalizing subject"}});

  cases.push_back(
      {"critical_false_encoded",
       CertificateTlv(WithExtensions(Sequence(
                                         Oid(kBasicConstraints) +
                                         Tlv(der::kBool, Hex("00")) +
                                         Tlv(der::kOctetString, Sequence(""))))
                          .Build()),
       false, false, {"ERROR: Failed parsing extensions"}});
  cases.push_back(
      {"duplicate_extension",
       CertificateTlv(
           WithExtensions(ExtensionTlv(kBasicConstraints, false, Sequence("")) +
                          ExtensionTlv(kBasicConstraints, false, Sequence("")))
               .Build()),
       false, false, {"ERROR: Failed parsing extensions"}});
  {
    TbsFields empty_extensions;
    // An explicit, empty Extensions SEQUENCE.
    empty_extensions.trailing =
        Tlv(der::ContextSpecificConstructed(3), Sequence(""));
    cases.push_back({"empty_extensions",
                     CertificateTlv(empty_extensions.Build()), false, false,
                     {"ERROR: Failed parsing extensions"}});
  }
  cases.push_back({"key_usage_all_zero",
                   CertificateTlv(WithExtensions(ExtensionTlv(
                                                     kKeyUsage, true,
                                                     Tlv(der::kBitString,
                                                         Hex("00 00"))))
                                      .Build()),
                   false, false, {"ERROR: Failed parsing key usage"}});
  cases.push_back(
      {"path_len_256",
       CertificateTlv(
           WithExtensions(ExtensionTlv(kBasicConstraints, true,
                                       Sequence(Hex("0101FF") +
                                                Tlv(der::kInteger, Hex("0100")))))
               .Build()),
       false, false, {"ERROR: Failed parsing basic constraints"}});
  cases.push_back(
      {"authority_key_id_issuer_without_serial",
       CertificateTlv(
           WithExtensions(
               ExtensionTlv(kAuthorityKeyId, false,
                            Sequence(Tlv(der::ContextSpecificConstructed(1),
                                         Tlv(der::ContextSpecificConstructed(4),
                                             CommonNameTlv("x"))))))
               .Build()),
       false, false, {"ERROR: Failed parsing authority key identifier"}});

  const std::string san_dns =
      Sequence(Tlv(der::ContextSpecificPrimitive(2), "a.example"));
  TbsFields empty_subject_non_critical_san =
      WithExtensions(ExtensionTlv(kSubjectAltName, false, san_dns));
  empty_subject_non_critical_san.subject = Sequence("");
  cases.push_back({"empty_subject_non_critical_san",
                   CertificateTlv(empty_subject_non_critical_san.Build()),
                   false, false,
                   {"ERROR: Empty subject and subjectAltName is not critical"}});
  TbsFields empty_subject_critical_san =
      WithExtensions(ExtensionTlv(kSubjectAltName, true, san_dns));
  empty_subject_critical_san.subject = Sequence("");
  cases.push_back({"empty_subject_critical_san",
                   CertificateTlv(empty_subject_critical_san.Build()), false,
                   true, {}});
  return cases;
}

TEST(ParsedCertificateTest, CreateRecordsTheFailingStep) {
  for (const CreateCase& c : CreateCases()) {
    SCOPED_TRACE(c.name);
    CertErrors errors;
    scoped_refptr<ParsedCertificate> cert =
        Create(c.der, c.allow_invalid_serial, &errors);
    EXPECT_EQ(c.ok, cert != nullptr) << errors.ToDebugString();
    EXPECT_EQ(c.entries, Entries(errors));
  }
}

TEST(ParsedCertificateTest, SerialLengthErrorCarriesTheLength) {
  CertErrors errors;
  EXPECT_FALSE(Create(CertificateTlv(WithSerial(Hex("01" + std::string(40, '0')))
                                         .Build()),
                      false, &errors));
  EXPECT_EQ(
      "ERROR: Serial number is longer than 20 octets\n"
      "  length: 21\n"
      "ERROR: Failed parsing TBSCertificate\n",
      errors.ToDebugString());
}

TEST(ParsedCertificateTest, NullErrorListBehavesLikeAPrivateOne) {
  EXPECT_FALSE(Create(CertificateTlv(TbsFields().Build()) + Hex("00"), false,
                      nullptr));
  EXPECT_TRUE(Create(CertificateTlv(TbsFields().Build()), false, nullptr));
}

TEST(ParsedCertificateTest, StaticBytesAreViewedInPlace) {
  const std::string der = CertificateTlv(TbsFields().Build());
  scoped_refptr<ParsedCertificate> cert = ParsedCertificate::CreateFromStaticBytes(
      reinterpret_cast<const uint8_t*>(der.data()), der.size(),
      ParseCertificateOptions(), nullptr);
  ASSERT_TRUE(cert);
  EXPECT_EQ(nullptr, cert->cert_buffer());
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(der.data()),
            cert->der_cert().data());
  EXPECT_EQ(der.size(), cert->der_cert().length());
}

TEST(ParsedCertificateTest, FieldsOfTheIntermediateFixture) {
  scoped_refptr<ParsedCertificate> cert = test::ParseTestCert("intermediate");
  EXPECT_EQ(2, cert->tbs().version);
  EXPECT_EQ(Hex("0A"), cert->tbs().serial_number.AsString());
  EXPECT_EQ(SignatureAlgorithmId::RSA_PKCS1,
            cert->signature_algorithm().algorithm());
  EXPECT_EQ(DigestAlgorithm::SHA256, cert->signature_algorithm().digest());
  ASSERT_TRUE(cert->has_basic_constraints());
  EXPECT_TRUE(cert->basic_constraints().is_ca);
  EXPECT_FALSE(cert->basic_constraints().has_path_len);
  ASSERT_TRUE(cert->has_key_usage());
  EXPECT_TRUE(cert->key_usage().IsBitSet(KEY_USAGE_BIT_KEY_CERT_SIGN));
  EXPECT_TRUE(cert->key_usage().IsBitSet(KEY_USAGE_BIT_CRL_SIGN));
  EXPECT_FALSE(cert->key_usage().IsBitSet(KEY_USAGE_BIT_DIGITAL_SIGNATURE));
  ASSERT_TRUE(cert->has_authority_info_access());
  EXPECT_EQ(std::vector<std::string_view>{"http://ca.test.example/root.der"},
            cert->ca_issuers_uris());
  EXPECT_EQ(std::vector<std::string_view>{"http://ocsp.test.example/"},
            cert->ocsp_uris());
  ASSERT_TRUE(cert->subject_key_identifier().has_value());
  EXPECT_EQ(20u, cert->subject_key_identifier()->length());
  ASSERT_TRUE(cert->authority_key_identifier().has_value());
  ASSERT_TRUE(cert->authority_key_identifier()->key_identifier.has_value());
  EXPECT_FALSE(cert->authority_key_identifier()->authority_cert_issuer);

  // The root's subject key identifier is the intermediate's authority key
  // identifier: the path builder orders issuers by this.
  scoped_refptr<ParsedCertificate> root = test::ParseTestCert("root");
  EXPECT_EQ(*root->subject_key_identifier(),
            *cert->authority_key_identifier()->key_identifier);
  EXPECT_EQ(root->normalized_subject(), cert->normalized_issuer());
  EXPECT_FALSE(root->authority_key_identifier().has_value());

  ParsedExtension extension;
  EXPECT_TRUE(cert->GetExtension(BasicConstraintsOid(), &extension));
  EXPECT_TRUE(extension.critical);
  EXPECT_EQ(BasicConstraintsOid(), extension.oid);
  EXPECT_FALSE(cert->GetExtension(NameConstraintsOid(), &extension));
  EXPECT_TRUE(extension.oid.empty());
  EXPECT_TRUE(extension.value.empty());
  EXPECT_FALSE(extension.critical);
}

TEST(ParsedCertificateTest, ExtensionFieldsOfTheFixtures) {
  scoped_refptr<ParsedCertificate> leaf = test::ParseTestCert("leaf");
  ASSERT_TRUE(leaf->has_extended_key_usage());
  EXPECT_EQ(2u, leaf->extended_key_usage().size());
  ASSERT_TRUE(leaf->subject_alt_names());
  EXPECT_EQ(std::vector<std::string_view>{"leaf.test.example"},
            leaf->subject_alt_names()->dns_names);
  EXPECT_FALSE(leaf->subject_alt_names_extension().critical);

  scoped_refptr<ParsedCertificate> nc = test::ParseTestCert("intermediate_nc");
  EXPECT_TRUE(nc->has_name_constraints());

  scoped_refptr<ParsedCertificate> policy =
      test::ParseTestCert("intermediate_policy");
  ASSERT_TRUE(policy->has_policy_oids());
  EXPECT_EQ(1u, policy->policy_oids().size());
  ASSERT_TRUE(policy->has_policy_mappings());
  ASSERT_EQ(1u, policy->policy_mappings().size());
  EXPECT_EQ(policy->policy_oids()[0],
            policy->policy_mappings()[0].issuer_domain_policy);
  ASSERT_TRUE(policy->has_policy_constraints());
  EXPECT_TRUE(policy->policy_constraints().has_require_explicit_policy);
  EXPECT_EQ(0, policy->policy_constraints().require_explicit_policy);

  scoped_refptr<ParsedCertificate> inhibit =
      test::ParseTestCert("intermediate_inhibit_any");
  ASSERT_TRUE(inhibit->has_inhibit_any_policy());
  EXPECT_EQ(0, inhibit->inhibit_any_policy());

  // Unknown qualifiers pass the lenient parse of creation.
  EXPECT_TRUE(test::ParseTestCert("leaf_policy_unknown_qualifier")
                  ->has_policy_oids());

  scoped_refptr<ParsedCertificate> v1 = test::ParseTestCert("v1_self_signed");
  EXPECT_EQ(0, v1->tbs().version);
  EXPECT_FALSE(v1->tbs().has_extensions);
  EXPECT_TRUE(v1->extensions().empty());
}

// Month numbers of the names openssl prints.
int MonthNumber(const std::string& name) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i) {
    if (name == kMonths[i])
      return i + 1;
  }
  return 0;
}

// "Jan  1 00:00:00 2020 GMT" as a GeneralizedTime.
der::GeneralizedTime OpensslTime(const std::string& text) {
  std::istringstream in(text);
  std::string month;
  int day = 0, year = 0, h = 0, m = 0, s = 0;
  char colon;
  in >> month >> day >> h >> colon >> m >> colon >> s >> year;
  der::GeneralizedTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint8_t>(MonthNumber(month));
  t.day = static_cast<uint8_t>(day);
  t.hours = static_cast<uint8_t>(h);
  t.minutes = static_cast<uint8_t>(m);
  t.seconds = static_cast<uint8_t>(s);
  return t;
}

std::string UpperHex(const der::Input& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.length(); ++i) {
    out.push_back(kDigits[bytes.data()[i] >> 4]);
    out.push_back(kDigits[bytes.data()[i] & 15]);
  }
  return out;
}

bool SameTime(const der::GeneralizedTime& a, const der::GeneralizedTime& b) {
  return !(a < b) && !(b < a);
}

// Serial numbers and dates agree with what openssl printed for each fixture
// (fixtures.txt, written by the script that made them).
TEST(ParsedCertificateTest, FixturesAgreeWithOpenssl) {
  std::istringstream lines(test::ReadTestFile("fixtures.txt"));
  std::string line;
  std::string name;
  scoped_refptr<ParsedCertificate> cert;
  int checked = 0;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    ASSERT_NE(std::string::npos, eq) << line;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "name") {
      name = value;
      cert = test::ParseTestCert(name);
      ++checked;
      continue;
    }
    SCOPED_TRACE(name);
    ASSERT_TRUE(cert);
    if (key == "serial") {
      EXPECT_EQ(value, UpperHex(cert->tbs().serial_number));
    } else if (key == "notBefore") {
      EXPECT_TRUE(
          SameTime(OpensslTime(value), cert->tbs().validity_not_before));
    } else if (key == "notAfter") {
      EXPECT_TRUE(SameTime(OpensslTime(value), cert->tbs().validity_not_after));
    }
  }
  EXPECT_GT(checked, 30);
}

}  // namespace
}  // namespace net
