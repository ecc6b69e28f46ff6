#include "agent/net/cert/internal/verify_certificate_chain.h"

#include <openssl/evp.h>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "agent/net/cert/cert_error_params.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/common_cert_errors.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/extended_key_usage.h"
#include "agent/net/cert/internal/name_constraints.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/cert/internal/verify_certificate_chain_delegate.h"
#include "agent/net/cert/internal/verify_signed_data.h"

namespace net {

namespace {

bool IsAnyPolicy(const der::Input& policy) { return policy == AnyPolicy(); }

// RFC 5280 6.1.3 (d): a child takes its parent's root policy, except under
// a parent that descends from anyPolicy, where the child's own policy is
// the one it stands for.
der::Input ChildRootPolicy(const ValidPolicyNode& parent,
                           const der::Input& child_valid_policy) {
  return IsAnyPolicy(parent.root_policy) ? child_valid_policy
                                         : parent.root_policy;
}

ValidPolicyNode MakeChild(const ValidPolicyNode& parent,
                          const der::Input& valid_policy,
                          std::set<der::Input> expected_policy_set) {
  ValidPolicyNode child;
  child.root_policy = ChildRootPolicy(parent, valid_policy);
  child.valid_policy = valid_policy;
  child.expected_policy_set = std::move(expected_policy_set);
  return child;
}

// The index of the first node whose valid policy is anyPolicy.
std::optional<size_t> FindAnyPolicyNode(
    const std::vector<ValidPolicyNode>& level) {
  for (size_t i = 0; i < level.size(); ++i) {
    if (IsAnyPolicy(level[i].valid_policy))
      return i;
  }
  return std::nullopt;
}

class PathVerifier {
 public:
  PathVerifier(VerifyCertificateChainDelegate* delegate,
               const der::GeneralizedTime& time,
               KeyPurpose required_key_purpose)
      : delegate_(delegate),
        time_(time),
        required_key_purpose_(required_key_purpose) {}

  void Run(const ParsedCertificateList& certs,
           const CertificateTrust& last_cert_trust,
           InitialExplicitPolicy initial_explicit_policy,
           const std::set<der::Input>& user_initial_policy_set,
           InitialPolicyMappingInhibit initial_policy_mapping_inhibit,
           InitialAnyPolicyInhibit initial_any_policy_inhibit,
           std::set<der::Input>* user_constrained_policy_set,
           CertPathErrors* errors);

 private:
  // Each returns false when verification must stop.
  bool ProcessTrustAnchor(const ParsedCertificate& cert,
                          const CertificateTrust& trust,
                          CertErrors* errors);
  bool VerifySignatureAndAlgorithms(const ParsedCertificate& cert,
                                    CertErrors* errors);
  void BasicCertificateProcessing(const ParsedCertificate& cert,
                                  bool is_target,
                                  CertErrors* errors);
  void ProcessPolicies(const ParsedCertificate& cert, bool is_target);
  void ApplyPolicyMappings(const ParsedCertificate& cert, CertErrors* errors);
  void PrepareForNextCertificate(const ParsedCertificate& cert,
                                 CertErrors* errors);
  void WrapUp(const ParsedCertificate& cert, CertErrors* errors);
  void AddNameConstraints(const ParsedCertificate& cert);

  VerifyCertificateChainDelegate* const delegate_;
  const der::GeneralizedTime time_;
  const KeyPurpose required_key_purpose_;

