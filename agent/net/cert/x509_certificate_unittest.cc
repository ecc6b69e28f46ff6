#include "agent/net/cert/x509_certificate.h"

#include <sstream>
#include <string>
#include <vector>

#include "agent/base/base64.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/cert_test_builder.h"
#include "agent/net/cert/internal/parsed_certificate.h"
#include "agent/net/cert/internal/test_certificates.h"
#include "agent/net/cert/x509_util.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Hex;

using CertList = std::vector<scoped_refptr<X509Certificate>>;

CertList FromBytes(const std::string& bytes, int format) {
  return X509Certificate::CreateListFromBytes(bytes.data(), bytes.size(),
                                              format);
}

std::vector<std::string> DisplayNames(const CertList& certs) {
  std::vector<std::string> names;
  for (const auto& cert : certs)
    names.push_back(cert->Subject().DisplayName());
  return names;
}

scoped_refptr<X509Certificate> FromDer(const std::string& der) {
  return X509Certificate::CreateFromCertBuffer(CreateCertBuffer(der.data(),
                                                                der.size()),
                                               {});
}

std::string Pem(const std::string& type, const std::string& body_base64) {
  return "-----BEGIN " + type + "-----\n" + body_base64 + "\n-----END " +
         type + "-----\n";
}

const std::vector<std::string> kChainNames = {
    "leaf.test.example", "Tarvik Test Intermediate", "Tarvik Test Root"};

TEST(X509CertificateTest, ListFromPemSequence) {
  const std::string chain = "preamble\n" + test::ReadTestFile("chain.pem") +
                            "\ntrailing text\n";
  CertList certs =
      FromBytes(chain, X509Certificate::CERT_FORMAT_PEM_SEQUENCE);
  EXPECT_EQ(kChainNames, DisplayNames(certs));
  for (const auto& cert : certs)
    EXPECT_TRUE(cert->IntermediateBuffers().empty());
  EXPECT_EQ(test::ReadTestCertDer("leaf"),
            CryptoBufferBytes(certs[0]->CertBuffer()).AsString());
}

TEST(X509CertificateTest, ListFormats) {
  const std::string leaf_der = test::ReadTestCertDer("leaf");
  const std::string p7b = test::ReadTestFile("chain.p7b");
  const std::string chain_pem = test::ReadTestFile("chain.pem");
  // The first certificate block of chain.pem.
  const std::string first_pem =
      chain_pem.substr(0, chain_pem.find("-----END CERTIFICATE-----") + 26);
  const std::string not_a_certificate = Pem("CERTIFICATE", "QUJD");

  struct Case {
    const char* name;
    std::string bytes;
    int format;
    std::vector<std::string> names;
  } cases[] = {
      {"der", leaf_der, X509Certificate::CERT_FORMAT_DER, {kChainNames[0]}},
      {"der_as_pem_only", leaf_der,
       X509Certificate::CERT_FORMAT_PEM_SEQUENCE, {}},
      {"der_auto", leaf_der, X509Certificate::CERT_FORMAT_AUTO,
       {kChainNames[0]}},
      {"pkcs7", p7b, X509Certificate::CERT_FORMAT_PKCS7, kChainNames},
      {"pkcs7_as_der", p7b, X509Certificate::CERT_FORMAT_DER, {}},
      {"pkcs7_in_pem",
       Pem("PKCS7", kelmbase::Base64EncodeToString(p7b)),
       X509Certificate::CERT_FORMAT_PEM_SEQUENCE |
           X509Certificate::CERT_FORMAT_PKCS7,
       kChainNames},
      // PKCS7 blocks are only looked for when that format is asked for.
      {"pkcs7_in_pem_not_asked",
       Pem("PKCS7", kelmbase::Base64EncodeToString(p7b)),
       X509Certificate::CERT_FORMAT_PEM_SEQUENCE, {}},
      {"der_in_pem_block_as_der",
       Pem("CERTIFICATE", kelmbase::Base64EncodeToString(leaf_der)),
       X509Certificate::CERT_FORMAT_DER, {kChainNames[0]}},
      // After one certificate, a block that is not one ends the list...
      {"second_block_not_a_certificate",
       first_pem + not_a_certificate + chain_pem,
       X509Certificate::CERT_FORMAT_PEM_SEQUENCE, {kChainNames[0]}},
      // ...and a first block that is not one gives nothing.
      {"first_block_not_a_certificate", not_a_certificate + chain_pem,
       X509Certificate::CERT_FORMAT_PEM_SEQUENCE, {}},
      {"garbage", "garbage", X509Certificate::CERT_FORMAT_AUTO, {}},
      {"empty", "", X509Certificate::CERT_FORMAT_AUTO, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.names, DisplayNames(FromBytes(c.bytes, c.format)));
  }
}

