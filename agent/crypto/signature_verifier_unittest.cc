#include "agent/crypto/signature_verifier.h"

#include <openssl/digest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/nid.h>

#include <string>
#include <vector>

#include "agent/crypto/test/test_keys.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

using kelmbase::span;

span<const uint8_t> Bytes(const std::string& s) {
  return span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()),
                             s.size());
}

class SignatureVerifierTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    rsa_key_ = test::GenerateRsaKey(2048).release();
    ec_key_ = test::GenerateEcKey(NID_X9_62_prime256v1).release();
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(rsa_key_);
    EVP_PKEY_free(ec_key_);
  }

  static EVP_PKEY* rsa_key_;
  static EVP_PKEY* ec_key_;
};

EVP_PKEY* SignatureVerifierTest::rsa_key_ = nullptr;
EVP_PKEY* SignatureVerifierTest::ec_key_ = nullptr;

struct AlgorithmCase {
  const char* name;
  SignatureVerifier::SignatureAlgorithm algorithm;
  bool ec;
  const EVP_MD* (*digest)();
  bool pss;
};

const AlgorithmCase kAlgorithms[] = {
    {"RSA_PKCS1_SHA1", SignatureVerifier::RSA_PKCS1_SHA1, false, EVP_sha1,
     false},
    {"RSA_PKCS1_SHA256", SignatureVerifier::RSA_PKCS1_SHA256, false,
     EVP_sha256, false},
    {"ECDSA_SHA256", SignatureVerifier::ECDSA_SHA256, true, EVP_sha256, false},
    {"RSA_PSS_SHA256", SignatureVerifier::RSA_PSS_SHA256, false, EVP_sha256,
     true},
};

// Each algorithm verifies its own signature, fed in one piece or several,
// and refuses a signature with one bit changed and a different message.
TEST_F(SignatureVerifierTest, VerifiesEachAlgorithm) {
  const std::string message = "TEST";
  for (const AlgorithmCase& c : kAlgorithms) {
    EVP_PKEY* key = c.ec ? ec_key_ : rsa_key_;
    const test::RsaPss pss = {EVP_sha256(), -1};
    const std::vector<uint8_t> signature =
        test::Sign(key, c.digest(), message, c.pss ? &pss : nullptr);
    const std::vector<uint8_t> spki = test::SubjectPublicKeyInfo(key);

    SignatureVerifier verifier;
    ASSERT_TRUE(verifier.VerifyInit(c.algorithm, signature, spki)) << c.name;
    verifier.VerifyUpdate(Bytes(message));
    EXPECT_TRUE(verifier.VerifyFinal()) << c.name;

    ASSERT_TRUE(verifier.VerifyInit(c.algorithm, signature, spki)) << c.name;
    verifier.VerifyUpdate(Bytes("TE"));
    verifier.VerifyUpdate(Bytes(""));
    verifier.VerifyUpdate(Bytes("ST"));
    EXPECT_TRUE(verifier.VerifyFinal()) << c.name;

    std::vector<uint8_t> flipped = signature;
    flipped[flipped.size() / 2] ^= 0x01;
    ASSERT_TRUE(verifier.VerifyInit(c.algorithm, flipped, spki)) << c.name;
    verifier.VerifyUpdate(Bytes(message));
    EXPECT_FALSE(verifier.VerifyFinal()) << c.name;

    ASSERT_TRUE(verifier.VerifyInit(c.algorithm, signature, spki)) << c.name;
    verifier.VerifyUpdate(Bytes("TESTS"));
    EXPECT_FALSE(verifier.VerifyFinal()) << c.name;
  }
}

// PSS verification wants a salt as long as the digest: a signature with
// another salt length does not verify, nor does a PKCS#1 v1.5 signature.
TEST_F(SignatureVerifierTest, PssUsesDigestLengthSalt) {
  const std::vector<uint8_t> spki = test::SubjectPublicKeyInfo(rsa_key_);
  const test::RsaPss short_salt = {EVP_sha256(), 20};
  const std::vector<std::vector<uint8_t>> kWrong = {
      test::Sign(rsa_key_, EVP_sha256(), "TEST", &short_salt),
      test::Sign(rsa_key_, EVP_sha256(), "TEST"),
  };
  for (const std::vector<uint8_t>& signature : kWrong) {
    SignatureVerifier verifier;
    ASSERT_TRUE(
        verifier.VerifyInit(SignatureVerifier::RSA_PSS_SHA256, signature, spki));
    verifier.VerifyUpdate(Bytes("TEST"));
    EXPECT_FALSE(verifier.VerifyFinal());
  }
}