  // RFC 5280 6.1.2 state.
  size_t explicit_policy_ = 0;
  size_t inhibit_any_policy_ = 0;
  size_t policy_mapping_ = 0;
  size_t max_path_length_ = 0;
  bssl::UniquePtr<EVP_PKEY> working_public_key_;
  der::Input working_normalized_name_;
  std::vector<const NameConstraints*> name_constraints_list_;
  // The deepest level of the valid policy tree; empty is the null tree.
  std::vector<ValidPolicyNode> policy_level_;
};

void PathVerifier::Run(
    const ParsedCertificateList& certs,
    const CertificateTrust& last_cert_trust,
    InitialExplicitPolicy initial_explicit_policy,
    const std::set<der::Input>& user_initial_policy_set,
    InitialPolicyMappingInhibit initial_policy_mapping_inhibit,
    InitialAnyPolicyInhibit initial_any_policy_inhibit,
    std::set<der::Input>* user_constrained_policy_set,
    CertPathErrors* errors) {
  if (certs.empty()) {
    errors->GetOtherErrors()->AddError(cert_errors::kChainIsEmpty);
    return;
  }
  if (certs.size() == 1) {
    errors->GetOtherErrors()->AddError(cert_errors::kChainIsLength1);
    return;
  }

  const size_t n = certs.size();
  for (const der::Input& policy : user_initial_policy_set) {
    ValidPolicyNode node;
    node.root_policy = policy;
    node.valid_policy = policy;
    node.expected_policy_set.insert(policy);
    policy_level_.push_back(std::move(node));
  }
  explicit_policy_ =
      initial_explicit_policy == InitialExplicitPolicy::kTrue ? 0 : n;
  inhibit_any_policy_ =
      initial_any_policy_inhibit == InitialAnyPolicyInhibit::kTrue ? 0 : n;
  policy_mapping_ =
      initial_policy_mapping_inhibit == InitialPolicyMappingInhibit::kTrue ? 0
                                                                           : n;
  // The anchor is part of the list, so the standard's n is one less.
  max_path_length_ = n - 1;

  if (!ProcessTrustAnchor(*certs[n - 1], last_cert_trust,
                          errors->GetErrorsForCert(n - 1))) {
    return;
  }

  for (size_t i = n - 1; i-- > 0;) {
    const ParsedCertificate& cert = *certs[i];
    CertErrors* cert_errors = errors->GetErrorsForCert(i);
    const bool is_target = i == 0;

    if (!VerifySignatureAndAlgorithms(cert, cert_errors))
      return;
    BasicCertificateProcessing(cert, is_target, cert_errors);
    if (is_target)
      WrapUp(cert, cert_errors);
    else
      PrepareForNextCertificate(cert, cert_errors);
  }

  if (user_constrained_policy_set) {
    user_constrained_policy_set->clear();
    for (const ValidPolicyNode& node : policy_level_)
      user_constrained_policy_set->insert(node.root_policy);
    if (user_constrained_policy_set->size() > 1 &&
        user_constrained_policy_set->count(AnyPolicy()) != 0) {
      *user_constrained_policy_set = {AnyPolicy()};
    }
  }
}

bool PathVerifier::ProcessTrustAnchor(const ParsedCertificate& cert,
                                      const CertificateTrust& trust,
                                      CertErrors* errors) {
  switch (trust.type) {
    case CertificateTrustType::DISTRUSTED:
      errors->AddError(cert_errors::kDistrustedByTrustStore);
      return false;
    case CertificateTrustType::UNSPECIFIED:
      errors->AddError(cert_errors::kCertIsNotTrustAnchor);
      return false;
    case CertificateTrustType::TRUSTED_ANCHOR:
      break;
    case CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS:
      // The anchor's validity is deliberately not checked.
      VerifyExtendedKeyUsage(cert, required_key_purpose_, errors);
      AddNameConstraints(cert);
      if (cert.has_basic_constraints() &&
          cert.basic_constraints().has_path_len) {
        max_path_length_ = cert.basic_constraints().path_len;
      }
      VerifyNoUnconsumedCriticalExtensions(cert, errors);
      break;
  }
  working_public_key_ =
      ParseAndCheckPublicKey(cert.tbs().spki_tlv, delegate_, errors);
  working_normalized_name_ = cert.normalized_subject();
  return true;
}

bool PathVerifier::VerifySignatureAndAlgorithms(const ParsedCertificate& cert,
                                                CertErrors* errors) {
  bool failed = false;
  // RFC 5280 4.1.1.2: both fields must name the same algorithm.
  const der::Input& outer = cert.signature_algorithm_tlv();
  const der::Input& inner = cert.tbs().signature_algorithm_tlv;
  if (outer != inner) {
    auto params = CreateCertErrorParams2Der(
        "Certificate.algorithm", outer, "TBSCertificate.signature", inner);
    if (SignatureAlgorithm::EncodingsAreEquivalent(outer, inner)) {
      errors->AddWarning(cert_errors::kSignatureAlgorithmsDifferentEncoding,
                         std::move(params));
    } else {
      errors->AddError(cert_errors::kSignatureAlgorithmMismatch,
                       std::move(params));
      failed = true;
    }
  }

  if (!delegate_->AcceptsSignatureAlgorithm(cert.signature_algorithm(),
                                            errors)) {
    errors->AddError(cert_errors::kUnacceptableSignatureAlgorithm);
    failed = true;
  }

  // Without a working key the issuer already carries a key error.
  if (working_public_key_ &&
      !VerifySignedData(cert.signature_algorithm(), cert.tbs_certificate_tlv(),
                        cert.signature_value(), working_public_key_.get())) {
    errors->AddError(cert_errors::kVerifySignedDataFailed);
    return false;
  }
  return !failed;
}

void PathVerifier::BasicCertificateProcessing(const ParsedCertificate& cert,
                                              bool is_target,
                                              CertErrors* errors) {
  // Both bounds are inclusive.
  if (time_ < cert.tbs().validity_not_before)
    errors->AddError(cert_errors::kValidityFailedNotBefore);
  if (cert.tbs().validity_not_after < time_)
    errors->AddError(cert_errors::kValidityFailedNotAfter);

  if (cert.normalized_issuer() != working_normalized_name_)
    errors->AddError(cert_errors::kSubjectDoesNotMatchIssuer);

  // RFC 5280 6.1.3 (b), (c): self-issued intermediates are exempt.
  if (!name_constraints_list_.empty() && (!IsSelfIssued(cert) || is_target)) {
    for (const NameConstraints* name_constraints : name_constraints_list_) {
      name_constraints->IsPermittedCert(cert.normalized_subject(),
                                        cert.subject_alt_names(), errors);
    }
  }

  ProcessPolicies(cert, is_target);

  if (explicit_policy_ == 0 && policy_level_.empty())
    errors->AddError(cert_errors::kNoValidPolicy);

  VerifyExtendedKeyUsage(cert, required_key_purpose_, errors);
}

void PathVerifier::ProcessPolicies(const ParsedCertificate& cert,
                                   bool is_target) {
  // RFC 5280 6.1.3 (e): no policies, no tree.
  if (!cert.has_policy_oids()) {
    policy_level_.clear();
    return;
  }
  if (policy_level_.empty())
    return;

  const std::vector<ValidPolicyNode> previous = std::move(policy_level_);
  policy_level_.clear();
  const std::optional<size_t> previous_any = FindAnyPolicyNode(previous);

  // RFC 5280 6.1.3 (d)(1).
  bool lists_any_policy = false;
  for (const der::Input& policy : cert.policy_oids()) {
    if (IsAnyPolicy(policy)) {
      lists_any_policy = true;
      continue;
    }
    bool matched = false;
    for (const ValidPolicyNode& node : previous) {
      if (node.expected_policy_set.count(policy) != 0) {
        policy_level_.push_back(MakeChild(node, policy, {policy}));
        matched = true;
      }
    }
    if (!matched && previous_any) {
      policy_level_.push_back(
          MakeChild(previous[*previous_any], policy, {policy}));
    }
  }

  // RFC 5280 6.1.3 (d)(2).
  if (lists_any_policy &&
      (inhibit_any_policy_ > 0 || (!is_target && IsSelfIssued(cert)))) {
    std::set<der::Input> present;
    for (const ValidPolicyNode& node : policy_level_)
      present.insert(node.valid_policy);
    for (const ValidPolicyNode& node : previous) {
      for (const der::Input& expected : node.expected_policy_set) {
        if (present.insert(expected).second)
          policy_level_.push_back(MakeChild(node, expected, {expected}));
      }
    }
  }
}

void PathVerifier::ApplyPolicyMappings(const ParsedCertificate& cert,
                                       CertErrors* errors) {
  // RFC 5280 6.1.4 (a).
  for (const ParsedPolicyMapping& mapping : cert.policy_mappings()) {
    if (IsAnyPolicy(mapping.issuer_domain_policy) ||
        IsAnyPolicy(mapping.subject_domain_policy)) {
      errors->AddError(cert_errors::kPolicyMappingAnyPolicy);
      policy_level_.clear();
    }
  }

  std::map<der::Input, std::set<der::Input>> mapped;
  for (const ParsedPolicyMapping& mapping : cert.policy_mappings()) {
    mapped[mapping.issuer_domain_policy].insert(mapping.subject_domain_policy);
  }

  // RFC 5280 6.1.4 (b)(2): with mapping inhibited, mapped policies go.
  if (policy_mapping_ == 0) {
    policy_level_.erase(
        std::remove_if(policy_level_.begin(), policy_level_.end(),
                       [&mapped](const ValidPolicyNode& node) {
                         return mapped.count(node.valid_policy) != 0;
                       }),
        policy_level_.end());
    return;
  }

  // RFC 5280 6.1.4 (b)(1).
  const std::optional<size_t> any_node = FindAnyPolicyNode(policy_level_);
  for (const auto& [issuer_domain_policy, subject_domain_policies] : mapped) {
    bool found = false;
    for (ValidPolicyNode& node : policy_level_) {
      if (node.valid_policy == issuer_domain_policy) {
        node.expected_policy_set = subject_domain_policies;
        found = true;
      }
    }
    if (!found && any_node) {
      // Copy the parent first: the push may move the level.
      const ValidPolicyNode parent = policy_level_[*any_node];
      policy_level_.push_back(
          MakeChild(parent, issuer_domain_policy, subject_domain_policies));
    }
  }
}

void PathVerifier::PrepareForNextCertificate(const ParsedCertificate& cert,
                                             CertErrors* errors) {
  if (cert.has_policy_mappings())
    ApplyPolicyMappings(cert, errors);

  working_normalized_name_ = cert.normalized_subject();
  working_public_key_ =
      ParseAndCheckPublicKey(cert.tbs().spki_tlv, delegate_, errors);

  AddNameConstraints(cert);

  const bool self_issued = IsSelfIssued(cert);
  if (!self_issued) {
    if (explicit_policy_ > 0)
      --explicit_policy_;
    if (policy_mapping_ > 0)
      --policy_mapping_;
    if (inhibit_any_policy_ > 0)
      --inhibit_any_policy_;
  }

  if (cert.has_policy_constraints()) {
    const ParsedPolicyConstraints& constraints = cert.policy_constraints();
    if (constraints.has_require_explicit_policy &&
        constraints.require_explicit_policy < explicit_policy_) {
      explicit_policy_ = constraints.require_explicit_policy;
    }
    if (constraints.has_inhibit_policy_mapping &&
        constraints.inhibit_policy_mapping < policy_mapping_) {
      policy_mapping_ = constraints.inhibit_policy_mapping;
    }
  }
  if (cert.has_inhibit_any_policy() &&
      cert.inhibit_any_policy() < inhibit_any_policy_) {
    inhibit_any_policy_ = cert.inhibit_any_policy();
  }

  if (!cert.has_basic_constraints())
    errors->AddError(cert_errors::kMissingBasicConstraints);
  else if (!cert.basic_constraints().is_ca)
    errors->AddError(cert_errors::kBasicConstraintsIndicatesNotCa);

  if (!self_issued) {
    if (max_path_length_ > 0)
      --max_path_length_;
    else
      errors->AddError(cert_errors::kMaxPathLengthViolated);
  }

  if (cert.has_basic_constraints() && cert.basic_constraints().has_path_len &&
      cert.basic_constraints().path_len < max_path_length_) {
    max_path_length_ = cert.basic_constraints().path_len;
  }

  if (cert.has_key_usage() &&
      !cert.key_usage().IsBitSet(KEY_USAGE_BIT_KEY_CERT_SIGN)) {
    errors->AddError(cert_errors::kKeyCertSignBitNotSet);
  }

  VerifyNoUnconsumedCriticalExtensions(cert, errors);
}

void PathVerifier::WrapUp(const ParsedCertificate& cert, CertErrors* errors) {
  if (explicit_policy_ > 0)
    --explicit_policy_;
  if (cert.has_policy_constraints() &&
      cert.policy_constraints().has_require_explicit_policy &&
      cert.policy_constraints().require_explicit_policy == 0) {
    explicit_policy_ = 0;
  }

  VerifyNoUnconsumedCriticalExtensions(cert, errors);

  if (explicit_policy_ == 0 && policy_level_.empty())
    errors->AddError(cert_errors::kNoValidPolicy);

  // A target that claims some CA properties must claim all of them.
  const bool asserts_key_cert_sign =
      cert.has_key_usage() &&
      cert.key_usage().IsBitSet(KEY_USAGE_BIT_KEY_CERT_SIGN);
  bool inconsistent = false;
  if (cert.has_basic_constraints() && cert.basic_constraints().is_ca) {
    inconsistent = cert.has_key_usage() && !asserts_key_cert_sign;
  } else if (cert.has_basic_constraints() &&
             cert.basic_constraints().has_path_len) {
    inconsistent = true;
  } else {
    inconsistent = asserts_key_cert_sign;
  }
  if (inconsistent)
    errors->AddError(cert_errors::kTargetCertShouldNotBeCa);

  // For the errors only.
  ParseAndCheckPublicKey(cert.tbs().spki_tlv, delegate_, errors);
}

void PathVerifier::AddNameConstraints(const ParsedCertificate& cert) {
  if (cert.has_name_constraints())
    name_constraints_list_.push_back(&cert.name_constraints());
}

}  // namespace

ValidPolicyNode::ValidPolicyNode() = default;
ValidPolicyNode::ValidPolicyNode(const ValidPolicyNode&) = default;
ValidPolicyNode& ValidPolicyNode::operator=(const ValidPolicyNode&) = default;
ValidPolicyNode::~ValidPolicyNode() = default;

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
    CertPathErrors* errors) {
  PathVerifier verifier(delegate, time, required_key_purpose);
  verifier.Run(certs, last_cert_trust, initial_explicit_policy,
               user_initial_policy_set, initial_policy_mapping_inhibit,
               initial_any_policy_inhibit, user_constrained_policy_set, errors);
}

