#include "agent/net/cert/internal/verify_signed_data.h"

#include <openssl/digest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/nid.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/crypto/test/test_keys.h"
#include "agent/net/der/der_test_util.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using der::test::FromHex;
using der::test::Sequence;
using der::test::Tlv;

const std::string kNull = FromHex("0500");

std::string AlgorithmIdentifier(const char* oid_hex, const std::string& params) {
  return Sequence({Tlv(0x06, FromHex(oid_hex)), params});
}

const std::string kSha1WithRsa =
    AlgorithmIdentifier("2a864886f70d010105", kNull);
const std::string kSha256WithRsa =
    AlgorithmIdentifier("2a864886f70d01010b", kNull);
const std::string kSha512WithRsa =
    AlgorithmIdentifier("2a864886f70d01010d", kNull);
const std::string kMd5WithRsa =
    AlgorithmIdentifier("2a864886f70d010104", kNull);
const std::string kEcdsaSha256 = AlgorithmIdentifier("2a8648ce3d040302", "");
const std::string kEcdsaSha384 = AlgorithmIdentifier("2a8648ce3d040303", "");
const std::string kDsaSha1 = AlgorithmIdentifier("2a8648ce380403", "");

std::string DigestIdentifier(const char* oid_hex) {
  return AlgorithmIdentifier(oid_hex, kNull);
}

// RSASSA-PSS with the digest for both the message and MGF1.
std::string PssAlgorithm(const char* digest_oid_hex,
                         const std::string& salt_integer) {
  const std::string digest = DigestIdentifier(digest_oid_hex);
  return AlgorithmIdentifier(
      "2a864886f70d01010a",
      Sequence({Tlv(0xA0, digest),
                Tlv(0xA1, AlgorithmIdentifier("2a864886f70d010108", digest)),
                Tlv(0xA2, Tlv(0x02, salt_integer))}));
}

const char kSha256Oid[] = "608648016503040201";
const char kSha384Oid[] = "608648016503040202";

std::unique_ptr<SignatureAlgorithm> Algorithm(const std::string& der) {
  std::unique_ptr<SignatureAlgorithm> algorithm =
      SignatureAlgorithm::Create(der::Input(der), nullptr);
  CHECK(algorithm);
  return algorithm;
}

der::BitString Signature(const std::vector<uint8_t>& bytes) {
  return der::BitString(der::Input(bytes.data(), bytes.size()), 0);
}

class VerifySignedDataTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    rsa_key_ = crypto::test::GenerateRsaKey(2048).release();
    ec_key_ = crypto::test::GenerateEcKey(NID_X9_62_prime256v1).release();
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(rsa_key_);
    EVP_PKEY_free(ec_key_);
  }

  static EVP_PKEY* rsa_key_;
  static EVP_PKEY* ec_key_;
};

EVP_PKEY* VerifySignedDataTest::rsa_key_ = nullptr;
EVP_PKEY* VerifySignedDataTest::ec_key_ = nullptr;

const std::string kData = "signed data";

