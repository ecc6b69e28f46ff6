#ifndef AGENT_NET_CERT_INTERNAL_SIGNATURE_ALGORITHM_H_
#define AGENT_NET_CERT_INTERNAL_SIGNATURE_ALGORITHM_H_

#include <cstdint>
#include <memory>

#include "agent/net/cert/cert_error_id.h"
#include "agent/net/der/input.h"

namespace net {

class CertErrors;

enum class DigestAlgorithm : int32_t {
  MD2 = 0,
  MD4 = 1,
  MD5 = 2,
  SHA1 = 3,
  SHA256 = 4,
  SHA384 = 5,
  SHA512 = 6,
};

enum class SignatureAlgorithmId : int32_t {
  RSA_PKCS1 = 0,  // RSASSA-PKCS1-v1_5
  RSA_PSS = 1,    // RSASSA-PSS
  ECDSA = 2,
  DSA = 3,
};

// Parameters that some signature algorithms carry beyond their digest.
class SignatureAlgorithmParameters {
 public:
  SignatureAlgorithmParameters() = default;
  SignatureAlgorithmParameters(const SignatureAlgorithmParameters&) = delete;
  SignatureAlgorithmParameters& operator=(
      const SignatureAlgorithmParameters&) = delete;
  virtual ~SignatureAlgorithmParameters() = default;
};

// The RSASSA-PSS parameters besides the message digest.
class RsaPssParameters : public SignatureAlgorithmParameters {
 public:
  RsaPssParameters(DigestAlgorithm mgf1_hash, uint32_t salt_length);

  DigestAlgorithm mgf1_hash() const { return mgf1_hash_; }
  uint32_t salt_length() const { return salt_length_; }

 private:
  DigestAlgorithm mgf1_hash_;
  uint32_t salt_length_;
};

// A signature algorithm as an X.509 AlgorithmIdentifier names it: the
// scheme, its message digest and, for RSASSA-PSS only, its parameters.
// Immutable once made; owned by whoever parsed it.
class SignatureAlgorithm {
 public:
  // `params` is set for RSA_PSS only.
  SignatureAlgorithm(SignatureAlgorithmId algorithm,
                     DigestAlgorithm digest,
                     std::unique_ptr<SignatureAlgorithmParameters> params);
  SignatureAlgorithm(const SignatureAlgorithm&) = delete;
  SignatureAlgorithm& operator=(const SignatureAlgorithm&) = delete;
  ~SignatureAlgorithm();

  // Parses a DER AlgorithmIdentifier (the whole TLV). Returns null when it
  // is malformed, its parameters do not suit the algorithm, or the
  // algorithm is unknown; only the last adds an entry to `errors` (which
  // may be null): "Unknown AlgorithmIdentifier OID" with the OID and the
  // parameters.
  static std::unique_ptr<SignatureAlgorithm> Create(
      const der::Input& algorithm_identifier,
      CertErrors* errors);

  static std::unique_ptr<SignatureAlgorithm> CreateRsaPkcs1(
      DigestAlgorithm digest);

  // Whether two DER AlgorithmIdentifiers name the same algorithm: equal
  // bytes, or both parse to the same scheme and digest (and, for
  // RSASSA-PSS, the same MGF1 digest and salt length).
  static bool EncodingsAreEquivalent(const der::Input& algorithm_identifier1,
                                     const der::Input& algorithm_identifier2);

  SignatureAlgorithmId algorithm() const { return algorithm_; }
  DigestAlgorithm digest() const { return digest_; }

  // The parameters when the algorithm is RSASSA-PSS, else null.
  const RsaPssParameters* ParamsForRsaPss() const;

 private:
  SignatureAlgorithmId algorithm_;
  DigestAlgorithm digest_;
  std::unique_ptr<SignatureAlgorithmParameters> params_;
};

// Reads a DER AlgorithmIdentifier naming SHA-1, SHA-256, SHA-384 or SHA-512
// from the start of `algorithm_identifier`. Bytes after it are not looked
// at.
[[nodiscard]] bool ParseDigestAlgorithm(const der::Input& algorithm_identifier,
                                        DigestAlgorithm* out);

// Parses RSASSA-PSS-params (the whole SEQUENCE TLV). Absent fields take
// their defaults: SHA-1, MGF1 with SHA-1, a 20-byte salt, trailer 1.
std::unique_ptr<SignatureAlgorithm> ParseRsaPssParameters(
    const der::Input& params);

// The id of the error that Create adds for an OID it does not know.
extern const char kUnknownAlgorithmIdentifierOid[];

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_SIGNATURE_ALGORITHM_H_
