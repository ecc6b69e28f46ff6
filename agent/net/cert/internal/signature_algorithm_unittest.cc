#include "agent/net/cert/internal/signature_algorithm.h"

#include <string>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/der/der_test_util.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using der::test::FromHex;
using der::test::Sequence;
using der::test::Tlv;

std::string Oid(const char* hex) {
  return Tlv(0x06, FromHex(hex));
}

const std::string kNull = FromHex("0500");
const char kSha1WithRsa[] = "2a864886f70d010105";
const char kSha256WithRsa[] = "2a864886f70d01010b";
const char kSha384WithRsa[] = "2a864886f70d01010c";
const char kSha512WithRsa[] = "2a864886f70d01010d";
const char kSha1WithRsaOiw[] = "2b0e03021d";
const char kMd2WithRsa[] = "2a864886f70d010102";
const char kMd4WithRsa[] = "2a864886f70d010103";
const char kMd5WithRsa[] = "2a864886f70d010104";
const char kEcdsaSha1[] = "2a8648ce3d0401";
const char kEcdsaSha256[] = "2a8648ce3d040302";
const char kEcdsaSha384[] = "2a8648ce3d040303";
const char kEcdsaSha512[] = "2a8648ce3d040304";
const char kDsaSha1[] = "2a8648ce380403";
const char kDsaSha256[] = "608648016503040302";
const char kRsaPss[] = "2a864886f70d01010a";
const char kMgf1[] = "2a864886f70d010108";
const char kSha256[] = "608648016503040201";
const char kSha512[] = "608648016503040203";

std::string AlgorithmIdentifier(const char* oid_hex) {
  return Sequence({Oid(oid_hex)});
}

std::string AlgorithmIdentifier(const char* oid_hex,
                                const std::string& params) {
  return Sequence({Oid(oid_hex), params});
}

std::string PssAlgorithm(const std::string& params_contents) {
  return AlgorithmIdentifier(kRsaPss, Tlv(0x30, params_contents));
}

std::string HashField(const std::string& digest_identifier) {
  return Tlv(0xA0, digest_identifier);
}

std::string MgfField(const char* mgf_oid, const std::string& digest_identifier) {
  return Tlv(0xA1, AlgorithmIdentifier(mgf_oid, digest_identifier));
}

std::string SaltField(const std::string& integer_contents) {
  return Tlv(0xA2, Tlv(0x02, integer_contents));
}

std::string TrailerField(const std::string& integer_contents) {
  return Tlv(0xA3, Tlv(0x02, integer_contents));
}

const std::string kSha256Identifier = AlgorithmIdentifier(kSha256, kNull);

struct CreateCase {
  const char* name;
  std::string der;
  bool ok;
  SignatureAlgorithmId algorithm = SignatureAlgorithmId::DSA;
  DigestAlgorithm digest = DigestAlgorithm::MD2;
  // For RSA-PSS.
  DigestAlgorithm mgf1_hash = DigestAlgorithm::MD2;
  uint32_t salt_length = 0;
};

