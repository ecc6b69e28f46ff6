#ifndef AGENT_NET_CERT_INTERNAL_VERIFY_CERTIFICATE_CHAIN_H_
#define AGENT_NET_CERT_INTERNAL_VERIFY_CERTIFICATE_CHAIN_H_

// Basic path validation (RFC 5280 section 6.1) of one candidate path, target
// first and trust anchor last. Everything it finds is recorded in the
// path's error lists; it returns nothing.
//
// Where this verifier settles what the standard leaves open or departs from
// it on purpose:
// - The last certificate is the trust anchor, and its trust decides how much
//   of it is examined: TRUSTED_ANCHOR contributes only its key and subject;
//   TRUSTED_ANCHOR_WITH_CONSTRAINTS also applies its extended key usage,
//   name constraints, path length and critical extensions, but never its
//   validity dates. Any other trust ends verification.
// - The key purpose is checked on every certificate that carries an
//   extended key usage, intermediates included.
// - Only the current level of the valid policy tree is held.
// - Names chain by their normalized form (ASCII case folding and whitespace
//   only).
// Processing stops at once at an anchor that is not trusted, at a signature
// that does not verify and at an inconsistent or refused signature
// algorithm; everything else is recorded and processing goes on.
//
// No shared state; any thread may verify, with a delegate that thread may
// use.

#include <openssl/base.h>

#include <set>

#include "agent/net/cert/internal/parsed_certificate.h"
#include "agent/net/cert/internal/trust_store.h"
#include "agent/net/der/generalized_time.h"
#include "agent/net/der/input.h"

namespace net {

class CertErrors;
class CertPathErrors;
class VerifyCertificateChainDelegate;

// The purpose the target's key must be good for.
enum class KeyPurpose : int {
  ANY_EKU = 0,
  SERVER_AUTH = 1,
  CLIENT_AUTH = 2,
};

// RFC 5280 6.1.1 inputs: whether the path must be valid for at least one
// policy, whether policy mapping is inhibited, and whether anyPolicy is
// inhibited, from the start.
enum class InitialExplicitPolicy : int { kFalse = 0, kTrue = 1 };
enum class InitialPolicyMappingInhibit : int { kFalse = 0, kTrue = 1 };
enum class InitialAnyPolicyInhibit : int { kFalse = 0, kTrue = 1 };

// A node of the valid policy tree's current level.
struct ValidPolicyNode {
  ValidPolicyNode();
  ValidPolicyNode(const ValidPolicyNode&);
  ValidPolicyNode& operator=(const ValidPolicyNode&);
  ~ValidPolicyNode();

  // The policy of the user's initial set this node descends from.
  der::Input root_policy;
  der::Input valid_policy;
  std::set<der::Input> expected_policy_set;
};

// Verifies `certs` (target first, trust anchor last) at `time` for
// `required_key_purpose`. `last_cert_trust` is the trust store's verdict on
// the last certificate. Errors go to `errors`, indexed by position in the
// path (0 is the target); a path with no error-severity entry is valid.
// When nothing stopped verification and `user_constrained_policy_set` is
// given, it receives the authorities-constrained policies of the user's
// initial set that the path is valid for ({anyPolicy} stands for all).
void VerifyCertificateChain(
    const ParsedCertificateList& certs,
    const CertificateTrust& last_cert_trust,
    VerifyCertificateChainDelegate* delegate,
    const der::GeneralizedTime& time,
    KeyPurpose required_key_purpose,
    InitialExplicitPolicy initial_explicit_policy,
    const std::set<der::Input>& user_initial_policy_set,
    InitialPolicyMappingInhibit initial_policy_mapping_inhibit,
    InitialAnyPolicyInhibit initial_any_policy_inhibit,
    std::set<der::Input>* user_constrained_policy_set,
    CertPathErrors* errors);

// Whether the certificate's normalized subject and issuer are equal.
bool IsSelfIssued(const ParsedCertificate& cert);

// Records an error when `cert` has an extended key usage that does not
// allow `required_key_purpose` (anyExtendedKeyUsage allows every purpose).
// A CA certificate signed with RSA PKCS#1 SHA-1 that lists Netscape Server
// Gated Crypto instead of server auth is still accepted for server auth,
// with a warning.
void VerifyExtendedKeyUsage(const ParsedCertificate& cert,
                            KeyPurpose required_key_purpose,
                            CertErrors* errors);

// Records "Unconsumed critical extension" for every critical extension that
// verification does not process. A critical certificatePolicies counts as
// processed only if it parses with unknown qualifiers refused.
void VerifyNoUnconsumedCriticalExtensions(const ParsedCertificate& cert,
                                          CertErrors* errors);

// Parses a SubjectPublicKeyInfo and asks `delegate` about the key. Null when
// it does not parse; a key the delegate refuses is recorded and still
// returned.
bssl::UniquePtr<EVP_PKEY> ParseAndCheckPublicKey(
    const der::Input& spki,
    VerifyCertificateChainDelegate* delegate,
    CertErrors* errors);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_VERIFY_CERTIFICATE_CHAIN_H_