TEST(X509CertificateTest, CreateCertBuffersOfFormatTakesOneFormat) {
  const std::string der = test::ReadTestCertDer("leaf");
  EXPECT_EQ(1u, X509Certificate::CreateCertBuffersOfFormat(
                    der.data(), der.size(), X509Certificate::CERT_FORMAT_DER)
                    .size());
  EXPECT_TRUE(X509Certificate::CreateCertBuffersOfFormat(
                  der.data(), der.size(), X509Certificate::CERT_FORMAT_AUTO)
                  .empty());
  const std::string trailing = der + "x";
  EXPECT_FALSE(X509Certificate::CreateCertBufferIfParses(trailing.data(),
                                                         trailing.size()));
}

TEST(X509CertificateTest, BuffersComeFromTheSharedPool) {
  const std::string der = test::ReadTestCertDer("root");
  bssl::UniquePtr<CRYPTO_BUFFER> a = CreateCertBuffer(der.data(), der.size());
  bssl::UniquePtr<CRYPTO_BUFFER> b = CreateCertBuffer(der::Input(der));
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(CertBufferPool(), CertBufferPool());
  EXPECT_NE(nullptr, CertBufferPool());
}

// A certificate object always holds a certificate: no buffer, no object
// (rather than a read through a null buffer).
TEST(X509CertificateTest, NullBufferGivesNoObject) {
  EXPECT_FALSE(X509Certificate::CreateFromCertBuffer(nullptr, {}));
}

TEST(X509CertificateTest, IntermediatesAreKeptInOrderUnchecked) {
  const std::string leaf = test::ReadTestCertDer("leaf");
  const std::string root = test::ReadTestCertDer("root");
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates;
  intermediates.push_back(CreateCertBuffer(root.data(), root.size()));
  intermediates.push_back(CreateCertBuffer("junk", 4));
  scoped_refptr<X509Certificate> cert = X509Certificate::CreateFromCertBuffer(
      CreateCertBuffer(leaf.data(), leaf.size()), std::move(intermediates));
  ASSERT_TRUE(cert);
  ASSERT_EQ(2u, cert->IntermediateBuffers().size());
  EXPECT_EQ(root,
            CryptoBufferBytes(cert->IntermediateBuffers()[0].get()).AsString());
  EXPECT_EQ("junk",
            CryptoBufferBytes(cert->IntermediateBuffers()[1].get()).AsString());
}