// A failed VerifyInit leaves a digest context that was never set up for
// verifying; feeding or finishing it must neither crash nor succeed.
TEST_F(SignatureVerifierTest, UpdateAndFinalAfterFailedInitAreHarmless) {
  const std::vector<uint8_t> rsa_spki = test::SubjectPublicKeyInfo(rsa_key_);
  const std::vector<uint8_t> ec_spki = test::SubjectPublicKeyInfo(ec_key_);
  std::vector<uint8_t> trailing = rsa_spki;
  trailing.push_back(0x00);
  const std::vector<uint8_t> signature =
      test::Sign(rsa_key_, EVP_sha1(), "TEST");

  struct Case {
    const char* name;
    SignatureVerifier::SignatureAlgorithm algorithm;
    std::vector<uint8_t> spki;
  };
  const Case kCases[] = {
      {"EC key for an RSA algorithm", SignatureVerifier::RSA_PKCS1_SHA1,
       ec_spki},
      {"RSA key for ECDSA", SignatureVerifier::ECDSA_SHA256, rsa_spki},
      {"byte after the key", SignatureVerifier::RSA_PKCS1_SHA1, trailing},
      {"no key at all", SignatureVerifier::RSA_PKCS1_SHA1, {}},
      {"unknown algorithm",
       static_cast<SignatureVerifier::SignatureAlgorithm>(7), rsa_spki},
  };
  for (const Case& c : kCases) {
    SignatureVerifier verifier;
    EXPECT_FALSE(verifier.VerifyInit(c.algorithm, signature, c.spki))
        << c.name;
    // The failed verification holds the verifier until it is finished.
    EXPECT_FALSE(verifier.VerifyInit(SignatureVerifier::RSA_PKCS1_SHA1,
                                     signature, rsa_spki))
        << c.name;
    verifier.VerifyUpdate(Bytes("TEST"));
    EXPECT_FALSE(verifier.VerifyFinal()) << c.name;

    // Finished, it can start over, and the good key verifies.
    ASSERT_TRUE(verifier.VerifyInit(SignatureVerifier::RSA_PKCS1_SHA1,
                                    signature, rsa_spki))
        << c.name;
    verifier.VerifyUpdate(Bytes("TEST"));
    EXPECT_TRUE(verifier.VerifyFinal()) << c.name;
    EXPECT_EQ(0u, ERR_peek_error()) << c.name;
  }
}

TEST_F(SignatureVerifierTest, FinalWithoutInitFails) {
  SignatureVerifier verifier;
  verifier.VerifyUpdate(Bytes("TEST"));
  EXPECT_FALSE(verifier.VerifyFinal());
}

TEST_F(SignatureVerifierTest, SecondInitBeforeFinalFailsAndKeepsTheFirst) {
  const std::vector<uint8_t> spki = test::SubjectPublicKeyInfo(rsa_key_);
  const std::vector<uint8_t> good = test::Sign(rsa_key_, EVP_sha1(), "TEST");
  const std::vector<uint8_t> other = test::Sign(rsa_key_, EVP_sha1(), "NOPE");
  SignatureVerifier verifier;
  ASSERT_TRUE(verifier.VerifyInit(SignatureVerifier::RSA_PKCS1_SHA1, good,
                                  spki));
  EXPECT_FALSE(verifier.VerifyInit(SignatureVerifier::RSA_PKCS1_SHA1, other,
                                   spki));
  verifier.VerifyUpdate(Bytes("TEST"));
  EXPECT_TRUE(verifier.VerifyFinal());
}

TEST_F(SignatureVerifierTest, DestroyingMidVerificationIsClean) {
  const std::vector<uint8_t> spki = test::SubjectPublicKeyInfo(rsa_key_);
  const std::vector<uint8_t> good = test::Sign(rsa_key_, EVP_sha1(), "TEST");
  SignatureVerifier verifier;
  ASSERT_TRUE(verifier.VerifyInit(SignatureVerifier::RSA_PKCS1_SHA1, good,
                                  spki));
  verifier.VerifyUpdate(Bytes("TE"));
  // The leak checker of the sanitizer build reports a context left behind.
}

}  // namespace
}  // namespace crypto
