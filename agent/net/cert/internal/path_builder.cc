#include "agent/net/cert/internal/path_builder.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "agent/base/metrics/histogram_functions.h"
#include "agent/net/cert/internal/cert_issuer_source.h"
#include "agent/net/cert/internal/cert_path_builder_delegate.h"
#include "logging/check.h"

namespace net {

namespace {

// h = h * 131 + byte over the unsigned bytes, wrapping at 64 bits.
struct DerBytesHash {
  size_t operator()(std::string_view bytes) const {
    uint64_t h = 0;
    for (unsigned char byte : bytes)
      h = h * 131 + byte;
    return static_cast<size_t>(h);
  }
};

std::string_view AsView(const der::Input& input) {
  return input.AsStringView();
}

// How a candidate's subjectKeyIdentifier compares with the authority key
// identifier of the certificate it would issue.
enum class KeyIdMatch { kMatch = 0, kUnknown = 1, kMismatch = 2 };

KeyIdMatch MatchKeyIdentifiers(const ParsedCertificate& subject,
                               const ParsedCertificate& candidate) {
  const auto& aki = subject.authority_key_identifier();
  const auto& ski = candidate.subject_key_identifier();
  if (!aki || !aki->key_identifier || !ski)
    return KeyIdMatch::kUnknown;
  return *aki->key_identifier == *ski ? KeyIdMatch::kMatch
                                      : KeyIdMatch::kMismatch;
}

// Lower is tried first: by trust (anchors, then unspecified, then
// distrusted) and within each by key identifier (match, unknown, mismatch).
// An anchor whose key identifier mismatches is unlikely to be the issuer, so
// it waits behind the unspecified candidates that match or are unknown,
// though not behind those that mismatch too.
int IssuerPriority(const CertificateTrust& trust, KeyIdMatch match) {
  static constexpr int kPriorities[3][3] = {
      // match, unknown, mismatch
      {0, 1, 4},  // anchors
      {2, 3, 5},  // unspecified
      {6, 7, 8},  // distrusted
  };
  int row = 1;
  if (trust.IsTrustAnchor())
    row = 0;
  else if (trust.type == CertificateTrustType::DISTRUSTED)
    row = 2;
  return kPriorities[row][static_cast<int>(match)];
}

}  // namespace

// Identifies a certificate for loop detection: two certificates with the
// same subject, subjectAltName and key are the same party, whatever their
// other fields (a re-issued or cross-signed copy would otherwise let a path
// pass through one entity twice).
class PathCertKey {
 public:
  explicit PathCertKey(const ParsedCertificate& cert)
      : key_(AsView(cert.normalized_subject()),
             cert.has_subject_alt_names()
                 ? AsView(cert.subject_alt_names_extension().value)
                 : std::string_view(),
             AsView(cert.tbs().spki_tlv)) {}

  bool operator<(const PathCertKey& other) const { return key_ < other.key_; }

 private:
  // Views into the certificate, which the path level holding it keeps alive
  // for as long as the key is in the present set.
  std::tuple<std::string_view, std::string_view, std::string_view> key_;
};

namespace {

struct IssuerCandidate {
  scoped_refptr<ParsedCertificate> cert;
  CertificateTrust trust;
  int priority = 0;
};

// Whether `a` should be tried before `b` when their priorities are equal:
// the later notBefore first, then the later notAfter.
bool IsNewer(const ParsedCertificate& a, const ParsedCertificate& b) {
  const der::GeneralizedTime& a_before = a.tbs().validity_not_before;
  const der::GeneralizedTime& b_before = b.tbs().validity_not_before;
  if (b_before < a_before)
    return true;
  if (a_before < b_before)
    return false;
  return b.tbs().validity_not_after < a.tbs().validity_not_after;
}

}  // namespace

// Hands out the candidate issuers of one certificate, best first. One per
// level of the current partial path.
class IssuerCandidateIterator {
 public:
  IssuerCandidateIterator(scoped_refptr<ParsedCertificate> cert,
                          const std::vector<CertIssuerSource*>* sources,
                          const TrustStore* trust_store,
                          kelmbase::SupportsUserData* debug_data)
      : cert_(std::move(cert)),
        key_(*cert_),
        sources_(sources),
        trust_store_(trust_store),
        debug_data_(debug_data) {}

  const scoped_refptr<ParsedCertificate>& cert() const { return cert_; }
  const PathCertKey& key() const { return key_; }

