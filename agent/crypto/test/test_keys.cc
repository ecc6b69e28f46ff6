#include "agent/crypto/test/test_keys.h"

#include <openssl/bn.h>
#include <openssl/bytestring.h>
#include <openssl/curve25519.h>
#include <openssl/ec_key.h>
#include <openssl/evp.h>
#include <openssl/mem.h>
#include <openssl/rsa.h>

#include "logging/check.h"

namespace crypto::test {

bssl::UniquePtr<EVP_PKEY> GenerateRsaKey(int bits) {
  bssl::UniquePtr<RSA> rsa(RSA_new());
  bssl::UniquePtr<BIGNUM> exponent(BN_new());
  CHECK(rsa && exponent);
  CHECK(BN_set_word(exponent.get(), RSA_F4));
  CHECK(RSA_generate_key_ex(rsa.get(), bits, exponent.get(), nullptr));
  bssl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new());
  CHECK(key);
  CHECK(EVP_PKEY_assign_RSA(key.get(), rsa.release()));
  return key;
}

bssl::UniquePtr<EVP_PKEY> GenerateEcKey(int curve_nid) {
  bssl::UniquePtr<EC_KEY> ec(EC_KEY_new_by_curve_name(curve_nid));
  CHECK(ec);
  CHECK(EC_KEY_generate_key(ec.get()));
  bssl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new());
  CHECK(key);
  CHECK(EVP_PKEY_assign_EC_KEY(key.get(), ec.release()));
  return key;
}

bssl::UniquePtr<EVP_PKEY> GenerateEd25519Key() {
  uint8_t public_key[ED25519_PUBLIC_KEY_LEN];
  uint8_t private_key[ED25519_PRIVATE_KEY_LEN];
  ED25519_keypair(public_key, private_key);
  bssl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, public_key, sizeof(public_key)));
  CHECK(key);
  return key;
}

std::vector<uint8_t> SubjectPublicKeyInfo(const EVP_PKEY* key) {
  bssl::ScopedCBB cbb;
  CHECK(CBB_init(cbb.get(), 0));
  CHECK(EVP_marshal_public_key(cbb.get(), key));
  uint8_t* der = nullptr;
  size_t der_len = 0;
  CHECK(CBB_finish(cbb.get(), &der, &der_len));
  std::vector<uint8_t> result(der, der + der_len);
  OPENSSL_free(der);
  return result;
}

std::vector<uint8_t> Sign(EVP_PKEY* key,
                          const EVP_MD* digest,
                          const std::string& data,
                          const RsaPss* pss) {
  bssl::ScopedEVP_MD_CTX ctx;
  EVP_PKEY_CTX* key_ctx = nullptr;
  CHECK(EVP_DigestSignInit(ctx.get(), &key_ctx, digest, nullptr, key));
  if (pss) {
    CHECK(EVP_PKEY_CTX_set_rsa_padding(key_ctx, RSA_PKCS1_PSS_PADDING));
    CHECK(EVP_PKEY_CTX_set_rsa_mgf1_md(key_ctx, pss->mgf1_digest));
    CHECK(EVP_PKEY_CTX_set_rsa_pss_saltlen(key_ctx, pss->salt_length));
  }
  size_t sig_len = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  CHECK(EVP_DigestSign(ctx.get(), nullptr, &sig_len, bytes, data.size()));
  std::vector<uint8_t> signature(sig_len);
  CHECK(EVP_DigestSign(ctx.get(), signature.data(), &sig_len, bytes,
                       data.size()));
  signature.resize(sig_len);
  return signature;
}

}  // namespace crypto::test
