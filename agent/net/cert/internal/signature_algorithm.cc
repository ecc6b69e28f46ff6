#include "agent/net/cert/internal/signature_algorithm.h"

#include <openssl/bytestring.h>
#include <openssl/digest.h>

#include <utility>

#include "agent/net/cert/cert_error_params.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/der/parse_values.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"
#include "logging/check.h"

namespace net {

const char kUnknownAlgorithmIdentifierOid[] = "Unknown AlgorithmIdentifier OID";

namespace {

// OID value bytes of the algorithms we know.

// 1.2.840.113549.1.1.5
const uint8_t kOidSha1WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                             0x0d, 0x01, 0x01, 0x05};
// 1.2.840.113549.1.1.11
const uint8_t kOidSha256WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                               0x0d, 0x01, 0x01, 0x0b};
// 1.2.840.113549.1.1.12
const uint8_t kOidSha384WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                               0x0d, 0x01, 0x01, 0x0c};
// 1.2.840.113549.1.1.13
const uint8_t kOidSha512WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                               0x0d, 0x01, 0x01, 0x0d};
// 1.2.840.10045.4.1
const uint8_t kOidEcdsaWithSha1[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x01};
// 1.2.840.10045.4.3.2
const uint8_t kOidEcdsaWithSha256[] = {0x2a, 0x86, 0x48, 0xce,
                                       0x3d, 0x04, 0x03, 0x02};
// 1.2.840.10045.4.3.3
const uint8_t kOidEcdsaWithSha384[] = {0x2a, 0x86, 0x48, 0xce,
                                       0x3d, 0x04, 0x03, 0x03};
// 1.2.840.10045.4.3.4
const uint8_t kOidEcdsaWithSha512[] = {0x2a, 0x86, 0x48, 0xce,
                                       0x3d, 0x04, 0x03, 0x04};
// 1.2.840.113549.1.1.10
const uint8_t kOidRsaSsaPss[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                 0x0d, 0x01, 0x01, 0x0a};
// 1.3.14.3.2.29, an old OIW name for SHA-1 with RSA.
const uint8_t kOidSha1WithRsaSignature[] = {0x2b, 0x0e, 0x03, 0x02, 0x1d};
// 1.2.840.113549.1.1.2
const uint8_t kOidMd2WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                            0x0d, 0x01, 0x01, 0x02};
// 1.2.840.113549.1.1.3
const uint8_t kOidMd4WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                            0x0d, 0x01, 0x01, 0x03};
// 1.2.840.113549.1.1.4
const uint8_t kOidMd5WithRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                            0x0d, 0x01, 0x01, 0x04};
// 1.2.840.10040.4.3
const uint8_t kOidDsaWithSha1[] = {0x2a, 0x86, 0x48, 0xce, 0x38, 0x04, 0x03};
// 2.16.840.1.101.3.4.3.2
const uint8_t kOidDsaWithSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65,
                                     0x03, 0x04, 0x03, 0x02};
// 1.2.840.113549.1.1.8
const uint8_t kOidMgf1[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                            0x0d, 0x01, 0x01, 0x08};

// What an algorithm allows as its parameters.
enum class ParamsRule {
  kAbsentOrNull,
  kAbsent,
  kRsaPss,
};

struct KnownAlgorithm {
  der::Input oid;
  SignatureAlgorithmId algorithm;
  DigestAlgorithm digest;  // Taken from the parameters for RSA-PSS.
  ParamsRule params_rule;
};

