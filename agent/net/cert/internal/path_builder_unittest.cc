#include "agent/net/cert/internal/path_builder.h"

#include <openssl/pool.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/net/cert/common_cert_errors.h"
#include "agent/net/cert/internal/cert_issuer_source_static.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/simple_path_builder_delegate.h"
#include "agent/net/cert/internal/trust_store_in_memory.h"
#include "gtest/gtest.h"

namespace net {
namespace {

scoped_refptr<ParsedCertificate> Cert(const std::string& name) {
  std::string der;
  EXPECT_TRUE(kelmbase::ReadFileToString(
      kelmbase::FilePath(KELM_PATH_BUILDER_TESTDATA_DIR).Append(name + ".der"),
      &der))
      << name;
  CertErrors errors;
  scoped_refptr<ParsedCertificate> cert = ParsedCertificate::Create(
      bssl::UniquePtr<CRYPTO_BUFFER>(CRYPTO_BUFFER_new(
          reinterpret_cast<const uint8_t*>(der.data()), der.size(), nullptr)),
      ParseCertificateOptions(), &errors);
  EXPECT_TRUE(cert) << name << ": " << errors.ToDebugString();
  return cert;
}

// 2025-06-01 12:00:00 UTC, inside every certificate that is not meant to be
// expired.
der::GeneralizedTime VerifyTime() {
  der::GeneralizedTime time;
  time.year = 2025;
  time.month = 6;
  time.day = 1;
  time.hours = 12;
  return time;
}

// The count and sum of the iteration-count histogram, to compare before and
// after a run.
struct IterationHistogram {
  static IterationHistogram Now() {
    IterationHistogram snapshot;
    kelmbase::HistogramBase* histogram =
        kelmbase::StatisticsRecorder::Find(kPathBuilderIterationCountHistogram);
    if (histogram) {
      std::unique_ptr<kelmbase::HistogramSamples> samples =
          histogram->CopySamples();
      snapshot.count = samples->TotalCount();
      snapshot.sum = samples->sum();
    }
    return snapshot;
  }
  int32_t count = 0;
  int64_t sum = 0;
};

// Rejects every path that ends at one chosen certificate, as a caller's
// policy would.
class RejectingDelegate : public SimplePathBuilderDelegate {
 public:
  RejectingDelegate()
      : SimplePathBuilderDelegate(2048, DigestPolicy::kStrong) {}

  void OnPathVerified(const CertPathBuilder& /*builder*/,
                      CertPathBuilderResultPath* path) override {
    ++verified_paths;
    if (reject_ending_at && path->certs.back()->der_cert() ==
                                reject_ending_at->der_cert()) {
      path->errors.GetOtherErrors()->AddError("Rejected by the test delegate");
    }
  }

  scoped_refptr<ParsedCertificate> reject_ending_at;
  int verified_paths = 0;
};

// Hands out its certificates only through an asynchronous request, one per
// batch, then an empty batch.
class AsyncOnlySource : public CertIssuerSource {
 public:
  class BatchRequest : public Request {
   public:
    explicit BatchRequest(ParsedCertificateList certs)
        : certs_(std::move(certs)) {}
    void GetNext(ParsedCertificateList* issuers) override {
      if (next_ < certs_.size())
        issuers->push_back(certs_[next_++]);
    }

   private:
    ParsedCertificateList certs_;
    size_t next_ = 0;
  };

  void FindIssuers(const ParsedCertificate*, ParsedCertificateList*) override {
    ++sync_queries;
  }
  void FindIssuersAsync(const ParsedCertificate* cert,
                        std::unique_ptr<Request>* out_req) override {
    ParsedCertificateList matching;
    for (const auto& candidate : certs) {
      if (candidate->normalized_subject() == cert->normalized_issuer())
        matching.push_back(candidate);
    }
    *out_req = std::make_unique<BatchRequest>(std::move(matching));
  }