  // Fills `out` with the next candidate, or leaves its certificate null when
  // every source is exhausted.
  void GetNextIssuer(IssuerCandidate* out) {
    if (!initial_query_done_) {
      initial_query_done_ = true;
      for (CertIssuerSource* source : *sources_) {
        ParsedCertificateList batch;
        source->FindIssuers(cert_.get(), &batch);
        AddIssuers(batch);
      }
    }

    if (!HasCandidate() && !async_query_done_) {
      async_query_done_ = true;
      current_request_ = 0;
      for (CertIssuerSource* source : *sources_) {
        std::unique_ptr<CertIssuerSource::Request> request;
        source->FindIssuersAsync(cert_.get(), &request);
        if (request)
          pending_requests_.push_back(std::move(request));
      }
    }
    while (!HasCandidate() && current_request_ < pending_requests_.size()) {
      ParsedCertificateList batch;
      pending_requests_[current_request_]->GetNext(&batch);
      if (batch.empty()) {
        pending_requests_[current_request_].reset();
        ++current_request_;
      } else {
        AddIssuers(batch);
      }
    }

    if (!HasCandidate()) {
      *out = IssuerCandidate();
      return;
    }
    if (needs_sort_) {
      // Only the candidates not yet handed out; stable, so equal ones keep
      // the order the sources gave them in.
      std::stable_sort(candidates_.begin() + next_index_, candidates_.end(),
                       [](const IssuerCandidate& a, const IssuerCandidate& b) {
                         if (a.priority != b.priority)
                           return a.priority < b.priority;
                         return IsNewer(*a.cert, *b.cert);
                       });
      needs_sort_ = false;
    }
    *out = candidates_[next_index_++];
  }

 private:
  bool HasCandidate() const { return next_index_ < candidates_.size(); }

  void AddIssuers(const ParsedCertificateList& batch) {
    for (const scoped_refptr<ParsedCertificate>& issuer : batch) {
      if (!seen_der_.insert(AsView(issuer->der_cert())).second)
        continue;
      IssuerCandidate candidate;
      candidate.cert = issuer;
      trust_store_->GetTrust(issuer.get(), &candidate.trust, debug_data_);
      candidate.priority = IssuerPriority(
          candidate.trust, MatchKeyIdentifiers(*cert_, *issuer));
      candidates_.push_back(std::move(candidate));
      needs_sort_ = true;
    }
  }

  scoped_refptr<ParsedCertificate> cert_;
  PathCertKey key_;
  const std::vector<CertIssuerSource*>* sources_;
  const TrustStore* trust_store_;
  kelmbase::SupportsUserData* debug_data_;

  std::vector<IssuerCandidate> candidates_;
  size_t next_index_ = 0;
  bool needs_sort_ = false;
  // Whole-certificate DER of every candidate so far; views into the
  // candidates, which `candidates_` keeps alive.
  std::unordered_set<std::string_view, DerBytesHash> seen_der_;
  bool initial_query_done_ = false;
  bool async_query_done_ = false;
  std::vector<std::unique_ptr<CertIssuerSource::Request>> pending_requests_;
  size_t current_request_ = 0;
};

// Walks the candidate paths from the target depth first.
class CandidatePathIterator {
 public:
  CandidatePathIterator(scoped_refptr<ParsedCertificate> cert,
                        TrustStore* trust_store,
                        kelmbase::SupportsUserData* debug_data)
      : trust_store_(trust_store), debug_data_(debug_data) {
    sources_.push_back(trust_store);
    next_issuer_.cert = std::move(cert);
    trust_store_->GetTrust(next_issuer_.cert.get(), &next_issuer_.trust,
                           debug_data_);
  }

  void AddIssuerSource(CertIssuerSource* source) {
    sources_.push_back(source);
  }

  // Fills `out_certs` (target first) and `out_last_cert_trust` with the next
  // complete candidate path and returns true; false when the search is
  // exhausted, the iteration count passes `max_iteration_count` (when not
  // 0) or the monotonic clock passes `deadline` (when not null).
  bool NextPath(ParsedCertificateList* out_certs,
                   CertificateTrust* out_last_cert_trust,
                   kelmbase::MonotonicTime deadline,
                   uint32_t* iteration_count,
                   uint32_t max_iteration_count) {
    while (deadline.is_null() || !(deadline < kelmbase::MonotonicTime::Now())) {
      if (!next_issuer_.cert) {
        if (cur_path_.empty())
          return false;
        ++*iteration_count;
        if (max_iteration_count > 0 && *iteration_count > max_iteration_count)
          return false;
        cur_path_.back()->GetNextIssuer(&next_issuer_);
        if (!next_issuer_.cert) {
          present_certs_.erase(cur_path_.back()->key());
          cur_path_.pop_back();
          continue;
        }
      }

      // The target is never its own anchor: its issuers are sought like any
      // other certificate's.
      if (next_issuer_.trust.IsTrustAnchor() && cur_path_.empty())
        next_issuer_.trust = CertificateTrust::Unspecified();

      if (next_issuer_.trust.type == CertificateTrustType::UNSPECIFIED) {
        PathCertKey key(*next_issuer_.cert);
        // A certificate already on the path would close a loop: drop it.
        if (present_certs_.find(key) == present_certs_.end()) {
          auto level = std::make_unique<IssuerCandidateIterator>(
              std::move(next_issuer_.cert), &sources_, trust_store_,
              debug_data_);
          present_certs_.insert(level->key());
          cur_path_.push_back(std::move(level));
        }
        next_issuer_ = IssuerCandidate();
        continue;
      }

      // An anchor or a distrusted certificate ends the path; chain
      // verification rejects the distrusted ones.
      out_certs->clear();
      for (const auto& level : cur_path_)
        out_certs->push_back(level->cert());
      out_certs->push_back(std::move(next_issuer_.cert));
      *out_last_cert_trust = next_issuer_.trust;
      next_issuer_ = IssuerCandidate();
      return true;
    }
    return false;
  }