// Every algorithm verifies a signature made its way, by key or through the
// SubjectPublicKeyInfo, and refuses it after one bit changes in the
// signature or the data.
TEST_F(VerifySignedDataTest, VerifiesSignaturesOfEachScheme) {
  struct Case {
    const char* name;
    std::string algorithm;
    bool ec;
    const EVP_MD* (*digest)();
    int pss_salt;  // -2: not PSS.
  };
  const Case kCases[] = {
      {"RSA PKCS#1 SHA-1", kSha1WithRsa, false, EVP_sha1, -2},
      {"RSA PKCS#1 SHA-256", kSha256WithRsa, false, EVP_sha256, -2},
      {"RSA PKCS#1 SHA-512", kSha512WithRsa, false, EVP_sha512, -2},
      {"ECDSA SHA-256", kEcdsaSha256, true, EVP_sha256, -2},
      {"ECDSA SHA-384", kEcdsaSha384, true, EVP_sha384, -2},
      {"RSA-PSS SHA-256 salt 32", PssAlgorithm(kSha256Oid, "\x20"), false,
       EVP_sha256, 32},
      {"RSA-PSS SHA-384 salt 0", PssAlgorithm(kSha384Oid, std::string(1, 0)),
       false, EVP_sha384, 0},
  };
  for (const Case& c : kCases) {
    EVP_PKEY* key = c.ec ? ec_key_ : rsa_key_;
    const crypto::test::RsaPss pss = {c.digest(), c.pss_salt};
    const std::vector<uint8_t> signature = crypto::test::Sign(
        key, c.digest(), kData, c.pss_salt >= 0 ? &pss : nullptr);
    const std::vector<uint8_t> spki_bytes =
        crypto::test::SubjectPublicKeyInfo(key);
    const der::Input spki(spki_bytes.data(), spki_bytes.size());
    std::unique_ptr<SignatureAlgorithm> algorithm = Algorithm(c.algorithm);

    EXPECT_TRUE(VerifySignedData(*algorithm, der::Input(kData),
                                 Signature(signature), key))
        << c.name;
    EXPECT_TRUE(VerifySignedDataWithSpki(*algorithm, der::Input(kData),
                                         Signature(signature), spki))
        << c.name;

    std::vector<uint8_t> flipped = signature;
    flipped.back() ^= 0x80;
    EXPECT_FALSE(VerifySignedDataWithSpki(*algorithm, der::Input(kData),
                                          Signature(flipped), spki))
        << c.name;
    std::string other_data = kData;
    other_data[0] ^= 0x01;
    EXPECT_FALSE(VerifySignedDataWithSpki(*algorithm, der::Input(other_data),
                                          Signature(signature), spki))
        << c.name;
    EXPECT_EQ(0u, ERR_peek_error()) << c.name;
  }
}

// Cases where the signature bytes are right but something else is not.
TEST_F(VerifySignedDataTest, RefusesMismatchedAlgorithmKeyOrEncoding) {
  const std::vector<uint8_t> rsa_sha256 =
      crypto::test::Sign(rsa_key_, EVP_sha256(), kData);
  const std::vector<uint8_t> ec_sha256 =
      crypto::test::Sign(ec_key_, EVP_sha256(), kData);
  const crypto::test::RsaPss salt20 = {EVP_sha256(), 20};
  const std::vector<uint8_t> pss_salt20 =
      crypto::test::Sign(rsa_key_, EVP_sha256(), kData, &salt20);

  struct Case {
    const char* name;
    std::string algorithm;
    const std::vector<uint8_t>* signature;
    EVP_PKEY* key;
  };
  const Case kCases[] = {
      {"ECDSA algorithm, RSA key", kEcdsaSha256, &rsa_sha256, rsa_key_},
      {"RSA algorithm, EC key", kSha256WithRsa, &ec_sha256, ec_key_},
      {"DSA is never verified", kDsaSha1, &rsa_sha256, rsa_key_},
      {"MD5 is never verified", kMd5WithRsa, &rsa_sha256, rsa_key_},
      {"PKCS#1 signature under PSS", PssAlgorithm(kSha256Oid, "\x20"),
       &rsa_sha256, rsa_key_},
      {"PSS signature under PKCS#1", kSha256WithRsa, &pss_salt20, rsa_key_},
      {"PSS salt 20 checked as 32", PssAlgorithm(kSha256Oid, "\x20"),
       &pss_salt20, rsa_key_},
      // 2^31 and more would reach BoringSSL as a negative length, which
      // it reads as "any salt length".
      {"PSS salt 2^31", PssAlgorithm(kSha256Oid, FromHex("0080000000")),
       &pss_salt20, rsa_key_},
      {"PSS salt 2^32-2", PssAlgorithm(kSha256Oid, FromHex("00fffffffe")),
       &pss_salt20, rsa_key_},
      {"PSS salt 2^32-1", PssAlgorithm(kSha256Oid, FromHex("00ffffffff")),
       &pss_salt20, rsa_key_},
  };
  for (const Case& c : kCases) {
    std::unique_ptr<SignatureAlgorithm> algorithm = Algorithm(c.algorithm);
    EXPECT_FALSE(VerifySignedData(*algorithm, der::Input(kData),
                                  Signature(*c.signature), c.key))
        << c.name;
    EXPECT_EQ(0u, ERR_peek_error()) << c.name;
  }

  // The PSS signature itself is sound: it verifies with its own salt.
  EXPECT_TRUE(VerifySignedData(*Algorithm(PssAlgorithm(kSha256Oid, "\x14")),
                               der::Input(kData), Signature(pss_salt20),
                               rsa_key_));
}

