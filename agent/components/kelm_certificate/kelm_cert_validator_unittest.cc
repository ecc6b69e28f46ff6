#include "agent/components/kelm_certificate/kelm_cert_validator.h"

#include <openssl/sha.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/statistics_recorder.h"
#include "agent/components/kelm_certificate/kelm_root_certs.h"
#include "agent/net/cert/internal/path_builder.h"
#include "agent/net/cert/internal/trust_store_in_memory.h"
#include "agent/net/cert/pem.h"
#include "agent/net/cert/x509_util.h"
#include "gtest/gtest.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace kelm_certificate {
namespace {

std::string ReadFile(const char* dir, const std::string& name) {
  std::string contents;
  EXPECT_TRUE(
      kelmbase::ReadFileToString(kelmbase::FilePath(dir).Append(name), &contents))
      << name;
  return contents;
}

// testdata/<name>.der.
std::string Der(const std::string& name) {
  return ReadFile(KELM_VALIDATOR_TESTDATA_DIR, name + ".der");
}

std::vector<std::string> Chain(const std::vector<std::string>& names) {
  std::vector<std::string> chain;
  for (const std::string& name : names)
    chain.push_back(Der(name));
  return chain;
}

kelmbase::Time At(int year, int month, int day) {
  kelmbase::Time::Breakdown breakdown = {};
  breakdown.year = year;
  breakdown.month = month;
  breakdown.day_of_month = day;
  kelmbase::Time time;
  EXPECT_TRUE(kelmbase::Time::FromBreakdown(false, breakdown, &time));
  return time;
}

// Inside every test certificate that is not meant to be out of date.
kelmbase::Time VerifyTime() {
  return At(2028, 1, 1);
}

constexpr char kDeviceCommonName[] = "DA:4E:71:00:00:01";

// Answers with a fixed verdict and remembers what it was asked.
class FixedCrl : public Crl {
 public:
  explicit FixedCrl(bool accept) : accept_(accept) {}
  bool CheckRevocation(const net::ParsedCertificateList& path,
                       const kelmbase::Time& time) override {
    ++calls;
    seen_path = path;
    seen_time = time;
    return accept_;
  }

  int calls = 0;
  net::ParsedCertificateList seen_path;
  kelmbase::Time seen_time;

 private:
  const bool accept_;
};

// A context the caller held before the call, to see whether it was
// replaced.
class MarkerContext : public CertVerificationContext {
 public:
  explicit MarkerContext(bool* destroyed) : destroyed_(destroyed) {}
  ~MarkerContext() override { *destroyed_ = true; }
  bool VerifySignature(const std::string&, const std::string&,
                       net::DigestAlgorithm) const override {
    return false;
  }
  std::string CommonName() const override { return "marker"; }

