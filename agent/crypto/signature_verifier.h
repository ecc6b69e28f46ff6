#ifndef AGENT_CRYPTO_SIGNATURE_VERIFIER_H_
#define AGENT_CRYPTO_SIGNATURE_VERIFIER_H_

#include <openssl/base.h>

#include <cstdint>
#include <vector>

#include "agent/base/containers/span.h"

namespace crypto {

// Verifies one signature over data fed in pieces:
//   SignatureVerifier verifier;
//   if (verifier.VerifyInit(algorithm, signature, spki)) {
//     verifier.VerifyUpdate(part1);
//     verifier.VerifyUpdate(part2);
//     ok = verifier.VerifyFinal();
//   }
// VerifyFinal ends the verification; the verifier may then be initialised
// again. A second VerifyInit before VerifyFinal fails and leaves the first
// in place; so does a VerifyInit after one that failed, until VerifyFinal.
// After a failed VerifyInit, VerifyUpdate does nothing and VerifyFinal
// returns false.
//
// A verifier belongs to one thread at a time.
class SignatureVerifier {
 public:
  // Fixed underlying type: callers may pass numbers outside the list, which
  // VerifyInit refuses.
  enum SignatureAlgorithm : int {
    RSA_PKCS1_SHA1 = 0,
    RSA_PKCS1_SHA256 = 1,
    ECDSA_SHA256 = 2,
    // MGF1 with SHA-256 and a salt as long as the digest.
    RSA_PSS_SHA256 = 3,
  };

  SignatureVerifier();
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;
  ~SignatureVerifier();

  // Starts verifying `signature` made with `algorithm` by the key of the
  // DER SubjectPublicKeyInfo `public_key_info`, which must hold nothing
  // after the key and be of the algorithm's key type. The signature is
  // copied; `public_key_info` need not outlive the call.
  [[nodiscard]] bool VerifyInit(SignatureAlgorithm algorithm,
                                kelmbase::span<const uint8_t> signature,
                                kelmbase::span<const uint8_t> public_key_info);

  // Feeds the next piece of the signed data.
  void VerifyUpdate(kelmbase::span<const uint8_t> data_part);

  // Whether the signature matches the data fed. Ends the verification.
  [[nodiscard]] bool VerifyFinal();

 private:
  // Frees the context and the signature copy.
  void Reset();

  std::vector<uint8_t> signature_;
  // Set from VerifyInit to VerifyFinal; null while nothing is under way.
  EVP_MD_CTX* verify_context_ = nullptr;
  // Whether the digest context was set up for verifying. A context that
  // VerifyInit left unfinished must not be fed or finished: BoringSSL
  // would use a digest that was never chosen.
  bool verify_context_ready_ = false;
};

}  // namespace crypto

#endif  // AGENT_CRYPTO_SIGNATURE_VERIFIER_H_
