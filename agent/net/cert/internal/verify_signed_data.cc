#include "agent/net/cert/internal/verify_signed_data.h"

#include <openssl/bytestring.h>
#include <openssl/digest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdint>

#include "agent/base/location.h"
#include "agent/crypto/scoped_crypto_error_clearer.h"

namespace net {

bool DigestToEvpMd(DigestAlgorithm digest, const EVP_MD** out) {
  switch (digest) {
    case DigestAlgorithm::SHA1:
      *out = EVP_sha1();
      return true;
    case DigestAlgorithm::SHA256:
      *out = EVP_sha256();
      return true;
    case DigestAlgorithm::SHA384:
      *out = EVP_sha384();
      return true;
    case DigestAlgorithm::SHA512:
      *out = EVP_sha512();
      return true;
    case DigestAlgorithm::MD2:
    case DigestAlgorithm::MD4:
    case DigestAlgorithm::MD5:
      break;
  }
  *out = nullptr;
  return false;
}

bool ParsePublicKey(const der::Input& spki,
                    bssl::UniquePtr<EVP_PKEY>* public_key) {
  crypto::ScopedCryptoErrorClearer clearer(FROM_HERE);
  CBS cbs;
  CBS_init(&cbs, spki.data(), spki.length());
  public_key->reset(EVP_parse_public_key(&cbs));
  if (!*public_key)
    return false;
  if (CBS_len(&cbs) != 0) {
    public_key->reset();
    return false;
  }
  return true;
}

bool VerifySignedData(const SignatureAlgorithm& algorithm,
                      const der::Input& signed_data,
                      const der::BitString& signature,
                      EVP_PKEY* public_key) {
  int expected_key_type;
  switch (algorithm.algorithm()) {
    case SignatureAlgorithmId::RSA_PKCS1:
    case SignatureAlgorithmId::RSA_PSS:
      expected_key_type = EVP_PKEY_RSA;
      break;
    case SignatureAlgorithmId::ECDSA:
      expected_key_type = EVP_PKEY_EC;
      break;
    default:
      return false;
  }
  if (EVP_PKEY_id(public_key) != expected_key_type)
    return false;
  if (signature.unused_bits() != 0)
    return false;

  crypto::ScopedCryptoErrorClearer clearer(FROM_HERE);
  bssl::ScopedEVP_MD_CTX ctx;
  const EVP_MD* digest;
  if (!DigestToEvpMd(algorithm.digest(), &digest))
    return false;
  EVP_PKEY_CTX* key_ctx = nullptr;
  if (!EVP_DigestVerifyInit(ctx.get(), &key_ctx, digest, nullptr,
                            public_key)) {
    return false;
  }

  if (algorithm.algorithm() == SignatureAlgorithmId::RSA_PSS) {
    const RsaPssParameters* params = algorithm.ParamsForRsaPss();
    if (!params)
      return false;
    // BoringSSL takes the salt length as an int, where negative values mean
    // "as long as the digest" or "recover it": never let a length from the
    // certificate turn into one of those.
    const int32_t salt_length = static_cast<int32_t>(params->salt_length());
    if (salt_length < 0)
      return false;
    const EVP_MD* mgf1_digest;
    if (!DigestToEvpMd(params->mgf1_hash(), &mgf1_digest))
      return false;
    if (!EVP_PKEY_CTX_set_rsa_padding(key_ctx, RSA_PKCS1_PSS_PADDING) ||
        !EVP_PKEY_CTX_set_rsa_mgf1_md(key_ctx, mgf1_digest) ||
        !EVP_PKEY_CTX_set_rsa_pss_saltlen(key_ctx, salt_length)) {
      return false;
    }
  }

  if (!EVP_DigestVerifyUpdate(ctx.get(), signed_data.data(),
                              signed_data.length())) {
    return false;
  }
  return EVP_DigestVerifyFinal(ctx.get(), signature.bytes().data(),
                               signature.bytes().length()) == 1;
}

bool VerifySignedDataWithSpki(const SignatureAlgorithm& algorithm,
                              const der::Input& signed_data,
                              const der::BitString& signature,
                              const der::Input& spki) {
  bssl::UniquePtr<EVP_PKEY> public_key;
  if (!ParsePublicKey(spki, &public_key))
    return false;
  return VerifySignedData(algorithm, signed_data, signature, public_key.get());
}

}  // namespace net
