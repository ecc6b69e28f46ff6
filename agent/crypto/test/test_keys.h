#ifndef AGENT_CRYPTO_TEST_TEST_KEYS_H_
#define AGENT_CRYPTO_TEST_TEST_KEYS_H_

#include <openssl/base.h>

#include <cstdint>
#include <string>
#include <vector>

// Keys and signatures made on the fly for tests of signature verification.
namespace crypto::test {

// A fresh RSA key with public exponent 65537.
bssl::UniquePtr<EVP_PKEY> GenerateRsaKey(int bits);
// A fresh EC key on the curve with this NID.
bssl::UniquePtr<EVP_PKEY> GenerateEcKey(int curve_nid);
// A fresh Ed25519 key.
bssl::UniquePtr<EVP_PKEY> GenerateEd25519Key();

// The DER SubjectPublicKeyInfo of `key`.
std::vector<uint8_t> SubjectPublicKeyInfo(const EVP_PKEY* key);

struct RsaPss {
  const EVP_MD* mgf1_digest;
  int salt_length;
};

// Signs `data` with `key` and `digest`: PKCS#1 v1.5 for RSA keys unless
// `pss` is given, plain ECDSA (DER) for EC keys.
std::vector<uint8_t> Sign(EVP_PKEY* key,
                          const EVP_MD* digest,
                          const std::string& data,
                          const RsaPss* pss = nullptr);

}  // namespace crypto::test

#endif  // AGENT_CRYPTO_TEST_TEST_KEYS_H_