bool IsSelfIssued(const ParsedCertificate& cert) {
  return cert.normalized_subject() == cert.normalized_issuer();
}

void VerifyExtendedKeyUsage(const ParsedCertificate& cert,
                            KeyPurpose required_key_purpose,
                            CertErrors* errors) {
  if (required_key_purpose == KeyPurpose::ANY_EKU ||
      !cert.has_extended_key_usage()) {
    return;
  }
  const std::vector<der::Input>& ekus = cert.extended_key_usage();
  auto lists = [&ekus](const der::Input& oid) {
    return std::find(ekus.begin(), ekus.end(), oid) != ekus.end();
  };

  if (required_key_purpose == KeyPurpose::CLIENT_AUTH) {
    if (!lists(AnyEKU()) && !lists(ClientAuth()))
      errors->AddError(cert_errors::kEkuLacksClientAuth);
    return;
  }

  if (lists(AnyEKU()) || lists(ServerAuth()))
    return;
  if (lists(NetscapeServerGatedCrypto())) {
    errors->AddWarning(cert_errors::kEkuLacksServerAuthButHasGatedCrypto);
    // Old CAs issued with this purpose instead of server auth remain
    // usable for it.
    const SignatureAlgorithm& algorithm = cert.signature_algorithm();
    if (cert.has_basic_constraints() && cert.basic_constraints().is_ca &&
        algorithm.algorithm() == SignatureAlgorithmId::RSA_PKCS1 &&
        algorithm.digest() == DigestAlgorithm::SHA1) {
      return;
    }
  }
  errors->AddError(cert_errors::kEkuLacksServerAuth);
}

