#ifndef AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_CERT_VALIDATOR_H_
#define AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_CERT_VALIDATOR_H_

// The device-certificate validator: decides whether a device certificate
// chain is acceptable for client authentication. It parses the chain,
// builds and verifies a path from the device certificate to a trust anchor
// (by default one of the two built-in roots), checks that the device
// certificate can sign and names a commonName, reports whether the path
// carries the audio-only device policy, optionally asks a revocation object,
// and on success hands back a verification context for the device key.
//
// Threads: any thread may call. Verifications against the built-in roots run
// one at a time under one process-wide lock; with a caller's trust store no
// lock is taken (the caller keeps its store unchanged during the call).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/time/time.h"
#include "agent/components/kelm_certificate/cert_verification_context.h"
#include "agent/net/cert/internal/parsed_certificate.h"

namespace net {
class TrustStore;
}  // namespace net

namespace kelm_certificate {

// The outcome of a verification; the first failing step decides.
enum KelmCertError : int32_t {
  // Chain verified, device certificate usable, not revoked.
  OK = 0,
  // The certificate list is empty.
  ERR_CERTS_MISSING = 1,
  // A certificate of the list does not parse.
  ERR_CERTS_PARSE = 2,
  // The device certificate lacks keyUsage digitalSignature or a usable
  // subject commonName.
  ERR_CERTS_RESTRICTIONS = 3,
  // No valid path, and the best path failed on a validity date.
  ERR_CERTS_DATE_INVALID = 4,
  // No valid path for any other reason, or no candidate path at all.
  ERR_CERTS_VERIFY_GENERIC = 5,
  // The CRL policy requires a revocation object and none was given.
  ERR_CRL_INVALID = 6,
  // The revocation object rejected the verified path.
  ERR_CERTS_REVOKED = 7,
  // The verification time cannot be written as a GeneralizedTime.
  ERR_UNEXPECTED = 8,
};

// "KelmCertError::" and the enumerator's name for codes 0 to 8;
// "KelmCertError::UNKNOWN" for any other value, negative ones included.
std::string KelmCertErrorToString(int32_t error);

// What the verified path says about the device.
enum DeviceCertPolicy : int32_t {
  NONE = 0,
  // A certificate of the path lists the audio-only device policy.
  AUDIO_ONLY = 1,
};

// Whether a revocation object must be given.
enum CrlPolicy : int32_t {
  CRL_OPTIONAL = 0,
  CRL_REQUIRED = 1,
};

// The audio-only device policy OID (DER content bytes,
// 1.3.6.1.4.1.9999.5.1.1).
inline constexpr uint8_t kAudioOnlyPolicyOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                  0xCE, 0x0F, 0x05, 0x01, 0x01};

// A caller's revocation check, asked once per verification that got as far
// as a usable device certificate.
class Crl {
 public:
  virtual ~Crl() = default;

  // Whether the verified `path` (device certificate first, trust anchor
  // last) is acceptable at `time`, that is, not revoked. Runs on the
  // validator's calling thread. When the verification runs against the
  // built-in roots, the validator holds its process-wide lock during this
  // call: calling back into the validator with the built-in roots from here
  // would deadlock and is a fatal CHECK instead.
  virtual bool CheckRevocation(const net::ParsedCertificateList& path,
                               const kelmbase::Time& time) = 0;
};

// Verifies `certs` (DER; the device certificate first, then intermediates in
// any order) at `time` against the built-in roots. On success, and also when
// only the revocation check fails, `*context` is replaced by a context for
// the device certificate. `*policy` is set once a valid path is found, even
// if a later check fails. `crl` may be null unless `crl_policy` is
// CRL_REQUIRED.
KelmCertError VerifyDeviceCertificate(const std::vector<std::string>& certs,
                                      const kelmbase::Time& time,
                                      std::unique_ptr<CertVerificationContext>* context,
                                      DeviceCertPolicy* policy,
                                      Crl* crl,
                                      CrlPolicy crl_policy);

// The same against `trust_store`; a null store means the built-in roots
// (and their lock).
KelmCertError VerifyDeviceCertificateWithTrustStore(
    const std::vector<std::string>& certs,
    const kelmbase::Time& time,
    std::unique_ptr<CertVerificationContext>* context,
    DeviceCertPolicy* policy,
    Crl* crl,
    CrlPolicy crl_policy,
    net::TrustStore* trust_store);

// The most candidate issuers a verification asks for before it gives up:
// a chain of intermediates that share one subject and issuer would
// otherwise send the search through a factorial number of paths.
inline constexpr uint32_t kDefaultMaxPathBuilderIterations = 100000;

// How far the path search of one verification may go. Tests change these;
// every other caller uses the defaults.
struct PathSearchLimits {
  // 0 means no limit.
  uint32_t max_iterations = kDefaultMaxPathBuilderIterations;
  // A null time means none.
  kelmbase::MonotonicTime deadline;
  // Whether the search goes on after the first valid path.
  bool explore_all_paths = false;
};

// How the path search of one verification ended.
struct PathSearchReport {
  bool exceeded_iteration_limit = false;
  bool exceeded_deadline = false;
  size_t paths_tried = 0;
};

// VerifyDeviceCertificateWithTrustStore under `limits`; when `report` is not
// null it receives how the search ended (left untouched when verification
// ends before the search).
KelmCertError VerifyDeviceCertificateWithLimits(
    const std::vector<std::string>& certs,
    const kelmbase::Time& time,
    std::unique_ptr<CertVerificationContext>* context,
    DeviceCertPolicy* policy,
    Crl* crl,
    CrlPolicy crl_policy,
    net::TrustStore* trust_store,
    const PathSearchLimits& limits,
    PathSearchReport* report);

}  // namespace kelm_certificate

#endif  // AGENT_COMPONENTS_KELM_CERTIFICATE_KELM_CERT_VALIDATOR_H_