  ParsedCertificateList certs;
  int sync_queries = 0;
};

class PathBuilderTest : public ::testing::Test {
 protected:
  // A builder for `target` over trust_store_ and static_source_ at
  // VerifyTime() for client auth with anyPolicy.
  std::unique_ptr<CertPathBuilder> MakeBuilder(
      scoped_refptr<ParsedCertificate> target) {
    auto builder = std::make_unique<CertPathBuilder>(
        std::move(target), &trust_store_, &delegate_, VerifyTime(),
        KeyPurpose::CLIENT_AUTH, InitialExplicitPolicy::kFalse,
        std::set<der::Input>{AnyPolicy()}, InitialPolicyMappingInhibit::kFalse,
        InitialAnyPolicyInhibit::kFalse);
    builder->AddIssuerSource(&static_source_);
    return builder;
  }

  void AddIntermediates(const std::vector<std::string>& names) {
    for (const std::string& name : names)
      static_source_.AddCert(Cert(name));
  }

  // The subjects of the last certificate of every path, in order tried,
  // shown by file: whatever ended each path.
  static std::vector<std::string> PathEnds(
      const CertPathBuilder::Result& result,
      const std::vector<std::pair<std::string, scoped_refptr<ParsedCertificate>>>&
          known) {
    std::vector<std::string> ends;
    for (const auto& path : result.paths) {
      std::string name = "?";
      for (const auto& [known_name, cert] : known) {
        if (cert->der_cert() == path->certs.back()->der_cert())
          name = known_name;
      }
      ends.push_back(name);
    }
    return ends;
  }

  TrustStoreInMemory trust_store_;
  CertIssuerSourceStatic static_source_;
  RejectingDelegate delegate_;
};

TEST_F(PathBuilderTest, FindsThePathThroughAnIntermediate) {
  auto root = Cert("root");
  auto intermediate = Cert("intermediate");
  auto leaf = Cert("leaf");
  trust_store_.AddConstrainedTrustAnchor(root);
  static_source_.AddCert(intermediate);

  const IterationHistogram before = IterationHistogram::Now();
  CertPathBuilder::Result result = MakeBuilder(leaf)->Run();
  const IterationHistogram after = IterationHistogram::Now();

  ASSERT_EQ(1u, result.paths.size());
  ASSERT_TRUE(result.HasValidPath());
  const CertPathBuilderResultPath* best = result.BestValidPath();
  ASSERT_EQ(result.paths[0].get(), best);
  ASSERT_EQ(3u, best->certs.size());
  EXPECT_EQ(leaf->der_cert(), best->certs[0]->der_cert());
  EXPECT_EQ(intermediate->der_cert(), best->certs[1]->der_cert());
  EXPECT_EQ(root->der_cert(), best->certs[2]->der_cert());
  EXPECT_EQ(CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS,
            best->last_cert_trust.type);
  EXPECT_FALSE(result.exceeded_iteration_limit);
  EXPECT_FALSE(result.exceeded_deadline);
  // One step to the intermediate, one to the root.
  EXPECT_EQ(1, after.count - before.count);
  EXPECT_EQ(2, after.sum - before.sum);
}

TEST_F(PathBuilderTest, TargetWithNoIssuerYieldsNoPath) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  AddIntermediates({"intermediate"});

  const IterationHistogram before = IterationHistogram::Now();
  CertPathBuilder::Result result = MakeBuilder(Cert("orphan"))->Run();
  const IterationHistogram after = IterationHistogram::Now();

