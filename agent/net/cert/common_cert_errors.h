#ifndef AGENT_NET_CERT_COMMON_CERT_ERRORS_H_
#define AGENT_NET_CERT_COMMON_CERT_ERRORS_H_

#include "agent/net/cert/cert_error_id.h"

// Error ids that more than one part of the certificate library emits or
// looks for. Each is its own object, so it is told apart from any other id
// by address even where the texts agree. Ids used at a single place are
// defined beside that place instead.
namespace net::cert_errors {

extern const char kValidityFailedNotAfter[];
extern const char kValidityFailedNotBefore[];
extern const char kDistrustedByTrustStore[];
extern const char kSignatureAlgorithmMismatch[];
extern const char kChainIsEmpty[];
extern const char kChainIsLength1[];
extern const char kUnconsumedCriticalExtension[];
extern const char kTargetCertShouldNotBeCa[];
extern const char kKeyCertSignBitNotSet[];
extern const char kMaxPathLengthViolated[];
extern const char kBasicConstraintsIndicatesNotCa[];
extern const char kMissingBasicConstraints[];
extern const char kNotPermittedByNameConstraints[];
extern const char kTooManyNameConstraintChecks[];
extern const char kSubjectDoesNotMatchIssuer[];
extern const char kVerifySignedDataFailed[];
extern const char kSignatureAlgorithmsDifferentEncoding[];
extern const char kEkuLacksServerAuth[];
extern const char kEkuLacksServerAuthButHasGatedCrypto[];
extern const char kEkuLacksClientAuth[];
extern const char kCertIsNotTrustAnchor[];
extern const char kNoValidPolicy[];
extern const char kPolicyMappingAnyPolicy[];
extern const char kFailedParsingSpki[];
extern const char kUnacceptableSignatureAlgorithm[];
extern const char kUnacceptablePublicKey[];
extern const char kFailedParsingGeneralName[];

}  // namespace net::cert_errors

#endif  // AGENT_NET_CERT_COMMON_CERT_ERRORS_H_
