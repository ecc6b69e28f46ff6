#include "agent/net/cert/internal/simple_path_builder_delegate.h"

#include <openssl/evp.h>
#include <openssl/nid.h>

#include <memory>
#include <string>

#include "agent/crypto/test/test_keys.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using Policy = SimplePathBuilderDelegate::DigestPolicy;

std::unique_ptr<SignatureAlgorithm> Pss(DigestAlgorithm digest,
                                        DigestAlgorithm mgf1) {
  return std::make_unique<SignatureAlgorithm>(
      SignatureAlgorithmId::RSA_PSS, digest,
      std::make_unique<RsaPssParameters>(mgf1, 32));
}

std::unique_ptr<SignatureAlgorithm> Plain(SignatureAlgorithmId id,
                                          DigestAlgorithm digest) {
  return std::make_unique<SignatureAlgorithm>(id, digest, nullptr);
}

TEST(SimplePathBuilderDelegateTest, AcceptsSignatureAlgorithm) {
  using enum DigestAlgorithm;
  using enum SignatureAlgorithmId;
  struct Case {
    const char* name;
    std::unique_ptr<SignatureAlgorithm> algorithm;
    bool strong;     // Accepted under kStrong.
    bool weak;       // Accepted under kWeakAllowSha1.
  };
  Case cases[] = {
      {"PKCS#1 SHA-1", Plain(RSA_PKCS1, SHA1), false, true},
      {"PKCS#1 SHA-256", Plain(RSA_PKCS1, SHA256), true, true},
      {"PKCS#1 SHA-384", Plain(RSA_PKCS1, SHA384), true, true},
      {"PKCS#1 SHA-512", Plain(RSA_PKCS1, SHA512), true, true},
      {"PKCS#1 MD5", Plain(RSA_PKCS1, MD5), false, false},
      {"PKCS#1 MD2", Plain(RSA_PKCS1, MD2), false, false},
      {"ECDSA SHA-1", Plain(ECDSA, SHA1), false, true},
      {"ECDSA SHA-256", Plain(ECDSA, SHA256), true, true},
      {"DSA SHA-256", Plain(DSA, SHA256), false, false},
      {"PSS SHA-256, MGF1 SHA-256", Pss(SHA256, SHA256), true, true},
      {"PSS SHA-256, MGF1 SHA-1", Pss(SHA256, SHA1), false, true},
      {"PSS SHA-1, MGF1 SHA-256", Pss(SHA1, SHA256), false, true},
      {"PSS SHA-512, MGF1 MD5", Pss(SHA512, MD5), false, false},
      {"PSS MD5, MGF1 SHA-256", Pss(MD5, SHA256), false, false},
  };
  SimplePathBuilderDelegate strong(2048, Policy::kStrong);
  SimplePathBuilderDelegate weak(2048, Policy::kWeakAllowSha1);
  for (Case& c : cases) {
    CertErrors errors;
    EXPECT_EQ(c.strong, strong.AcceptsSignatureAlgorithm(*c.algorithm, &errors))
        << c.name;
    EXPECT_EQ(c.weak, weak.AcceptsSignatureAlgorithm(*c.algorithm, &errors))
        << c.name;
    EXPECT_TRUE(errors.empty()) << c.name;
  }
}

TEST(SimplePathBuilderDelegateTest, AcceptsPublicKey) {
  struct Case {
    const char* name;
    bssl::UniquePtr<EVP_PKEY> key;
    bool accepted;
    std::string errors;
  };
  Case cases[] = {
      {"RSA 1024", crypto::test::GenerateRsaKey(1024), false,
       "ERROR: RSA modulus too small\n  actual: 1024\n  minimum: 2048\n"},
      {"RSA 2048", crypto::test::GenerateRsaKey(2048), true, ""},
      {"P-224", crypto::test::GenerateEcKey(NID_secp224r1), false,
       "ERROR: Only P-256, P-384, P-521 are supported for ECDSA\n"},
      {"P-256", crypto::test::GenerateEcKey(NID_X9_62_prime256v1), true, ""},
      {"P-384", crypto::test::GenerateEcKey(NID_secp384r1), true, ""},
      {"P-521", crypto::test::GenerateEcKey(NID_secp521r1), true, ""},
      {"Ed25519", crypto::test::GenerateEd25519Key(), false, ""},
  };
  SimplePathBuilderDelegate delegate(2048, Policy::kWeakAllowSha1);
  for (Case& c : cases) {
    CertErrors errors;
    EXPECT_EQ(c.accepted, delegate.AcceptsPublicKey(c.key.get(), &errors))
        << c.name;
    EXPECT_EQ(c.errors, errors.ToDebugString()) << c.name;
  }
  // The minimum is the delegate's own.
  SimplePathBuilderDelegate lenient(1024, Policy::kStrong);
  CertErrors errors;
  EXPECT_TRUE(lenient.AcceptsPublicKey(cases[0].key.get(), &errors));
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace net