  EXPECT_TRUE(result.paths.empty());
  EXPECT_EQ(0u, result.best_result_index);
  EXPECT_FALSE(result.HasValidPath());
  EXPECT_EQ(nullptr, result.BestValidPath());
  EXPECT_FALSE(result.exceeded_iteration_limit);
  EXPECT_FALSE(result.exceeded_deadline);
  EXPECT_EQ(1, after.count - before.count);
  EXPECT_EQ(1, after.sum - before.sum);
}

TEST_F(PathBuilderTest, AnchorAsTargetIsNotAOneCertificatePath) {
  auto root = Cert("root");
  trust_store_.AddConstrainedTrustAnchor(root);

  CertPathBuilder::Result result = MakeBuilder(root)->Run();

  // The target's own anchor status is ignored; the search finds the root as
  // the issuer of itself.
  ASSERT_FALSE(result.paths.empty());
  for (const auto& path : result.paths)
    EXPECT_NE(1u, path->certs.size());
  ASSERT_EQ(2u, result.paths[0]->certs.size());
  EXPECT_EQ(root->der_cert(), result.paths[0]->certs[0]->der_cert());
  EXPECT_EQ(root->der_cert(), result.paths[0]->certs[1]->der_cert());
  EXPECT_TRUE(result.paths[0]->last_cert_trust.IsTrustAnchor());
}

TEST_F(PathBuilderTest, OrdersIssuersByTrustThenKeyIdentifier) {
  std::vector<std::pair<std::string, scoped_refptr<ParsedCertificate>>> known =
      {{"twin_root_mismatch", Cert("twin_root_mismatch")},
       {"twin_root_unknown", Cert("twin_root_unknown")},
       {"twin_root_match", Cert("twin_root_match")},
       {"other_root", Cert("other_root")}};
  // Added in the reverse of the expected order, so insertion order cannot
  // explain the result.
  for (const auto& [name, cert] : known)
    trust_store_.AddConstrainedTrustAnchor(cert);
  AddIntermediates({"twin_intermediate", "twin_cross"});

  auto builder = MakeBuilder(Cert("twin_leaf"));
  builder->SetExploreAllPaths(true);
  CertPathBuilder::Result result = builder->Run();

  // Anchor with matching key id (0), anchor with none (1), the unspecified
  // cross certificate with a matching key id (2) leading to other_root, and
  // last the anchor whose key id mismatches (4).
  EXPECT_EQ((std::vector<std::string>{"twin_root_match", "twin_root_unknown",
                                      "other_root", "twin_root_mismatch"}),
            PathEnds(result, known));
  ASSERT_EQ(4u, result.paths.size());
  EXPECT_TRUE(result.paths[0]->IsValid());
  EXPECT_FALSE(result.paths[1]->IsValid());
  EXPECT_EQ(4u, result.paths[2]->certs.size());
  EXPECT_TRUE(result.paths[2]->IsValid());
  EXPECT_FALSE(result.paths[3]->IsValid());
  EXPECT_EQ(0u, result.best_result_index);
}

TEST_F(PathBuilderTest, DelegateRejectionMovesTheSearchOn) {
  std::vector<std::pair<std::string, scoped_refptr<ParsedCertificate>>> known =
      {{"twin_root_match", Cert("twin_root_match")},
       {"twin_root_unknown", Cert("twin_root_unknown")},
       {"other_root", Cert("other_root")}};
  for (const auto& [name, cert] : known)
    trust_store_.AddConstrainedTrustAnchor(cert);
  AddIntermediates({"twin_intermediate", "twin_cross"});
  delegate_.reject_ending_at = known[0].second;

  CertPathBuilder::Result result = MakeBuilder(Cert("twin_leaf"))->Run();

  // The rejected path and the one with a bad signature come first; the
  // first valid one, through the cross certificate, is the best and ends
  // the search.
  EXPECT_EQ((std::vector<std::string>{"twin_root_match", "twin_root_unknown",
                                      "other_root"}),
            PathEnds(result, known));
  EXPECT_EQ(3, delegate_.verified_paths);
  ASSERT_TRUE(result.HasValidPath());
  EXPECT_EQ(2u, result.best_result_index);
  EXPECT_EQ(result.paths[2].get(), result.BestValidPath());
}

TEST_F(PathBuilderTest, EqualPrioritiesTryTheNewestFirst) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  std::vector<std::pair<std::string, scoped_refptr<ParsedCertificate>>> known =
      {{"dup_a", Cert("dup_a")},
       {"dup_b", Cert("dup_b")},
       {"dup_c", Cert("dup_c")}};
  for (const auto& [name, cert] : known)
    static_source_.AddCert(cert);