 private:
  IssuerCandidate next_issuer_;
  std::vector<std::unique_ptr<IssuerCandidateIterator>> cur_path_;
  std::set<PathCertKey> present_certs_;
  std::vector<CertIssuerSource*> sources_;
  TrustStore* trust_store_;
  kelmbase::SupportsUserData* debug_data_;
};

CertPathBuilderResultPath::CertPathBuilderResultPath() = default;
CertPathBuilderResultPath::~CertPathBuilderResultPath() = default;

bool CertPathBuilderResultPath::IsValid() const {
  return !certs.empty() && certs.back() && last_cert_trust.IsTrustAnchor() &&
         !errors.ContainsAnyErrorWithSeverity(SEVERITY_ERROR);
}

CertPathBuilder::Result::Result() = default;
CertPathBuilder::Result::Result(Result&&) = default;
CertPathBuilder::Result& CertPathBuilder::Result::operator=(Result&&) =
    default;
CertPathBuilder::Result::~Result() = default;

bool CertPathBuilder::Result::HasValidPath() const {
  return BestValidPath() != nullptr;
}

const CertPathBuilderResultPath* CertPathBuilder::Result::BestValidPath()
    const {
  if (best_result_index >= paths.size())
    return nullptr;
  const CertPathBuilderResultPath* path = paths[best_result_index].get();
  return path->IsValid() ? path : nullptr;
}

void CertPathBuilder::Result::AddPath(
    std::unique_ptr<CertPathBuilderResultPath> path) {
  if (path->IsValid() && !HasValidPath())
    best_result_index = paths.size();
  paths.push_back(std::move(path));
}

CertPathBuilder::CertPathBuilder(
    scoped_refptr<ParsedCertificate> cert,
    TrustStore* trust_store,
    CertPathBuilderDelegate* delegate,
    const der::GeneralizedTime& time,
    KeyPurpose key_purpose,
    InitialExplicitPolicy initial_explicit_policy,
    const std::set<der::Input>& user_initial_policy_set,
    InitialPolicyMappingInhibit initial_policy_mapping_inhibit,
    InitialAnyPolicyInhibit initial_any_policy_inhibit)
    : cert_path_iter_(std::make_unique<CandidatePathIterator>(
          std::move(cert), trust_store, &out_result_)),
      delegate_(delegate),
      time_(time),
      required_key_purpose_(key_purpose),
      initial_explicit_policy_(initial_explicit_policy),
      user_initial_policy_set_(user_initial_policy_set),
      initial_policy_mapping_inhibit_(initial_policy_mapping_inhibit),
      initial_any_policy_inhibit_(initial_any_policy_inhibit) {
  CHECK(delegate_);
}

CertPathBuilder::~CertPathBuilder() = default;

void CertPathBuilder::AddIssuerSource(CertIssuerSource* source) {
  cert_path_iter_->AddIssuerSource(source);
}

void CertPathBuilder::SetIterationLimit(uint32_t limit) {
  max_iteration_count_ = limit;
}

void CertPathBuilder::SetDeadline(kelmbase::MonotonicTime deadline) {
  deadline_ = deadline;
}

void CertPathBuilder::SetExploreAllPaths(bool explore_all_paths) {
  explore_all_paths_ = explore_all_paths;
}

namespace {

void RecordIterationCount(uint32_t iteration_count) {
  kelmbase::RecordCounts10000(
      kPathBuilderIterationCountHistogram,
      static_cast<int32_t>(std::min<uint32_t>(
          iteration_count,
          static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))));
}

}  // namespace

CertPathBuilder::Result CertPathBuilder::Run() {
  uint32_t iteration_count = 0;
  while (true) {
    auto path = std::make_unique<CertPathBuilderResultPath>();
    if (!cert_path_iter_->NextPath(&path->certs, &path->last_cert_trust,
                                      deadline_, &iteration_count,
                                      max_iteration_count_)) {
      if (max_iteration_count_ > 0 && iteration_count > max_iteration_count_)
        out_result_.exceeded_iteration_limit = true;
      if (!deadline_.is_null() && deadline_ < kelmbase::MonotonicTime::Now())
        out_result_.exceeded_deadline = true;
      RecordIterationCount(iteration_count);
      return std::move(out_result_);
    }

    VerifyCertificateChain(path->certs, path->last_cert_trust, delegate_,
                           time_, required_key_purpose_,
                           initial_explicit_policy_, user_initial_policy_set_,
                           initial_policy_mapping_inhibit_,
                           initial_any_policy_inhibit_,
                           &path->user_constrained_policy_set, &path->errors);
    delegate_->OnPathVerified(*this, path.get());

    const bool path_is_good = path->IsValid();
    out_result_.AddPath(std::move(path));
    if (path_is_good && !explore_all_paths_) {
      RecordIterationCount(iteration_count);
      return std::move(out_result_);
    }
  }
}

}  // namespace net