TEST(SignatureAlgorithmTest, Create) {
  using enum SignatureAlgorithmId;
  using enum DigestAlgorithm;
  const std::string kSha256PssParams =
      HashField(kSha256Identifier) + MgfField(kMgf1, kSha256Identifier) +
      SaltField(FromHex("20"));
  const CreateCase kCases[] = {
      {"sha256WithRSA, NULL", AlgorithmIdentifier(kSha256WithRsa, kNull), true,
       RSA_PKCS1, SHA256},
      {"sha256WithRSA, absent", AlgorithmIdentifier(kSha256WithRsa), true,
       RSA_PKCS1, SHA256},
      {"sha256WithRSA, INTEGER",
       AlgorithmIdentifier(kSha256WithRsa, FromHex("020100")), false},
      {"sha256WithRSA, NULL with content",
       AlgorithmIdentifier(kSha256WithRsa, FromHex("050100")), false},
      {"sha256WithRSA, two NULLs",
       Sequence({Oid(kSha256WithRsa), kNull, kNull}), false},
      {"sha1WithRSA", AlgorithmIdentifier(kSha1WithRsa, kNull), true,
       RSA_PKCS1, SHA1},
      {"sha384WithRSA", AlgorithmIdentifier(kSha384WithRsa), true, RSA_PKCS1,
       SHA384},
      {"sha512WithRSA", AlgorithmIdentifier(kSha512WithRsa, kNull), true,
       RSA_PKCS1, SHA512},
      {"sha1WithRSASignature", AlgorithmIdentifier(kSha1WithRsaOiw, kNull),
       true, RSA_PKCS1, SHA1},
      {"md2WithRSA", AlgorithmIdentifier(kMd2WithRsa, kNull), true, RSA_PKCS1,
       MD2},
      {"md4WithRSA", AlgorithmIdentifier(kMd4WithRsa), true, RSA_PKCS1, MD4},
      {"md5WithRSA", AlgorithmIdentifier(kMd5WithRsa, kNull), true, RSA_PKCS1,
       MD5},
      {"ecdsa-with-SHA1", AlgorithmIdentifier(kEcdsaSha1), true, ECDSA, SHA1},
      {"ecdsa-with-SHA256", AlgorithmIdentifier(kEcdsaSha256), true, ECDSA,
       SHA256},
      {"ecdsa-with-SHA384", AlgorithmIdentifier(kEcdsaSha384), true, ECDSA,
       SHA384},
      {"ecdsa-with-SHA512", AlgorithmIdentifier(kEcdsaSha512), true, ECDSA,
       SHA512},
      {"ecdsa-with-SHA256, NULL", AlgorithmIdentifier(kEcdsaSha256, kNull),
       false},
      {"dsa-with-sha1", AlgorithmIdentifier(kDsaSha1, kNull), true, DSA, SHA1},
      {"dsa-with-sha256", AlgorithmIdentifier(kDsaSha256), true, DSA, SHA256},
      {"trailing bytes after the identifier",
       AlgorithmIdentifier(kSha256WithRsa, kNull) + kNull, false},
      {"not a SEQUENCE", Tlv(0x31, Oid(kSha256WithRsa)), false},
      {"no OID", Sequence({kNull}), false},
      {"empty", "", false},
      {"PSS, empty parameters", PssAlgorithm(""), true, RSA_PSS, SHA1, SHA1,
       20},
      {"PSS, SHA-256 with salt 32", PssAlgorithm(kSha256PssParams), true,
       RSA_PSS, SHA256, SHA256, 32},
      {"PSS, SHA-512 hash, SHA-1 MGF1 by default",
       PssAlgorithm(HashField(AlgorithmIdentifier(kSha512))), true, RSA_PSS,
       SHA512, SHA1, 20},
      {"PSS, trailer 1", PssAlgorithm(TrailerField(FromHex("01"))), true,
       RSA_PSS, SHA1, SHA1, 20},
      {"PSS, largest salt", PssAlgorithm(SaltField(FromHex("00ffffffff"))),
       true, RSA_PSS, SHA1, SHA1, 0xFFFFFFFF},
      {"PSS, no parameters", AlgorithmIdentifier(kRsaPss), false},
      {"PSS, NULL parameters", AlgorithmIdentifier(kRsaPss, kNull), false},
      {"PSS, trailer 2", PssAlgorithm(TrailerField(FromHex("02"))), false},
      {"PSS, MGF other than MGF1",
       PssAlgorithm(MgfField(kSha256, kSha256Identifier)), false},
      {"PSS, MGF1 without a digest",
       PssAlgorithm(Tlv(0xA1, AlgorithmIdentifier(kMgf1))), false},
      {"PSS, MD5 hash",
       PssAlgorithm(HashField(AlgorithmIdentifier("2a864886f70d0205", kNull))),
       false},
      {"PSS, salt 2^32", PssAlgorithm(SaltField(FromHex("0100000000"))),
       false},
      {"PSS, negative salt", PssAlgorithm(SaltField(FromHex("ff"))), false},
      {"PSS, two salts",
       PssAlgorithm(Tlv(0xA2, Tlv(0x02, FromHex("20")) + Tlv(0x02, "\x01"))),
       false},
      {"PSS, fields out of order",
       PssAlgorithm(SaltField(FromHex("20")) + HashField(kSha256Identifier)),
       false},
      {"PSS, unknown field after the trailer",
       PssAlgorithm(TrailerField(FromHex("01")) + Tlv(0xA4, "")), false},
      {"PSS, bytes after the parameters",
       AlgorithmIdentifier(kRsaPss, Tlv(0x30, "") + kNull), false},
      // The hash field holds one AlgorithmIdentifier and nothing else.
      {"PSS, bytes after the hash identifier",
       PssAlgorithm(HashField(kSha256Identifier + kNull)), false},
      {"PSS, a second identifier in the hash field",
       PssAlgorithm(HashField(kSha256Identifier + kSha256Identifier)), false},
  };
  for (const CreateCase& c : kCases) {
    CertErrors errors;
    std::unique_ptr<SignatureAlgorithm> algorithm =
        SignatureAlgorithm::Create(der::Input(c.der), &errors);
    EXPECT_TRUE(errors.empty()) << c.name;
    ASSERT_EQ(c.ok, algorithm != nullptr) << c.name;
    if (!c.ok)
      continue;
    EXPECT_EQ(c.algorithm, algorithm->algorithm()) << c.name;
    EXPECT_EQ(c.digest, algorithm->digest()) << c.name;
    const RsaPssParameters* params = algorithm->ParamsForRsaPss();
    ASSERT_EQ(c.algorithm == RSA_PSS, params != nullptr) << c.name;
    if (params) {
      EXPECT_EQ(c.mgf1_hash, params->mgf1_hash()) << c.name;
      EXPECT_EQ(c.salt_length, params->salt_length()) << c.name;
    }
  }
}