  auto builder = MakeBuilder(Cert("dup_leaf"));
  builder->SetExploreAllPaths(true);
  CertPathBuilder::Result result = builder->Run();

  // c and b share the latest notBefore; c has the later notAfter.
  std::vector<std::string> order;
  for (const auto& path : result.paths) {
    ASSERT_EQ(3u, path->certs.size());
    EXPECT_TRUE(path->IsValid());
    for (const auto& [name, cert] : known) {
      if (cert->der_cert() == path->certs[1]->der_cert())
        order.push_back(name);
    }
  }
  EXPECT_EQ((std::vector<std::string>{"dup_c", "dup_b", "dup_a"}), order);
  EXPECT_EQ(0u, result.best_result_index);

  // Without exploring, the first valid path ends the search.
  CertPathBuilder::Result first = MakeBuilder(Cert("dup_leaf"))->Run();
  ASSERT_EQ(1u, first.paths.size());
  EXPECT_EQ(known[2].second->der_cert(), first.paths[0]->certs[1]->der_cert());
}

TEST_F(PathBuilderTest, CrossSignedCycleEnds) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  AddIntermediates({"cycle_a", "cycle_b"});

  const IterationHistogram before = IterationHistogram::Now();
  CertPathBuilder::Result result = MakeBuilder(Cert("cycle_leaf"))->Run();
  const IterationHistogram after = IterationHistogram::Now();

  EXPECT_TRUE(result.paths.empty());
  EXPECT_FALSE(result.exceeded_iteration_limit);
  // Requests: A for the leaf, B for A, A again for B (dropped: it is on the
  // path), then each of the three levels runs out: 6 in all.
  EXPECT_EQ(6, after.sum - before.sum);
}

TEST_F(PathBuilderTest, IterationLimitEndsADeepSearch) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  std::vector<std::string> loop;
  for (int i = 0; i < 12; ++i)
    loop.push_back((i < 10 ? "loop_0" : "loop_") + std::to_string(i));
  AddIntermediates(loop);

  auto builder = MakeBuilder(Cert("loop_leaf"));
  builder->SetIterationLimit(3);
  const IterationHistogram before = IterationHistogram::Now();
  CertPathBuilder::Result result = builder->Run();
  const IterationHistogram after = IterationHistogram::Now();

  EXPECT_TRUE(result.exceeded_iteration_limit);
  EXPECT_FALSE(result.exceeded_deadline);
  EXPECT_TRUE(result.paths.empty());
  EXPECT_EQ(1, after.count - before.count);
  EXPECT_EQ(4, after.sum - before.sum);
}

TEST_F(PathBuilderTest, PassedDeadlineEndsTheSearch) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  AddIntermediates({"intermediate"});

  auto builder = MakeBuilder(Cert("leaf"));
  builder->SetDeadline(kelmbase::MonotonicTime::Now() -
                       kelmbase::Duration::FromSeconds(1));
  CertPathBuilder::Result result = builder->Run();

  EXPECT_TRUE(result.exceeded_deadline);
  EXPECT_FALSE(result.exceeded_iteration_limit);
  EXPECT_TRUE(result.paths.empty());

  // A deadline far ahead changes nothing.
  auto relaxed = MakeBuilder(Cert("leaf"));
  relaxed->SetDeadline(kelmbase::MonotonicTime::Now() +
                       kelmbase::Duration::FromMinutes(10));
  CertPathBuilder::Result found = relaxed->Run();
  EXPECT_TRUE(found.HasValidPath());
  EXPECT_FALSE(found.exceeded_deadline);
}

