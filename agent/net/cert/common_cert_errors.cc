#include "agent/net/cert/common_cert_errors.h"

namespace net::cert_errors {

const char kValidityFailedNotAfter[] = "Time is after notAfter";
const char kValidityFailedNotBefore[] = "Time is before notBefore";
const char kDistrustedByTrustStore[] = "Distrusted by trust store";
const char kSignatureAlgorithmMismatch[] =
    "Certificate.signatureAlgorithm != TBSCertificate.signature";
const char kChainIsEmpty[] = "Chain is empty";
const char kChainIsLength1[] = "Cannot verify a chain of length 1";
const char kUnconsumedCriticalExtension[] = "Unconsumed critical extension";
const char kTargetCertShouldNotBeCa[] =
    "Target certificate looks like a CA but does not set all CA properties";
const char kKeyCertSignBitNotSet[] = "keyCertSign bit is not set";
const char kMaxPathLengthViolated[] = "max_path_length reached";
const char kBasicConstraintsIndicatesNotCa[] =
    "Basic Constraints indicates not a CA";
const char kMissingBasicConstraints[] = "Does not have Basic Constraints";
const char kNotPermittedByNameConstraints[] =
    "Not permitted by name constraints";
const char kTooManyNameConstraintChecks[] = "Too many name constraints checks";
const char kSubjectDoesNotMatchIssuer[] = "subject does not match issuer";
const char kVerifySignedDataFailed[] = "VerifySignedData failed";
const char kSignatureAlgorithmsDifferentEncoding[] =
    "Certificate.signatureAlgorithm is encoded differently than TBSCertificate.signature";
const char kEkuLacksServerAuth[] =
    "The extended key usage does not include server auth";
const char kEkuLacksServerAuthButHasGatedCrypto[] =
    "The extended key usage does not include server auth but instead includes Netscape Server Gated Crypto";
const char kEkuLacksClientAuth[] =
    "The extended key usage does not include client auth";
const char kCertIsNotTrustAnchor[] = "Certificate is not a trust anchor";
const char kNoValidPolicy[] = "No valid policy";
const char kPolicyMappingAnyPolicy[] = "PolicyMappings must not map anyPolicy";
const char kFailedParsingSpki[] = "Couldn't parse SubjectPublicKeyInfo";
const char kUnacceptableSignatureAlgorithm[] =
    "Unacceptable signature algorithm";
const char kUnacceptablePublicKey[] = "Unacceptable public key";
const char kFailedParsingGeneralName[] = "Failed parsing GeneralName";

}  // namespace net::cert_errors
