#include "agent/components/kelm_certificate/kelm_cert_validator.h"

#include <openssl/pool.h>

#include <algorithm>
#include <set>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/functional/callback.h"
#include "agent/base/memory/lazy_singleton.h"
#include "agent/base/synchronization/lock.h"
#include "agent/components/kelm_certificate/kelm_path_builder_delegate.h"
#include "agent/components/kelm_certificate/kelm_root_certs.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/common_cert_errors.h"
#include "agent/net/cert/internal/cert_issuer_source_static.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/parse_name.h"
#include "agent/net/cert/internal/path_builder.h"
#include "agent/net/cert/internal/trust_store_in_memory.h"
#include "agent/net/cert/x509_util.h"
#include "agent/net/der/generalized_time.h"
#include "agent/net/der/input.h"
#include "logging/check.h"

namespace kelm_certificate {

KelmPathBuilderDelegate::~KelmPathBuilderDelegate() = default;

namespace {

// The built-in roots and the lock that serialises every verification
// against them. Made on first use, never destroyed.
class BuiltInTrustStore {
 public:
  BuiltInTrustStore() {
    AddRoot(kRootCert1);
    AddRoot(kRootCert2);
  }

  kelmbase::Lock& lock() { return lock_; }
  net::TrustStoreInMemory* store() { return &store_; }

  // Whether the calling thread is inside a verification that holds the
  // lock; the lock is not recursive, so a second acquisition there would
  // never return.
  static bool& HeldByThisThread() {
    static thread_local bool held = false;
    return held;
  }

 private:
  void AddRoot(const RootCert& root) {
    net::CertErrors errors;
    scoped_refptr<net::ParsedCertificate> cert =
        net::ParsedCertificate::CreateFromStaticBytes(
            root.der, root.length, net::ParseCertificateOptions(), &errors);
    CHECK(cert) << errors.ToDebugString();
    kelmbase::ScopedLock hold(lock_);
    store_.AddConstrainedTrustAnchor(std::move(cert));
  }