TEST_F(PathBuilderTest, WithoutAValidPathTheFirstPathIsBest) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  // The same intermediate three times, from two sources: tried once.
  AddIntermediates({"intermediate", "intermediate"});
  CertIssuerSourceStatic second_source;
  second_source.AddCert(Cert("intermediate"));

  auto builder = MakeBuilder(Cert("leaf_expired"));
  builder->AddIssuerSource(&second_source);
  builder->SetExploreAllPaths(true);
  CertPathBuilder::Result result = builder->Run();

  ASSERT_EQ(1u, result.paths.size());
  EXPECT_FALSE(result.HasValidPath());
  EXPECT_EQ(nullptr, result.BestValidPath());
  EXPECT_EQ(0u, result.best_result_index);
  EXPECT_TRUE(
      result.paths[0]->errors.ContainsError(cert_errors::kValidityFailedNotAfter));
}

TEST_F(PathBuilderTest, DistrustedIssuerEndsAnInvalidPath) {
  auto root = Cert("root");
  trust_store_.AddCertificate(root, {CertificateTrustType::DISTRUSTED});
  AddIntermediates({"intermediate"});

  CertPathBuilder::Result result = MakeBuilder(Cert("leaf"))->Run();

  ASSERT_EQ(1u, result.paths.size());
  EXPECT_EQ(CertificateTrustType::DISTRUSTED,
            result.paths[0]->last_cert_trust.type);
  EXPECT_EQ(root->der_cert(), result.paths[0]->certs.back()->der_cert());
  EXPECT_FALSE(result.HasValidPath());
}

TEST_F(PathBuilderTest, AsynchronousSourcesAreAskedWhenTheOthersRunDry) {
  trust_store_.AddConstrainedTrustAnchor(Cert("root"));
  AsyncOnlySource async_source;
  async_source.certs.push_back(Cert("intermediate"));

  auto builder = std::make_unique<CertPathBuilder>(
      Cert("leaf"), &trust_store_, &delegate_, VerifyTime(),
      KeyPurpose::CLIENT_AUTH, InitialExplicitPolicy::kFalse,
      std::set<der::Input>{AnyPolicy()}, InitialPolicyMappingInhibit::kFalse,
      InitialAnyPolicyInhibit::kFalse);
  builder->AddIssuerSource(&async_source);
  CertPathBuilder::Result result = builder->Run();

  ASSERT_TRUE(result.HasValidPath());
  EXPECT_EQ(3u, result.BestValidPath()->certs.size());
  EXPECT_GE(async_source.sync_queries, 1);
}

TEST_F(PathBuilderTest, ResultAddPathKeepsTheFirstValidPathAsBest) {
  auto root = Cert("root");
  auto make_path = [&](bool valid) {
    auto path = std::make_unique<CertPathBuilderResultPath>();
    path->certs.push_back(root);
    path->last_cert_trust = valid ? CertificateTrust::AnchorWithConstraints()
                                  : CertificateTrust::Unspecified();
    return path;
  };
  struct Case {
    std::vector<bool> valid;
    size_t best;
    bool has_valid;
  } cases[] = {
      {{}, 0, false},
      {{false, false}, 0, false},
      {{false, true, true}, 1, true},
      {{true, false, true}, 0, true},
  };
  for (const Case& c : cases) {
    CertPathBuilder::Result result;
    for (bool valid : c.valid)
      result.AddPath(make_path(valid));
    EXPECT_EQ(c.best, result.best_result_index);
    EXPECT_EQ(c.has_valid, result.HasValidPath());
  }

  // A path with an error-severity entry is not valid; a warning is fine.
  auto warned = make_path(true);
  warned->errors.GetErrorsForCert(0)->AddWarning("just a warning");
  EXPECT_TRUE(warned->IsValid());
  warned->errors.GetErrorsForCert(0)->AddError("an error");
  EXPECT_FALSE(warned->IsValid());
}

}  // namespace
}  // namespace net
