#include "agent/net/cert/internal/simple_path_builder_delegate.h"

#include <openssl/ec.h>
#include <openssl/ec_key.h>
#include <openssl/evp.h>
#include <openssl/nid.h>
#include <openssl/rsa.h>

#include "agent/net/cert/cert_error_params.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/signature_algorithm.h"

namespace net {

const char kRsaModulusTooSmall[] = "RSA modulus too small";
const char kUnacceptableCurveForEcdsa[] =
    "Only P-256, P-384, P-521 are supported for ECDSA";

SimplePathBuilderDelegate::SimplePathBuilderDelegate(
    size_t min_rsa_modulus_bits,
    DigestPolicy digest_policy)
    : min_rsa_modulus_bits_(min_rsa_modulus_bits),
      digest_policy_(digest_policy) {}

SimplePathBuilderDelegate::~SimplePathBuilderDelegate() = default;

bool SimplePathBuilderDelegate::IsAcceptableDigest(
    DigestAlgorithm digest) const {
  switch (digest) {
    case DigestAlgorithm::SHA256:
    case DigestAlgorithm::SHA384:
    case DigestAlgorithm::SHA512:
      return true;
    case DigestAlgorithm::SHA1:
      return digest_policy_ == DigestPolicy::kWeakAllowSha1;
    case DigestAlgorithm::MD2:
    case DigestAlgorithm::MD4:
    case DigestAlgorithm::MD5:
      return false;
  }
  return false;
}

bool SimplePathBuilderDelegate::AcceptsSignatureAlgorithm(
    const SignatureAlgorithm& algorithm,
    CertErrors* errors) {
  switch (algorithm.algorithm()) {
    case SignatureAlgorithmId::RSA_PKCS1:
    case SignatureAlgorithmId::ECDSA:
      return IsAcceptableDigest(algorithm.digest());
    case SignatureAlgorithmId::RSA_PSS: {
      if (!IsAcceptableDigest(algorithm.digest()))
        return false;
      const RsaPssParameters* params = algorithm.ParamsForRsaPss();
      return params && IsAcceptableDigest(params->mgf1_hash());
    }
    case SignatureAlgorithmId::DSA:
      return false;
  }
  return false;
}

bool SimplePathBuilderDelegate::AcceptsPublicKey(EVP_PKEY* public_key,
                                                 CertErrors* errors) {
  switch (EVP_PKEY_id(public_key)) {
    case EVP_PKEY_EC: {
      const EC_KEY* ec = EVP_PKEY_get0_EC_KEY(public_key);
      if (!ec)
        return false;
      const int curve = EC_GROUP_get_curve_name(EC_KEY_get0_group(ec));
      if (curve != NID_X9_62_prime256v1 && curve != NID_secp384r1 &&
          curve != NID_secp521r1) {
        if (errors)
          errors->AddError(kUnacceptableCurveForEcdsa);
        return false;
      }
      return true;
    }
    case EVP_PKEY_RSA: {
      const RSA* rsa = EVP_PKEY_get0_RSA(public_key);
      if (!rsa)
        return false;
      const size_t bits = RSA_bits(rsa);
      if (bits < min_rsa_modulus_bits_) {
        if (errors) {
          errors->AddError(kRsaModulusTooSmall,
                           CreateCertErrorParams2SizeT(
                               "actual", bits, "minimum",
                               min_rsa_modulus_bits_));
        }
        return false;
      }
      return true;
    }
    default:
      return false;
  }
}

void SimplePathBuilderDelegate::OnPathVerified(
    const CertPathBuilder& path_builder,
    CertPathBuilderResultPath* path) {}

}  // namespace net