TEST(X509CertificateTest, IsSelfSigned) {
  struct Case {
    const char* name;
    bool self_signed;
  } cases[] = {
      {"root", true},
      {"v1_self_signed", true},
      {"intermediate", false},
      {"leaf", false},
      // Subject equals issuer once normalized, but the root's key signed it.
      {"root_lookalike", false},
      // Self-issued, signed by its issuer's key.
      {"self_issued_below_pathlen0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scoped_refptr<X509Certificate> cert = FromDer(test::ReadTestCertDer(c.name));
    ASSERT_TRUE(cert);
    EXPECT_EQ(c.self_signed, cert->IsSelfSigned());
  }
}

kelmbase::Time UtcTime(int year, int month, int day) {
  kelmbase::Time::Breakdown breakdown = {};
  breakdown.year = year;
  breakdown.month = month;
  breakdown.day_of_month = day;
  kelmbase::Time time;
  EXPECT_TRUE(kelmbase::Time::FromBreakdown(false, breakdown, &time));
  return time;
}

TEST(X509CertificateTest, NamesSerialAndValidity) {
  scoped_refptr<X509Certificate> leaf =
      FromDer(test::ReadTestCertDer("leaf_expired"));
  ASSERT_TRUE(leaf);
  EXPECT_EQ(Hex("1002"), leaf->SerialNumber());
  EXPECT_EQ("expired.test.example", leaf->Subject().common_name);
  EXPECT_EQ(std::vector<std::string>{"Tarvik Test"},
            leaf->Subject().organization_names);
  EXPECT_EQ("Tarvik Test Intermediate", leaf->Issuer().common_name);
  EXPECT_EQ(UtcTime(2020, 1, 1), leaf->ValidStart());
  EXPECT_EQ(UtcTime(2021, 1, 1), leaf->ValidExpiry());

  EXPECT_EQ("First Name",
            FromDer(test::ReadTestCertDer("two_common_names"))
                ->Subject()
                .DisplayName());
  EXPECT_EQ("Org A", FromDer(test::ReadTestCertDer("no_common_name"))
                         ->Subject()
                         .DisplayName());
}

// Common names and serial numbers agree with what openssl printed for
// every fixture (fixtures.txt).
TEST(X509CertificateTest, FixturesAgreeWithOpenssl) {
  std::istringstream lines(test::ReadTestFile("fixtures.txt"));
  std::string line;
  scoped_refptr<X509Certificate> cert;
  std::string name;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "name") {
      name = value;
      cert = FromDer(test::ReadTestCertDer(name));
      ASSERT_TRUE(cert) << name;
      continue;
    }
    SCOPED_TRACE(name);
    if (key == "serial") {
      EXPECT_EQ(Hex(value), cert->SerialNumber());
    } else if (key == "subject") {
      // RFC 2253 order: the last RDN first, so the first CN= is the last
      // common name of the Name.
      const size_t cn = value.rfind("CN=");
      if (cn == std::string::npos) {
        EXPECT_EQ("", cert->Subject().common_name);
        continue;
      }
      std::string common_name = value.substr(cn + 3);
      common_name = common_name.substr(0, common_name.find(','));
      // openssl escapes a trailing space.
      if (!common_name.empty() && common_name.back() == ' ' &&
          common_name.size() > 1 && common_name[common_name.size() - 2] == '\\')
        common_name.erase(common_name.size() - 2, 1);
      EXPECT_EQ(common_name, cert->Subject().common_name);
    }
  }
}

std::string CertWith(const test::TbsFields& tbs) {
  return test::CertificateTlv(tbs.Build());
}

TEST(X509CertificateTest, LeapSecondParsesButGivesNoObject) {
  test::TbsFields tbs;
  tbs.validity = test::Sequence(
      test::Tlv(der::kUtcTime, "200101000000Z") +
      test::Tlv(der::kGeneralizedTime, "20401231235960Z"));
  const std::string der = CertWith(tbs);
  // The certificate parses, second 60 included...
  scoped_refptr<ParsedCertificate> parsed = test::ParseCertDer(der);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(60, parsed->tbs().validity_not_after.seconds);
  // ...but that time names no calendar time, so no object is made.
  EXPECT_FALSE(FromDer(der));
}

TEST(X509CertificateTest, CreationNeedsAParsableTbs) {
  struct Case {
    const char* name;
    std::string der;
    bool ok;
    std::string serial;
  } cases[] = {
      {"plain", CertWith(test::TbsFields()), true, Hex("01")},
      {"leading_zero_serial_kept",
       [] {
         test::TbsFields t;
         t.serial = test::Tlv(der::kInteger, Hex("0080"));
         return CertWith(t);
       }(),
       true, Hex("0080")},
      // Serial-number defects are only warnings for certificate objects.
      {"serial_21_octets",
       [] {
         test::TbsFields t;
         t.serial = test::Tlv(der::kInteger, Hex("01" + std::string(40, '0')));
         return CertWith(t);
       }(),
       true, Hex("01" + std::string(40, '0'))},
      {"printable_string_at_sign",
       [] {
         test::TbsFields t;
         t.subject = test::Sequence(test::Set(test::Attribute(
             TypeCommonNameOid(), der::kPrintableString, "a@b")));
         return CertWith(t);
       }(),
       false, ""},
      {"bad_tbs",
       [] {
         test::TbsFields t;
         t.trailing = Hex("0500");
         return CertWith(t);
       }(),
       false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scoped_refptr<X509Certificate> cert = FromDer(c.der);
    ASSERT_EQ(c.ok, cert != nullptr);
    if (cert) {
      EXPECT_EQ(c.serial, cert->SerialNumber());
    }
  }
}

}  // namespace
}  // namespace net