  kelmbase::Lock lock_;
  net::TrustStoreInMemory store_;
};

kelmbase::LazySingleton<BuiltInTrustStore> g_built_in_trust_store;

// The first commonName of the subject, walking the RDNs and their
// attributes in order; false when the subject does not parse, names no
// commonName, or the first one does not convert to text.
bool GetCommonName(const net::ParsedCertificate& cert,
                   std::string* common_name) {
  net::RDNSequence subject;
  if (!net::ParseName(cert.tbs().subject_tlv, &subject))
    return false;
  for (const net::RelativeDistinguishedName& rdn : subject) {
    for (const net::X509NameAttribute& attribute : rdn) {
      if (attribute.type == net::TypeCommonNameOid())
        return attribute.ValueAsString(common_name);
    }
  }
  return false;
}

bool PathHasAudioOnlyPolicy(const net::ParsedCertificateList& path) {
  const net::der::Input audio_only(kAudioOnlyPolicyOid);
  for (const scoped_refptr<net::ParsedCertificate>& cert : path) {
    if (!cert->has_policy_oids())
      continue;
    const std::vector<net::der::Input>& oids = cert->policy_oids();
    if (std::find(oids.begin(), oids.end(), audio_only) != oids.end())
      return true;
  }
  return false;
}

// digitalSignature is bit 0 of keyUsage.
bool CanSign(const net::ParsedCertificate& cert) {
  return cert.has_key_usage() && cert.key_usage().IsBitSet(0);
}

// The whole decision against `trust_store`, which is not null.
KelmCertError VerifyAgainst(const std::vector<std::string>& certs,
                            const kelmbase::Time& time,
                            std::unique_ptr<CertVerificationContext>* context,
                            DeviceCertPolicy* policy,
                            Crl* crl,
                            CrlPolicy crl_policy,
                            net::TrustStore* trust_store,
                            const PathSearchLimits& limits,
                            PathSearchReport* report) {
  if (certs.empty())
    return ERR_CERTS_MISSING;
  if (!crl && crl_policy == CRL_REQUIRED)
    return ERR_CRL_INVALID;

  // Serial-number defects are only warnings; nobody reads the list.
  net::CertErrors parse_errors;
  net::ParseCertificateOptions options;
  options.allow_invalid_serial_numbers = true;
  scoped_refptr<net::ParsedCertificate> target;
  net::CertIssuerSourceStatic intermediates;
  for (const std::string& der : certs) {
    scoped_refptr<net::ParsedCertificate> cert = net::ParsedCertificate::Create(
        net::CreateCertBuffer(der.data(), der.size()), options, &parse_errors);
    if (!cert)
      return ERR_CERTS_PARSE;
    if (!target)
      target = std::move(cert);
    else
      intermediates.AddCert(std::move(cert));
  }

  KelmPathBuilderDelegate delegate;
  net::der::GeneralizedTime verification_time;
  if (!net::der::TimeToGeneralizedTime(time, &verification_time))
    return ERR_UNEXPECTED;

  const std::set<net::der::Input> user_initial_policy_set = {
      net::AnyPolicy()};
  net::CertPathBuilder builder(
      target, trust_store, &delegate, verification_time,
      net::KeyPurpose::CLIENT_AUTH, net::InitialExplicitPolicy::kFalse,
      user_initial_policy_set, net::InitialPolicyMappingInhibit::kFalse,
      net::InitialAnyPolicyInhibit::kFalse);
  builder.AddIssuerSource(&intermediates);
  builder.SetIterationLimit(limits.max_iterations);
  builder.SetDeadline(limits.deadline);
  builder.SetExploreAllPaths(limits.explore_all_paths);
  const net::CertPathBuilder::Result result = builder.Run();
  if (report) {
    report->exceeded_iteration_limit = result.exceeded_iteration_limit;
    report->exceeded_deadline = result.exceeded_deadline;
    report->paths_tried = result.paths.size();
  }

  const net::CertPathBuilderResultPath* path = result.BestValidPath();
  if (!path) {
    if (result.paths.empty())
      return ERR_CERTS_VERIFY_GENERIC;
    const net::CertPathErrors& errors =
        result.paths[result.best_result_index]->errors;
    if (errors.ContainsError(net::cert_errors::kValidityFailedNotAfter) ||
        errors.ContainsError(net::cert_errors::kValidityFailedNotBefore)) {
      return ERR_CERTS_DATE_INVALID;
    }
    return ERR_CERTS_VERIFY_GENERIC;
  }

  // Reported even when the device certificate then fails its own checks.
  *policy = PathHasAudioOnlyPolicy(path->certs) ? AUDIO_ONLY : NONE;

  std::string common_name;
  if (!CanSign(*target) || !GetCommonName(*target, &common_name))
    return ERR_CERTS_RESTRICTIONS;

  *context = std::make_unique<CertVerificationContextImpl>(
      target->tbs().spki_tlv.AsString(), std::move(common_name));

  if (crl && !crl->CheckRevocation(path->certs, time))
    return ERR_CERTS_REVOKED;
  return OK;
}

// VerifyAgainst with the built-in roots, under their lock.
KelmCertError VerifyAgainstBuiltInRoots(
    const std::vector<std::string>& certs,
    const kelmbase::Time& time,
    std::unique_ptr<CertVerificationContext>* context,
    DeviceCertPolicy* policy,
    Crl* crl,
    CrlPolicy crl_policy,
    const PathSearchLimits& limits,
    PathSearchReport* report) {
  // A revocation object that calls back in would wait for itself forever.
  bool& held = BuiltInTrustStore::HeldByThisThread();
  CHECK(!held) << "the validator was called back while verifying against "
                  "the built-in roots on this thread";

  KelmCertError error = ERR_UNEXPECTED;
  kelmbase::OneShotCallback<void(net::TrustStore*)> verify =
      kelmbase::BindOneShot(
          [](std::vector<std::string> certs, kelmbase::Time time,
             std::unique_ptr<CertVerificationContext>* context,
             DeviceCertPolicy* policy, Crl* crl, CrlPolicy crl_policy,
             PathSearchLimits limits, PathSearchReport* report,
             KelmCertError* error, net::TrustStore* store) {
            *error = VerifyAgainst(certs, time, context, policy, crl,
                                   crl_policy, store, limits, report);
          },
          certs, time, context, policy, crl, crl_policy, limits, report,
          &error);

  BuiltInTrustStore* built_in = g_built_in_trust_store.Pointer();
  kelmbase::ScopedLock hold(built_in->lock());
  held = true;
  std::move(verify).Run(built_in->store());
  held = false;
  return error;
}

}  // namespace

std::string KelmCertErrorToString(int32_t error) {
  static constexpr const char* kNames[] = {
      "KelmCertError::OK",
      "KelmCertError::ERR_CERTS_MISSING",
      "KelmCertError::ERR_CERTS_PARSE",
      "KelmCertError::ERR_CERTS_RESTRICTIONS",
      "KelmCertError::ERR_CERTS_DATE_INVALID",
      "KelmCertError::ERR_CERTS_VERIFY_GENERIC",
      "KelmCertError::ERR_CRL_INVALID",
      "KelmCertError::ERR_CERTS_REVOKED",
      "KelmCertError::ERR_UNEXPECTED",
  };
  // Unsigned, so negative codes land past the end.
  const uint32_t index = static_cast<uint32_t>(error);
  if (index >= std::size(kNames))
    return "KelmCertError::UNKNOWN";
  return kNames[index];
}

KelmCertError VerifyDeviceCertificate(
    const std::vector<std::string>& certs,
    const kelmbase::Time& time,
    std::unique_ptr<CertVerificationContext>* context,
    DeviceCertPolicy* policy,
    Crl* crl,
    CrlPolicy crl_policy) {
  return VerifyDeviceCertificateWithLimits(certs, time, context, policy, crl,
                                           crl_policy, nullptr,
                                           PathSearchLimits(), nullptr);
}

KelmCertError VerifyDeviceCertificateWithTrustStore(
    const std::vector<std::string>& certs,
    const kelmbase::Time& time,
    std::unique_ptr<CertVerificationContext>* context,
    DeviceCertPolicy* policy,
    Crl* crl,
    CrlPolicy crl_policy,
    net::TrustStore* trust_store) {
  return VerifyDeviceCertificateWithLimits(certs, time, context, policy, crl,
                                           crl_policy, trust_store,
                                           PathSearchLimits(), nullptr);
}

KelmCertError VerifyDeviceCertificateWithLimits(
    const std::vector<std::string>& certs,
    const kelmbase::Time& time,
    std::unique_ptr<CertVerificationContext>* context,
    DeviceCertPolicy* policy,
    Crl* crl,
    CrlPolicy crl_policy,
    net::TrustStore* trust_store,
    const PathSearchLimits& limits,
    PathSearchReport* report) {
  if (!trust_store) {
    return VerifyAgainstBuiltInRoots(certs, time, context, policy, crl,
                                     crl_policy, limits, report);
  }
  return VerifyAgainst(certs, time, context, policy, crl, crl_policy,
                       trust_store, limits, report);
}

}  // namespace kelm_certificate