const KnownAlgorithm kKnownAlgorithms[] = {
    {der::Input(kOidSha1WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::SHA1, ParamsRule::kAbsentOrNull},
    {der::Input(kOidSha256WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::SHA256, ParamsRule::kAbsentOrNull},
    {der::Input(kOidSha384WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::SHA384, ParamsRule::kAbsentOrNull},
    {der::Input(kOidSha512WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::SHA512, ParamsRule::kAbsentOrNull},
    {der::Input(kOidEcdsaWithSha1), SignatureAlgorithmId::ECDSA,
     DigestAlgorithm::SHA1, ParamsRule::kAbsent},
    {der::Input(kOidEcdsaWithSha256), SignatureAlgorithmId::ECDSA,
     DigestAlgorithm::SHA256, ParamsRule::kAbsent},
    {der::Input(kOidEcdsaWithSha384), SignatureAlgorithmId::ECDSA,
     DigestAlgorithm::SHA384, ParamsRule::kAbsent},
    {der::Input(kOidEcdsaWithSha512), SignatureAlgorithmId::ECDSA,
     DigestAlgorithm::SHA512, ParamsRule::kAbsent},
    {der::Input(kOidRsaSsaPss), SignatureAlgorithmId::RSA_PSS,
     DigestAlgorithm::SHA1, ParamsRule::kRsaPss},
    {der::Input(kOidSha1WithRsaSignature), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::SHA1, ParamsRule::kAbsentOrNull},
    {der::Input(kOidMd2WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::MD2, ParamsRule::kAbsentOrNull},
    {der::Input(kOidMd4WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::MD4, ParamsRule::kAbsentOrNull},
    {der::Input(kOidMd5WithRsaEncryption), SignatureAlgorithmId::RSA_PKCS1,
     DigestAlgorithm::MD5, ParamsRule::kAbsentOrNull},
    {der::Input(kOidDsaWithSha1), SignatureAlgorithmId::DSA,
     DigestAlgorithm::SHA1, ParamsRule::kAbsentOrNull},
    {der::Input(kOidDsaWithSha256), SignatureAlgorithmId::DSA,
     DigestAlgorithm::SHA256, ParamsRule::kAbsentOrNull},
};

// Reads an AlgorithmIdentifier TLV: exactly one SEQUENCE holding an OID and
// at most one more element, taken whole as the parameters (empty when
// absent).
bool ParseAlgorithmIdentifier(const der::Input& input,
                              der::Input* oid,
                              der::Input* params) {
  der::Parser parser(input);
  der::Parser algorithm_identifier;
  if (!parser.ReadSequence(&algorithm_identifier) || parser.HasMore())
    return false;
  if (!algorithm_identifier.ReadValueWithTag(der::kOid, oid))
    return false;
  *params = der::Input();
  if (algorithm_identifier.HasMore() &&
      !algorithm_identifier.ReadRawElement(params)) {
    return false;
  }
  return !algorithm_identifier.HasMore();
}

// Exactly one NULL element with an empty value.
bool IsNull(const der::Input& params) {
  der::Parser parser(params);
  der::Input value;
  return parser.ReadValueWithTag(der::kNull, &value) && value.empty() &&
         !parser.HasMore();
}

// The contents of an explicitly tagged field: exactly one element, whole.
bool ReadSingleElement(const der::Input& contents, der::Input* element) {
  der::Parser parser(contents);
  return parser.ReadRawElement(element) && !parser.HasMore();
}

// The contents of an explicitly tagged field that hold exactly one
// non-negative INTEGER below 2^32.
bool ReadSingleUint32(const der::Input& contents, uint32_t* out) {
  der::Parser parser(contents);
  uint64_t value;
  if (!parser.ReadUint64(&value) || parser.HasMore())
    return false;
  if (value > UINT32_MAX)
    return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

RsaPssParameters::RsaPssParameters(DigestAlgorithm mgf1_hash,
                                   uint32_t salt_length)
    : mgf1_hash_(mgf1_hash), salt_length_(salt_length) {}

SignatureAlgorithm::SignatureAlgorithm(
    SignatureAlgorithmId algorithm,
    DigestAlgorithm digest,
    std::unique_ptr<SignatureAlgorithmParameters> params)
    : algorithm_(algorithm), digest_(digest), params_(std::move(params)) {
  CHECK((algorithm == SignatureAlgorithmId::RSA_PSS) == (params_ != nullptr));
}

SignatureAlgorithm::~SignatureAlgorithm() = default;

std::unique_ptr<SignatureAlgorithm> SignatureAlgorithm::Create(
    const der::Input& algorithm_identifier,
    CertErrors* errors) {
  der::Input oid;
  der::Input params;
  if (!ParseAlgorithmIdentifier(algorithm_identifier, &oid, &params))
    return nullptr;

  for (const KnownAlgorithm& known : kKnownAlgorithms) {
    if (oid != known.oid)
      continue;
    switch (known.params_rule) {
      case ParamsRule::kAbsentOrNull:
        if (!params.empty() && !IsNull(params))
          return nullptr;
        break;
      case ParamsRule::kAbsent:
        if (!params.empty())
          return nullptr;
        break;
      case ParamsRule::kRsaPss:
        return ParseRsaPssParameters(params);
    }
    return std::make_unique<SignatureAlgorithm>(known.algorithm, known.digest,
                                                nullptr);
  }

  if (errors) {
    errors->AddError(kUnknownAlgorithmIdentifierOid,
                     CreateCertErrorParams2Der("oid", oid, "params", params));
  }
  return nullptr;
}

std::unique_ptr<SignatureAlgorithm> SignatureAlgorithm::CreateRsaPkcs1(
    DigestAlgorithm digest) {
  return std::make_unique<SignatureAlgorithm>(SignatureAlgorithmId::RSA_PKCS1,
                                              digest, nullptr);
}

bool SignatureAlgorithm::EncodingsAreEquivalent(
    const der::Input& algorithm_identifier1,
    const der::Input& algorithm_identifier2) {
  if (algorithm_identifier1 == algorithm_identifier2)
    return true;
  std::unique_ptr<SignatureAlgorithm> algorithm1 =
      Create(algorithm_identifier1, nullptr);
  std::unique_ptr<SignatureAlgorithm> algorithm2 =
      Create(algorithm_identifier2, nullptr);
  if (!algorithm1 || !algorithm2)
    return false;
  if (algorithm1->algorithm() != algorithm2->algorithm() ||
      algorithm1->digest() != algorithm2->digest()) {
    return false;
  }
  if (algorithm1->algorithm() != SignatureAlgorithmId::RSA_PSS)
    return true;
  const RsaPssParameters* params1 = algorithm1->ParamsForRsaPss();
  const RsaPssParameters* params2 = algorithm2->ParamsForRsaPss();
  return params1 && params2 &&
         params1->salt_length() == params2->salt_length() &&
         params1->mgf1_hash() == params2->mgf1_hash();
}

const RsaPssParameters* SignatureAlgorithm::ParamsForRsaPss() const {
  if (algorithm_ != SignatureAlgorithmId::RSA_PSS)
    return nullptr;
  return static_cast<const RsaPssParameters*>(params_.get());
}

bool ParseDigestAlgorithm(const der::Input& algorithm_identifier,
                          DigestAlgorithm* out) {
  CBS cbs;
  CBS_init(&cbs, algorithm_identifier.data(), algorithm_identifier.length());
  const EVP_MD* md = EVP_parse_digest_algorithm(&cbs);
  if (md == EVP_sha1()) {
    *out = DigestAlgorithm::SHA1;
  } else if (md == EVP_sha256()) {
    *out = DigestAlgorithm::SHA256;
  } else if (md == EVP_sha384()) {
    *out = DigestAlgorithm::SHA384;
  } else if (md == EVP_sha512()) {
    *out = DigestAlgorithm::SHA512;
  } else {
    return false;
  }
  return true;
}

std::unique_ptr<SignatureAlgorithm> ParseRsaPssParameters(
    const der::Input& params) {
  der::Parser parser(params);
  der::Parser sequence;
  if (!parser.ReadSequence(&sequence) || parser.HasMore())
    return nullptr;

  DigestAlgorithm hash = DigestAlgorithm::SHA1;
  DigestAlgorithm mgf1_hash = DigestAlgorithm::SHA1;
  uint32_t salt_length = 20;

  // hashAlgorithm [0]: one AlgorithmIdentifier and nothing after it. The
  // digest reader alone would stop after the first element and let any
  // bytes behind it through.
  std::optional<der::Input> field;
  if (!sequence.ReadOptionalElement(der::ContextSpecificConstructed(0), &field))
    return nullptr;
  if (field) {
    der::Input hash_algorithm;
    if (!ReadSingleElement(*field, &hash_algorithm) ||
        !ParseDigestAlgorithm(hash_algorithm, &hash)) {
      return nullptr;
    }
  }

  // maskGenAlgorithm [1]: MGF1 with its digest as the parameters.
  if (!sequence.ReadOptionalElement(der::ContextSpecificConstructed(1), &field))
    return nullptr;
  if (field) {
    der::Input oid;
    der::Input mgf_params;
    if (!ParseAlgorithmIdentifier(*field, &oid, &mgf_params) ||
        oid != der::Input(kOidMgf1) ||
        !ParseDigestAlgorithm(mgf_params, &mgf1_hash)) {
      return nullptr;
    }
  }

  // saltLength [2].
  if (!sequence.ReadOptionalElement(der::ContextSpecificConstructed(2), &field))
    return nullptr;
  if (field && !ReadSingleUint32(*field, &salt_length))
    return nullptr;

  // trailerField [3]: only trailerFieldBC (1) exists.
  if (!sequence.ReadOptionalElement(der::ContextSpecificConstructed(3), &field))
    return nullptr;
  if (field) {
    uint32_t trailer;
    if (!ReadSingleUint32(*field, &trailer) || trailer != 1)
      return nullptr;
  }

  if (sequence.HasMore())
    return nullptr;

  return std::make_unique<SignatureAlgorithm>(
      SignatureAlgorithmId::RSA_PSS, hash,
      std::make_unique<RsaPssParameters>(mgf1_hash, salt_length));
}

}  // namespace net