// A BIT STRING with unused bits is no signature, even over the right bytes.
TEST_F(VerifySignedDataTest, RefusesSignatureWithUnusedBits) {
  const std::vector<uint8_t> signature =
      crypto::test::Sign(rsa_key_, EVP_sha256(), kData);
  std::unique_ptr<SignatureAlgorithm> algorithm = Algorithm(kSha256WithRsa);
  const der::Input bytes(signature.data(), signature.size());
  ASSERT_TRUE(VerifySignedData(*algorithm, der::Input(kData),
                               der::BitString(bytes, 0), rsa_key_));
  for (uint8_t unused_bits = 1; unused_bits < 8; ++unused_bits) {
    EXPECT_FALSE(VerifySignedData(*algorithm, der::Input(kData),
                                  der::BitString(bytes, unused_bits), rsa_key_))
        << int{unused_bits};
  }
}

TEST_F(VerifySignedDataTest, ParsePublicKey) {
  const std::vector<uint8_t> spki = crypto::test::SubjectPublicKeyInfo(ec_key_);
  bssl::UniquePtr<EVP_PKEY> key;
  ASSERT_TRUE(ParsePublicKey(der::Input(spki.data(), spki.size()), &key));
  ASSERT_TRUE(key);
  EXPECT_EQ(1, EVP_PKEY_cmp(key.get(), ec_key_));

  // A failure frees what the pointer held before and leaves it null.
  std::vector<uint8_t> trailing = spki;
  trailing.push_back(0x00);
  EXPECT_FALSE(
      ParsePublicKey(der::Input(trailing.data(), trailing.size()), &key));
  EXPECT_FALSE(key);
  ASSERT_TRUE(ParsePublicKey(der::Input(spki.data(), spki.size()), &key));
  EXPECT_FALSE(ParsePublicKey(der::Input(spki.data(), spki.size() - 1), &key));
  EXPECT_FALSE(key);
  EXPECT_FALSE(ParsePublicKey(der::Input(), &key));
  EXPECT_EQ(0u, ERR_peek_error());

  const std::vector<uint8_t> signature =
      crypto::test::Sign(ec_key_, EVP_sha256(), kData);
  EXPECT_FALSE(VerifySignedDataWithSpki(
      *Algorithm(kEcdsaSha256), der::Input(kData), Signature(signature),
      der::Input(trailing.data(), trailing.size())));
}

TEST(DigestToEvpMdTest, MapsShaDigestsOnly) {
  struct Case {
    DigestAlgorithm digest;
    const EVP_MD* expected;
  };
  const Case kCases[] = {
      {DigestAlgorithm::SHA1, EVP_sha1()},
      {DigestAlgorithm::SHA256, EVP_sha256()},
      {DigestAlgorithm::SHA384, EVP_sha384()},
      {DigestAlgorithm::SHA512, EVP_sha512()},
      {DigestAlgorithm::MD2, nullptr},
      {DigestAlgorithm::MD4, nullptr},
      {DigestAlgorithm::MD5, nullptr},
  };
  for (const Case& c : kCases) {
    const EVP_MD* md = EVP_md5();
    EXPECT_EQ(c.expected != nullptr, DigestToEvpMd(c.digest, &md));
    EXPECT_EQ(c.expected, md);
  }
}

}  // namespace
}  // namespace net
