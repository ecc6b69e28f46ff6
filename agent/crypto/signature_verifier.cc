#include "agent/crypto/signature_verifier.h"

#include <openssl/bytestring.h>
#include <openssl/digest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "agent/base/location.h"
#include "agent/crypto/scoped_crypto_error_clearer.h"

namespace crypto {

SignatureVerifier::SignatureVerifier() = default;

SignatureVerifier::~SignatureVerifier() {
  Reset();
}

bool SignatureVerifier::VerifyInit(
    SignatureAlgorithm algorithm,
    kelmbase::span<const uint8_t> signature,
    kelmbase::span<const uint8_t> public_key_info) {
  ScopedCryptoErrorClearer clearer(FROM_HERE);

  const EVP_MD* digest = nullptr;
  int key_type = EVP_PKEY_NONE;
  switch (algorithm) {
    case RSA_PKCS1_SHA1:
      digest = EVP_sha1();
      key_type = EVP_PKEY_RSA;
      break;
    case RSA_PKCS1_SHA256:
    case RSA_PSS_SHA256:
      digest = EVP_sha256();
      key_type = EVP_PKEY_RSA;
      break;
    case ECDSA_SHA256:
      digest = EVP_sha256();
      key_type = EVP_PKEY_EC;
      break;
  }

  if (verify_context_)
    return false;
  verify_context_ = EVP_MD_CTX_new();
  if (!verify_context_)
    return false;
  signature_.assign(signature.begin(), signature.end());

  CBS cbs;
  CBS_init(&cbs, public_key_info.data(), public_key_info.size());
  bssl::UniquePtr<EVP_PKEY> key(EVP_parse_public_key(&cbs));
  if (!key || CBS_len(&cbs) != 0 || EVP_PKEY_id(key.get()) != key_type)
    return false;

  EVP_PKEY_CTX* key_context = nullptr;
  if (!EVP_DigestVerifyInit(verify_context_, &key_context, digest, nullptr,
                            key.get())) {
    return false;
  }
  if (algorithm == RSA_PSS_SHA256) {
    if (!EVP_PKEY_CTX_set_rsa_padding(key_context, RSA_PKCS1_PSS_PADDING) ||
        !EVP_PKEY_CTX_set_rsa_mgf1_md(key_context, digest) ||
        !EVP_PKEY_CTX_set_rsa_pss_saltlen(key_context, -1)) {
      return false;
    }
  }
  verify_context_ready_ = true;
  return true;
}

void SignatureVerifier::VerifyUpdate(kelmbase::span<const uint8_t> data_part) {
  ScopedCryptoErrorClearer clearer(FROM_HERE);
  if (!verify_context_ready_)
    return;
  EVP_DigestVerifyUpdate(verify_context_, data_part.data(), data_part.size());
}

bool SignatureVerifier::VerifyFinal() {
  ScopedCryptoErrorClearer clearer(FROM_HERE);
  const bool ok =
      verify_context_ready_ &&
      EVP_DigestVerifyFinal(verify_context_, signature_.data(),
                            signature_.size()) == 1;
  Reset();
  return ok;
}

void SignatureVerifier::Reset() {
  // Frees the key context too, and with it the context's key reference.
  EVP_MD_CTX_free(verify_context_);
  verify_context_ = nullptr;
  verify_context_ready_ = false;
  signature_.clear();
}

}  // namespace crypto