TEST(SignatureAlgorithmTest, UnknownOidIsReportedWithOidAndParameters) {
  const std::string der = AlgorithmIdentifier("2a0304", kNull);
  CertErrors errors;
  EXPECT_EQ(nullptr, SignatureAlgorithm::Create(der::Input(der), &errors));
  ASSERT_EQ(1u, errors.nodes().size());
  EXPECT_EQ(static_cast<CertErrorId>(kUnknownAlgorithmIdentifierOid),
            errors.nodes()[0].id);
  EXPECT_EQ(
      "ERROR: Unknown AlgorithmIdentifier OID\n"
      "  oid: 2A0304\n"
      "  params: 0500\n",
      errors.ToDebugString());

  // Without parameters the second line is empty after the name; without an
  // error list nothing is reported and nothing breaks.
  CertErrors no_params_errors;
  EXPECT_EQ(nullptr, SignatureAlgorithm::Create(
                         der::Input(AlgorithmIdentifier("2a0304")),
                         &no_params_errors));
  EXPECT_EQ("ERROR: Unknown AlgorithmIdentifier OID\n  oid: 2A0304\n  params: \n",
            no_params_errors.ToDebugString());
  EXPECT_EQ(nullptr, SignatureAlgorithm::Create(der::Input(der), nullptr));
}

TEST(SignatureAlgorithmTest, CreateRsaPkcs1) {
  std::unique_ptr<SignatureAlgorithm> algorithm =
      SignatureAlgorithm::CreateRsaPkcs1(DigestAlgorithm::SHA256);
  EXPECT_EQ(SignatureAlgorithmId::RSA_PKCS1, algorithm->algorithm());
  EXPECT_EQ(DigestAlgorithm::SHA256, algorithm->digest());
  EXPECT_EQ(nullptr, algorithm->ParamsForRsaPss());
}