 private:
  bool* destroyed_;
};

constexpr int kUnset = -7;

struct Case {
  const char* what;
  std::vector<std::string> chain;
  KelmCertError expected;
  // The policy out-parameter afterwards; kUnset when it must not be written.
  int expected_policy;
};

TEST(KelmCertValidatorTest, EveryOutcomeAgainstTheBuiltInRoots) {
  const Case kCases[] = {
      {"plain device chain", {"device", "model_intermediate"}, OK, NONE},
      {"SHA-1 signature is allowed", {"device_sha1", "model_intermediate"},
       OK, NONE},
      {"chain to the second root", {"device_legacy", "legacy_intermediate"},
       OK, NONE},
      {"intermediates in any order, unrelated ones ignored",
       {"device_legacy", "model_intermediate", "legacy_intermediate"}, OK,
       NONE},
      {"zero serial number parses", {"device_zero_serial", "model_intermediate"},
       OK, NONE},
      {"21-byte serial number parses",
       {"device_long_serial", "model_intermediate"}, OK, NONE},
      {"audio-only policy on the intermediate",
       {"device_audio", "audio_intermediate"}, OK, AUDIO_ONLY},
      {"audio-only policy reported though keyUsage is missing",
       {"device_audio_no_key_usage", "audio_intermediate"},
       ERR_CERTS_RESTRICTIONS, AUDIO_ONLY},
      {"no keyUsage", {"device_no_key_usage", "model_intermediate"},
       ERR_CERTS_RESTRICTIONS, NONE},
      {"keyUsage without digitalSignature",
       {"device_key_encipherment", "model_intermediate"},
       ERR_CERTS_RESTRICTIONS, NONE},
      {"no commonName", {"device_no_common_name", "model_intermediate"},
       ERR_CERTS_RESTRICTIONS, NONE},
      {"expired", {"device_expired", "model_intermediate"},
       ERR_CERTS_DATE_INVALID, kUnset},
      {"not yet valid", {"device_not_yet_valid", "model_intermediate"},
       ERR_CERTS_DATE_INVALID, kUnset},
      {"server auth only", {"device_server_auth", "model_intermediate"},
       ERR_CERTS_VERIFY_GENERIC, kUnset},
      {"broken signature", {"device_bad_signature", "model_intermediate"},
       ERR_CERTS_VERIFY_GENERIC, kUnset},
      {"RSA-1024 device key", {"device_small_key", "model_intermediate"},
       ERR_CERTS_VERIFY_GENERIC, kUnset},
      {"untrusted root",
       {"device_untrusted", "untrusted_intermediate", "untrusted_root"},
       ERR_CERTS_VERIFY_GENERIC, kUnset},
      {"intermediate missing: no candidate path", {"device"},
       ERR_CERTS_VERIFY_GENERIC, kUnset},
      {"path longer than the root allows",
       {"device_deep", "deep_3", "deep_2", "deep_1"}, ERR_CERTS_VERIFY_GENERIC,
       kUnset},
      {"intermediate that is not a CA",
       {"device_under_not_ca", "not_ca_intermediate"},
       ERR_CERTS_VERIFY_GENERIC, kUnset},
      {"garbage intermediate", {"device", "garbage"}, ERR_CERTS_PARSE, kUnset},
      {"garbage device certificate", {"garbage", "model_intermediate"},
       ERR_CERTS_PARSE, kUnset},
      {"empty list", {}, ERR_CERTS_MISSING, kUnset},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<CertVerificationContext> context;
    DeviceCertPolicy policy = static_cast<DeviceCertPolicy>(kUnset);
    EXPECT_EQ(c.expected,
              VerifyDeviceCertificate(Chain(c.chain), VerifyTime(), &context,
                                      &policy, nullptr, CRL_OPTIONAL));
    EXPECT_EQ(c.expected_policy, policy);
    // A context only for a usable device certificate.
    ASSERT_EQ(c.expected == OK, context != nullptr);
    if (context) {
      EXPECT_EQ(kDeviceCommonName, context->CommonName());
    }
  }
}

TEST(KelmCertValidatorTest, CrlPolicyAndRevocation) {
  const std::vector<std::string> chain = Chain({"device", "model_intermediate"});
  DeviceCertPolicy policy = NONE;

  {
    SCOPED_TRACE("required but missing");
    std::unique_ptr<CertVerificationContext> context;
    EXPECT_EQ(ERR_CRL_INVALID,
              VerifyDeviceCertificate(chain, VerifyTime(), &context, &policy,
                                      nullptr, CRL_REQUIRED));
    EXPECT_EQ(nullptr, context);
  }
  {
    SCOPED_TRACE("an empty list is reported first");
    std::unique_ptr<CertVerificationContext> context;
    EXPECT_EQ(ERR_CERTS_MISSING,
              VerifyDeviceCertificate({}, VerifyTime(), &context, &policy,
                                      nullptr, CRL_REQUIRED));
  }
  {
    SCOPED_TRACE("accepting revocation object");
    FixedCrl crl(true);
    std::unique_ptr<CertVerificationContext> context;
    EXPECT_EQ(OK, VerifyDeviceCertificate(chain, VerifyTime(), &context,
                                          &policy, &crl, CRL_REQUIRED));
    EXPECT_EQ(1, crl.calls);
    // The verified path, device first and built-in root last, and the time.
    ASSERT_EQ(3u, crl.seen_path.size());
    EXPECT_EQ(net::der::Input(chain[0]), crl.seen_path[0]->der_cert());
    EXPECT_EQ(net::der::Input(chain[1]), crl.seen_path[1]->der_cert());
    EXPECT_EQ(net::der::Input(kRootCert1.der, kRootCert1.length),
              crl.seen_path[2]->der_cert());
    EXPECT_EQ(VerifyTime(), crl.seen_time);
  }
  {
    SCOPED_TRACE("rejecting revocation object still replaces the context");
    FixedCrl crl(false);
    bool marker_destroyed = false;
    std::unique_ptr<CertVerificationContext> context =
        std::make_unique<MarkerContext>(&marker_destroyed);
    EXPECT_EQ(ERR_CERTS_REVOKED,
              VerifyDeviceCertificate(chain, VerifyTime(), &context, &policy,
                                      &crl, CRL_OPTIONAL));
    EXPECT_TRUE(marker_destroyed);
    ASSERT_NE(nullptr, context);
    EXPECT_EQ(kDeviceCommonName, context->CommonName());
  }
  {
    SCOPED_TRACE("not asked when the chain fails");
    FixedCrl crl(true);
    std::unique_ptr<CertVerificationContext> context;
    EXPECT_EQ(ERR_CERTS_DATE_INVALID,
              VerifyDeviceCertificate(Chain({"device_expired",
                                             "model_intermediate"}),
                                      VerifyTime(), &context, &policy, &crl,
                                      CRL_REQUIRED));
    EXPECT_EQ(0, crl.calls);
  }
}

TEST(KelmCertValidatorTest, FailureLeavesTheCallersContextAlone) {
  bool marker_destroyed = false;
  std::unique_ptr<CertVerificationContext> context =
      std::make_unique<MarkerContext>(&marker_destroyed);
  DeviceCertPolicy policy = NONE;
  EXPECT_EQ(ERR_CERTS_RESTRICTIONS,
            VerifyDeviceCertificate(
                Chain({"device_no_common_name", "model_intermediate"}),
                VerifyTime(), &context, &policy, nullptr, CRL_OPTIONAL));
  EXPECT_FALSE(marker_destroyed);
  EXPECT_EQ("marker", context->CommonName());
}

TEST(KelmCertValidatorTest, TimeOutsideGeneralizedTimeIsUnexpected) {
  std::unique_ptr<CertVerificationContext> context;
  DeviceCertPolicy policy = NONE;
  EXPECT_EQ(ERR_UNEXPECTED,
            VerifyDeviceCertificate(Chain({"device", "model_intermediate"}),
                                    kelmbase::Time::Max(), &context, &policy,
                                    nullptr, CRL_OPTIONAL));
}

TEST(KelmCertValidatorTest, ErrorText) {
  const struct {
    int32_t code;
    const char* text;
  } kCases[] = {
      {OK, "KelmCertError::OK"},
      {ERR_CERTS_MISSING, "KelmCertError::ERR_CERTS_MISSING"},
      {ERR_CERTS_PARSE, "KelmCertError::ERR_CERTS_PARSE"},
      {ERR_CERTS_RESTRICTIONS, "KelmCertError::ERR_CERTS_RESTRICTIONS"},
      {ERR_CERTS_DATE_INVALID, "KelmCertError::ERR_CERTS_DATE_INVALID"},
      {ERR_CERTS_VERIFY_GENERIC, "KelmCertError::ERR_CERTS_VERIFY_GENERIC"},
      {ERR_CRL_INVALID, "KelmCertError::ERR_CRL_INVALID"},
      {ERR_CERTS_REVOKED, "KelmCertError::ERR_CERTS_REVOKED"},
      {ERR_UNEXPECTED, "KelmCertError::ERR_UNEXPECTED"},
      {9, "KelmCertError::UNKNOWN"},
      {-1, "KelmCertError::UNKNOWN"},
      {INT32_MIN, "KelmCertError::UNKNOWN"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.text, KelmCertErrorToString(c.code)) << c.code;
}

TEST(KelmCertValidatorTest, BuiltInRootsAreTheDevelopmentRoots) {
  const std::string root_1 = ReadFile(KELM_DEV_PKI_DIR, "root_ca_1.der");
  const std::string root_2 = ReadFile(KELM_DEV_PKI_DIR, "root_ca_2.der");
  EXPECT_EQ(969u, kRootCert1.length);
  EXPECT_EQ(967u, kRootCert2.length);
  EXPECT_EQ(root_1, std::string(reinterpret_cast<const char*>(kRootCert1.der),
                                kRootCert1.length));
  EXPECT_EQ(root_2, std::string(reinterpret_cast<const char*>(kRootCert2.der),
                                kRootCert2.length));
}

TEST(KelmCertValidatorTest, CallersTrustStoreReplacesTheBuiltInRoots) {
  net::TrustStoreInMemory store;
  store.AddConstrainedTrustAnchor(
      net::ParsedCertificate::Create(
          net::CreateCertBuffer(net::der::Input(Der("untrusted_root"))),
          net::ParseCertificateOptions(), nullptr));
  std::unique_ptr<CertVerificationContext> context;
  DeviceCertPolicy policy = NONE;

  EXPECT_EQ(OK, VerifyDeviceCertificateWithTrustStore(
                    Chain({"device_untrusted", "untrusted_intermediate"}),
                    VerifyTime(), &context, &policy, nullptr, CRL_OPTIONAL,
                    &store));
  EXPECT_EQ(ERR_CERTS_VERIFY_GENERIC,
            VerifyDeviceCertificateWithTrustStore(
                Chain({"device", "model_intermediate"}), VerifyTime(),
                &context, &policy, nullptr, CRL_OPTIONAL, &store));
  // No store: the built-in roots.
  EXPECT_EQ(OK, VerifyDeviceCertificateWithTrustStore(
                    Chain({"device", "model_intermediate"}), VerifyTime(),
                    &context, &policy, nullptr, CRL_OPTIONAL, nullptr));
}

int64_t IterationCountSum() {
  kelmbase::HistogramBase* histogram = kelmbase::StatisticsRecorder::Find(
      net::kPathBuilderIterationCountHistogram);
  return histogram ? histogram->CopySamples()->sum() : 0;
}

// A dozen intermediates with one subject and issuer, none leading to a
// root: without a limit the search would walk 12! orderings of them.
std::vector<std::string> LoopChain() {
  std::vector<std::string> chain = {
      ReadFile(KELM_PATH_BUILDER_TESTDATA_DIR, "loop_leaf.der")};
  for (int i = 0; i < 12; ++i) {
    chain.push_back(ReadFile(KELM_PATH_BUILDER_TESTDATA_DIR,
                             (i < 10 ? "loop_0" : "loop_") + std::to_string(i) +
                                 ".der"));
  }
  return chain;
}

TEST(KelmCertValidatorTest, SearchThroughLookalikeIntermediatesIsBounded) {
  std::unique_ptr<CertVerificationContext> context;
  DeviceCertPolicy policy = NONE;
  const std::vector<std::string> chain = LoopChain();

  // The default limit: one past it ends the search.
  const int64_t before = IterationCountSum();
  EXPECT_EQ(ERR_CERTS_VERIFY_GENERIC,
            VerifyDeviceCertificate(chain, VerifyTime(), &context, &policy,
                                    nullptr, CRL_OPTIONAL));
  EXPECT_EQ(kDefaultMaxPathBuilderIterations + 1,
            IterationCountSum() - before);

  // A limit set for the test, reported back.
  PathSearchLimits limits;
  limits.max_iterations = 50;
  PathSearchReport report;
  const int64_t before_small = IterationCountSum();
  EXPECT_EQ(ERR_CERTS_VERIFY_GENERIC,
            VerifyDeviceCertificateWithLimits(chain, VerifyTime(), &context,
                                              &policy, nullptr, CRL_OPTIONAL,
                                              nullptr, limits, &report));
  EXPECT_TRUE(report.exceeded_iteration_limit);
  EXPECT_FALSE(report.exceeded_deadline);
  EXPECT_EQ(0u, report.paths_tried);
  EXPECT_EQ(51, IterationCountSum() - before_small);
}

TEST(KelmCertValidatorTest, DeadlineAndExploreAllAreHonoured) {
  std::unique_ptr<CertVerificationContext> context;
  DeviceCertPolicy policy = NONE;

  PathSearchLimits past;
  past.deadline =
      kelmbase::MonotonicTime::Now() - kelmbase::Duration::FromSeconds(1);
  PathSearchReport report;
  EXPECT_EQ(ERR_CERTS_VERIFY_GENERIC,
            VerifyDeviceCertificateWithLimits(
                Chain({"device", "model_intermediate"}), VerifyTime(), &context,
                &policy, nullptr, CRL_OPTIONAL, nullptr, past, &report));
  EXPECT_TRUE(report.exceeded_deadline);
  EXPECT_EQ(0u, report.paths_tried);

  // Two valid paths for one chain: directly under an anchor, and through a
  // cross certificate under another. The default stops at the first.
  net::TrustStoreInMemory store;
  for (const char* root : {"twin_root_match", "other_root"}) {
    store.AddConstrainedTrustAnchor(net::ParsedCertificate::Create(
        net::CreateCertBuffer(net::der::Input(
            ReadFile(KELM_PATH_BUILDER_TESTDATA_DIR, std::string(root) + ".der"))),
        net::ParseCertificateOptions(), nullptr));
  }
  std::vector<std::string> twin_chain;
  for (const char* name : {"twin_leaf", "twin_intermediate", "twin_cross"}) {
    twin_chain.push_back(
        ReadFile(KELM_PATH_BUILDER_TESTDATA_DIR, std::string(name) + ".der"));
  }
  for (bool explore_all : {false, true}) {
    PathSearchLimits limits;
    limits.explore_all_paths = explore_all;
    PathSearchReport explored;
    EXPECT_EQ(OK, VerifyDeviceCertificateWithLimits(
                      twin_chain, VerifyTime(), &context, &policy, nullptr,
                      CRL_OPTIONAL, &store, limits, &explored));
    EXPECT_EQ(explore_all ? 2u : 1u, explored.paths_tried);
    EXPECT_EQ("Twin Leaf", context->CommonName());
  }
}

// Calls back into the validator from the revocation check.
class ReentrantCrl : public Crl {
 public:
  explicit ReentrantCrl(net::TrustStore* store) : store_(store) {}
  bool CheckRevocation(const net::ParsedCertificateList& path,
                       const kelmbase::Time& time) override {
    std::unique_ptr<CertVerificationContext> context;
    DeviceCertPolicy policy = NONE;
    std::vector<std::string> certs;
    for (const auto& cert : path)
      certs.push_back(cert->der_cert().AsString());
    certs.pop_back();  // the anchor
    inner_result = VerifyDeviceCertificateWithTrustStore(
        certs, time, &context, &policy, nullptr, CRL_OPTIONAL, store_);
    return true;
  }
  KelmCertError inner_result = ERR_UNEXPECTED;

 private:
  net::TrustStore* store_;
};

TEST(KelmCertValidatorTest, ReentryFromTheRevocationCheck) {
  const std::vector<std::string> chain = Chain({"device", "model_intermediate"});
  std::unique_ptr<CertVerificationContext> context;
  DeviceCertPolicy policy = NONE;

  // With a caller's store no lock is held: calling back in is fine.
  net::TrustStoreInMemory store;
  store.AddConstrainedTrustAnchor(net::ParsedCertificate::Create(
      net::CreateCertBuffer(net::der::Input(kRootCert1.der, kRootCert1.length)),
      net::ParseCertificateOptions(), nullptr));
  ReentrantCrl into_callers_store(&store);
  EXPECT_EQ(OK, VerifyDeviceCertificateWithTrustStore(
                    chain, VerifyTime(), &context, &policy,
                    &into_callers_store, CRL_REQUIRED, &store));
  EXPECT_EQ(OK, into_callers_store.inner_result);

  // A check that runs under the built-in roots' lock may still verify
  // against a store of its own...
  ReentrantCrl own_store_inside(&store);
  EXPECT_EQ(OK, VerifyDeviceCertificate(chain, VerifyTime(), &context,
                                        &policy, &own_store_inside,
                                        CRL_REQUIRED));
  EXPECT_EQ(OK, own_store_inside.inner_result);

  // ...but asking for the built-in roots again would wait for itself.
  ReentrantCrl into_built_in(nullptr);
  EXPECT_DEATH(VerifyDeviceCertificate(chain, VerifyTime(), &context, &policy,
                                       &into_built_in, CRL_REQUIRED),
               "called back while verifying against the built-in roots");
}

TEST(KelmCertValidatorTest, DevelopmentLibraryDeviceCertificateValidates) {
  std::string model_chain;
  ASSERT_TRUE(kelm_auth::GetModelCertChain(&model_chain));
  std::vector<std::string> model_certs;
  net::PEMTokenizer tokenizer(model_chain, {"CERTIFICATE"});
  while (tokenizer.GetNext())
    model_certs.push_back(tokenizer.data());
  ASSERT_EQ(2u, model_certs.size());

  std::string wrapped_key;
  std::string device_cert = model_certs[0];  // the template goes in
  ASSERT_TRUE(kelm_auth::GenerateDeviceKeyAndCert("DA:4E:71:AB:CD:EF",
                                                  &wrapped_key, &device_cert));

  std::unique_ptr<CertVerificationContext> context;
  DeviceCertPolicy policy = AUDIO_ONLY;
  ASSERT_EQ(OK, VerifyDeviceCertificate({device_cert, model_certs[1]},
                                        kelmbase::Time::Now(), &context,
                                        &policy, nullptr, CRL_OPTIONAL));
  EXPECT_EQ(NONE, policy);
  ASSERT_NE(nullptr, context);
  EXPECT_EQ("DA:4E:71:AB:CD:EF", context->CommonName());

  // The context checks what the device key signs: a PKCS#1 SHA-256
  // signature made by the library over a DigestInfo block.
  const std::string data = "TEST";
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest);
  static constexpr uint8_t kSha256DigestInfoPrefix[] = {
      0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  std::string digest_info(reinterpret_cast<const char*>(kSha256DigestInfoPrefix),
                          sizeof(kSha256DigestInfoPrefix));
  digest_info.append(reinterpret_cast<const char*>(digest), sizeof(digest));
  std::string signature;
  ASSERT_TRUE(kelm_auth::SignHash(wrapped_key, digest_info, &signature));

  EXPECT_TRUE(context->VerifySignature(signature, data,
                                       net::DigestAlgorithm::SHA256));
  EXPECT_FALSE(context->VerifySignature(signature, "TESt",
                                        net::DigestAlgorithm::SHA256));
  EXPECT_FALSE(context->VerifySignature(signature, data,
                                        net::DigestAlgorithm::SHA1));
  std::string corrupt = signature;
  corrupt[corrupt.size() / 2] ^= 0x20;
  EXPECT_FALSE(context->VerifySignature(corrupt, data,
                                        net::DigestAlgorithm::SHA256));
}

}  // namespace
}  // namespace kelm_certificate