void VerifyNoUnconsumedCriticalExtensions(const ParsedCertificate& cert,
                                          CertErrors* errors) {
  for (const auto& [oid, extension] : cert.extensions()) {
    if (!extension.critical)
      continue;
    if (oid == BasicConstraintsOid() || oid == KeyUsageOid() ||
        oid == ExtKeyUsageOid() || oid == NameConstraintsOid() ||
        oid == SubjectAltNameOid() || oid == PolicyMappingsOid() ||
        oid == PolicyConstraintsOid() || oid == InhibitAnyPolicyOid()) {
      continue;
    }
    if (oid == CertificatePoliciesOid()) {
      // Qualifiers are not processed, so a critical extension is
      // understood only when it holds none of an unknown kind.
      std::vector<der::Input> unused_policies;
      if (ParseCertificatePolicies(extension.value,
                                   /*fail_parsing_unknown_qualifier_oids=*/true,
                                   &unused_policies, nullptr)) {
        continue;
      }
    }
    errors->AddError(
        cert_errors::kUnconsumedCriticalExtension,
        CreateCertErrorParams2Der("oid", extension.oid, "value",
                                  extension.value));
  }
}

bssl::UniquePtr<EVP_PKEY> ParseAndCheckPublicKey(
    const der::Input& spki,
    VerifyCertificateChainDelegate* delegate,
    CertErrors* errors) {
  bssl::UniquePtr<EVP_PKEY> public_key;
  if (!ParsePublicKey(spki, &public_key)) {
    errors->AddError(cert_errors::kFailedParsingSpki);
    return nullptr;
  }
  if (!delegate->AcceptsPublicKey(public_key.get(), errors))
    errors->AddError(cert_errors::kUnacceptablePublicKey);
  return public_key;
}

}  // namespace net