TEST(SignatureAlgorithmTest, EncodingsAreEquivalent) {
  const std::string sha256_pss =
      PssAlgorithm(HashField(kSha256Identifier) +
                   MgfField(kMgf1, kSha256Identifier) + SaltField("\x20"));
  struct Case {
    const char* name;
    std::string a;
    std::string b;
    bool equivalent;
  };
  const Case kCases[] = {
      {"sha1WithRSA with and without NULL",
       AlgorithmIdentifier(kSha1WithRsa, kNull),
       AlgorithmIdentifier(kSha1WithRsa), true},
      {"sha1WithRSAEncryption and sha1WithRSASignature",
       AlgorithmIdentifier(kSha1WithRsa), AlgorithmIdentifier(kSha1WithRsaOiw),
       true},
      {"different digests", AlgorithmIdentifier(kSha1WithRsa),
       AlgorithmIdentifier(kSha256WithRsa), false},
      {"RSA and ECDSA", AlgorithmIdentifier(kSha256WithRsa),
       AlgorithmIdentifier(kEcdsaSha256), false},
      {"equal bytes that do not parse", FromHex("3000"), FromHex("3000"),
       true},
      {"different bytes that do not parse", FromHex("3000"), FromHex("3100"),
       false},
      {"one side does not parse", AlgorithmIdentifier(kSha256WithRsa),
       AlgorithmIdentifier(kSha256WithRsa, FromHex("020100")), false},
      {"PSS, defaults spelled out or left out", PssAlgorithm(""),
       PssAlgorithm(TrailerField("\x01")), true},
      {"PSS, different salt", sha256_pss,
       PssAlgorithm(HashField(kSha256Identifier) +
                    MgfField(kMgf1, kSha256Identifier) + SaltField("\x21")),
       false},
      {"PSS, different MGF1 digest", sha256_pss,
       PssAlgorithm(HashField(kSha256Identifier) + SaltField("\x20")), false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.equivalent, SignatureAlgorithm::EncodingsAreEquivalent(
                                der::Input(c.a), der::Input(c.b)))
        << c.name;
    EXPECT_EQ(c.equivalent, SignatureAlgorithm::EncodingsAreEquivalent(
                                der::Input(c.b), der::Input(c.a)))
        << c.name;
  }
}

TEST(ParseDigestAlgorithmTest, KnowsOnlyTheShaDigests) {
  struct Case {
    std::string der;
    bool ok;
    DigestAlgorithm digest = DigestAlgorithm::MD2;
  };
  const Case kCases[] = {
      {AlgorithmIdentifier("2b0e03021a", kNull), true, DigestAlgorithm::SHA1},
      {AlgorithmIdentifier(kSha256), true, DigestAlgorithm::SHA256},
      {AlgorithmIdentifier("608648016503040202", kNull), true,
       DigestAlgorithm::SHA384},
      {AlgorithmIdentifier(kSha512, kNull), true, DigestAlgorithm::SHA512},
      {AlgorithmIdentifier("2a864886f70d0205", kNull), false},  // MD5
      {AlgorithmIdentifier("608648016503040204", kNull), false},  // SHA-224
      {AlgorithmIdentifier(kSha256WithRsa, kNull), false},
      {"", false},
      // What follows the identifier is not looked at.
      {AlgorithmIdentifier(kSha256) + FromHex("ffff"), true,
       DigestAlgorithm::SHA256},
  };
  for (const Case& c : kCases) {
    DigestAlgorithm digest = DigestAlgorithm::MD2;
    EXPECT_EQ(c.ok, ParseDigestAlgorithm(der::Input(c.der), &digest))
        << kelmbase::HexEncode(c.der.data(), c.der.size());
    if (c.ok) {
      EXPECT_EQ(c.digest, digest);
    }
  }
}

}  // namespace
}  // namespace net
