#ifndef AGENT_NET_CERT_INTERNAL_PATH_BUILDER_H_
#define AGENT_NET_CERT_INTERNAL_PATH_BUILDER_H_

// Finds certification paths from a target certificate to a trust anchor.
//
// The search is depth first over the issuer sources (the trust store first,
// then those added with AddIssuerSource). At each level the candidate
// issuers are ordered so that the most promising come first: trust anchors
// before unspecified certificates before distrusted ones, a matching key
// identifier before an unknown one before a mismatching one, then the newest
// certificate first. Every path that reaches a trust anchor (or a distrusted
// certificate) is verified with VerifyCertificateChain; the search stops at
// the first valid path unless told to explore all of them.
//
// A builder, its iterator and its result belong to one thread. The trust
// store and the issuer sources are only read during Run; they must not be
// changed meanwhile, and their owner serialises any sharing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/supports_user_data.h"
#include "agent/base/time/time.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/parsed_certificate.h"
#include "agent/net/cert/internal/trust_store.h"
#include "agent/net/cert/internal/verify_certificate_chain.h"
#include "agent/net/der/generalized_time.h"
#include "agent/net/der/input.h"

namespace net {

class CandidatePathIterator;
class CertIssuerSource;
class CertPathBuilderDelegate;

// The name of the counts histogram (1 to 10000, 50 buckets) that every Run
// adds its iteration count to.
inline constexpr char kPathBuilderIterationCountHistogram[] =
    "Net.CertVerifier.PathBuilderIterationCount";

// One candidate path the builder completed and verified.
class CertPathBuilderResultPath {
 public:
  CertPathBuilderResultPath();
  CertPathBuilderResultPath(const CertPathBuilderResultPath&) = delete;
  CertPathBuilderResultPath& operator=(const CertPathBuilderResultPath&) =
      delete;
  ~CertPathBuilderResultPath();

  // At least one certificate, all non-null, the last one a trust anchor, and
  // no error-severity entry in `errors`.
  bool IsValid() const;

  // Target first; the last element is the certificate that ended the path.
  ParsedCertificateList certs;
  // The trust store's verdict on the last certificate.
  CertificateTrust last_cert_trust;
  // Filled by chain verification.
  std::set<der::Input> user_constrained_policy_set;
  // Filled by chain verification and the delegate.
  CertPathErrors errors;
};

class CertPathBuilder {
 public:
  // What Run found. Handed to every trust look-up as its debug data.
  class Result : public kelmbase::SupportsUserData {
   public:
    Result();
    Result(Result&&);
    Result& operator=(Result&&);
    ~Result() override;

    // Whether the best path exists and is valid.
    bool HasValidPath() const;

    // The path at best_result_index when it exists and is valid; else null.
    // Points into `paths`, so it lives as long as this result.
    const CertPathBuilderResultPath* BestValidPath() const;

    // Appends `path`; a valid one becomes the best path unless a valid best
    // path exists already. With no valid path the best index stays 0, so the
    // "best" path is the first one tried.
    void AddPath(std::unique_ptr<CertPathBuilderResultPath> path);

    // Every path tried, in order.
    std::vector<std::unique_ptr<CertPathBuilderResultPath>> paths;
    size_t best_result_index = 0;
    // The search ended because the iteration limit was passed.
    bool exceeded_iteration_limit = false;
    // The search ended because the deadline was passed.
    bool exceeded_deadline = false;
  };

  // Prepares a search for paths from `cert` to the anchors of `trust_store`,
  // verified at `time` for `key_purpose` under the policy inputs given.
  // `trust_store` and `delegate` are not owned and must outlive the builder;
  // the trust store is the first issuer source.
  CertPathBuilder(scoped_refptr<ParsedCertificate> cert,
                  TrustStore* trust_store,
                  CertPathBuilderDelegate* delegate,
                  const der::GeneralizedTime& time,
                  KeyPurpose key_purpose,
                  InitialExplicitPolicy initial_explicit_policy,
                  const std::set<der::Input>& user_initial_policy_set,
                  InitialPolicyMappingInhibit initial_policy_mapping_inhibit,
                  InitialAnyPolicyInhibit initial_any_policy_inhibit);
  CertPathBuilder(const CertPathBuilder&) = delete;
  CertPathBuilder& operator=(const CertPathBuilder&) = delete;
  ~CertPathBuilder();

  // Adds a source of issuers, queried after those added before. Not owned;
  // it must outlive the builder. Call before Run.
  void AddIssuerSource(CertIssuerSource* source);

  // Stops the search once more than `limit` candidate issuers have been
  // asked for (0, the default, means no limit).
  void SetIterationLimit(uint32_t limit);

  // Stops the search once the monotonic clock is past `deadline` (a null
  // time, the default, means none).
  void SetDeadline(kelmbase::MonotonicTime deadline);

  // Keeps searching after a valid path is found, until every candidate path
  // has been tried (off by default).
  void SetExploreAllPaths(bool explore_all_paths);

  // Runs the search once and hands back what it found; the builder must not
  // be run again. Records the iteration count in
  // kPathBuilderIterationCountHistogram.
  Result Run();

 private:
  Result out_result_;
  std::unique_ptr<CandidatePathIterator> cert_path_iter_;
  CertPathBuilderDelegate* const delegate_;
  const der::GeneralizedTime time_;
  const KeyPurpose required_key_purpose_;
  const InitialExplicitPolicy initial_explicit_policy_;
  const std::set<der::Input> user_initial_policy_set_;
  const InitialPolicyMappingInhibit initial_policy_mapping_inhibit_;
  const InitialAnyPolicyInhibit initial_any_policy_inhibit_;
  uint32_t max_iteration_count_ = 0;
  kelmbase::MonotonicTime deadline_;
  bool explore_all_paths_ = false;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_PATH_BUILDER_H_
