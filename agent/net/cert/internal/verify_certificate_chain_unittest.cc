#include "agent/net/cert/internal/verify_certificate_chain.h"

#include <set>
#include <string>
#include <vector>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/cert_test_builder.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/simple_path_builder_delegate.h"
#include "agent/net/cert/internal/test_certificates.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Hex;

constexpr CertificateTrustType kAnchor =
    CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS;

const std::string kP1 = Hex("2B0601040183B2030101");  // 1.3.6.1.4.1.55555.1.1
const std::string kP9 = Hex("2B0601040183B2030909");  // 1.3.6.1.4.1.55555.9.9

// The entries of one list as "ERROR: <text>" / "WARNING: <text>".
std::vector<std::string> Entries(const CertErrors& errors) {
  std::vector<std::string> out;
  for (const CertErrorNode& node : errors.nodes()) {
    out.push_back(std::string(node.severity == SEVERITY_ERROR ? "ERROR: "
                                                              : "WARNING: ") +
                  CertErrorIdToDebugString(node.id));
  }
  return out;
}

struct Options {
  CertificateTrustType trust = kAnchor;
  KeyPurpose purpose = KeyPurpose::CLIENT_AUTH;
  der::GeneralizedTime time = test::TestVerificationTime();
  InitialExplicitPolicy explicit_policy = InitialExplicitPolicy::kFalse;
  InitialPolicyMappingInhibit mapping_inhibit =
      InitialPolicyMappingInhibit::kFalse;
  InitialAnyPolicyInhibit any_inhibit = InitialAnyPolicyInhibit::kFalse;
  std::set<der::Input> initial_policies = {AnyPolicy()};
};

struct Result {
  // One list of entries per certificate, then the path's own.
  std::vector<std::vector<std::string>> per_cert;
  std::vector<std::string> other;
  std::set<std::string> constrained_policies;
  bool constrained_set_written = false;
};

Result Verify(const ParsedCertificateList& certs, const Options& options,
              VerifyCertificateChainDelegate* delegate = nullptr) {
  SimplePathBuilderDelegate default_delegate(
      2048, SimplePathBuilderDelegate::DigestPolicy::kStrong);
  if (!delegate)
    delegate = &default_delegate;
  CertificateTrust trust;
  trust.type = options.trust;
  // A sentinel that tells whether the output was written.
  const std::string sentinel = "unwritten";
  std::set<der::Input> constrained = {der::Input(sentinel)};
  CertPathErrors errors;
  VerifyCertificateChain(certs, trust, delegate, options.time, options.purpose,
                         options.explicit_policy, options.initial_policies,
                         options.mapping_inhibit, options.any_inhibit,
                         &constrained, &errors);
  Result result;
  for (size_t i = 0; i < certs.size(); ++i)
    result.per_cert.push_back(Entries(*errors.GetErrorsForCert(i)));
  result.other = Entries(*errors.GetOtherErrors());
  result.constrained_set_written = constrained.count(der::Input(sentinel)) == 0;
  for (const der::Input& policy : constrained)
    result.constrained_policies.insert(policy.AsString());
  return result;
}

ParsedCertificateList Chain(const std::vector<std::string>& names) {
  ParsedCertificateList certs;
  for (const std::string& name : names)
    certs.push_back(test::ParseTestCert(name));
  return certs;
}

struct ChainCase {
  const char* name;
  std::vector<std::string> chain;
  Options options;
  // Expected entries per certificate, target first.
  std::vector<std::vector<std::string>> per_cert;
};

Options WithTrust(CertificateTrustType trust) {
  Options options;
  options.trust = trust;
  return options;
}

Options WithPurpose(KeyPurpose purpose) {
  Options options;
  options.purpose = purpose;
  return options;
}

Options AtTime(uint16_t year, uint8_t month, uint8_t day) {
  Options options;
  options.time = der::GeneralizedTime{year, month, day, 0, 0, 0};
  return options;
}

const std::vector<std::string> kNone;

std::vector<ChainCase> ChainCases() {
  const std::vector<std::string> basic = {"leaf", "intermediate", "root"};
  Options mapping_inhibited;
  mapping_inhibited.mapping_inhibit = InitialPolicyMappingInhibit::kTrue;
  Options any_inhibited;
  any_inhibited.any_inhibit = InitialAnyPolicyInhibit::kTrue;
  Options explicit_required;
  explicit_required.explicit_policy = InitialExplicitPolicy::kTrue;

  return {
      {"valid", basic, Options(), {kNone, kNone, kNone}},
      {"valid_for_server_auth", basic, WithPurpose(KeyPurpose::SERVER_AUTH),
       {kNone, kNone, kNone}},
      {"anchor_without_constraints", basic,
       WithTrust(CertificateTrustType::TRUSTED_ANCHOR), {kNone, kNone, kNone}},
      {"anchor_unspecified", basic,
       WithTrust(CertificateTrustType::UNSPECIFIED),
       {kNone, kNone, {"ERROR: Certificate is not a trust anchor"}}},
      {"anchor_distrusted", basic,
       WithTrust(CertificateTrustType::DISTRUSTED),
       {kNone, kNone, {"ERROR: Distrusted by trust store"}}},
      {"expired", {"leaf_expired", "intermediate", "root"}, Options(),
       {{"ERROR: Time is after notAfter"}, kNone, kNone}},
      {"not_yet_valid", {"leaf_not_yet_valid", "intermediate", "root"},
       Options(), {{"ERROR: Time is before notBefore"}, kNone, kNone}},
      // Both validity bounds are inclusive.
      {"at_not_before", basic, AtTime(2020, 1, 1), {kNone, kNone, kNone}},
      {"at_not_after", basic, AtTime(2040, 1, 1), {kNone, kNone, kNone}},
      {"one_second_after_not_after", basic,
       [] {
         Options o = AtTime(2040, 1, 1);
         o.time.seconds = 1;
         return o;
       }(),
       {{"ERROR: Time is after notAfter"},
        {"ERROR: Time is after notAfter"},
        kNone}},
      {"path_length_exhausted",
       {"leaf_below_pathlen0", "intermediate_below_pathlen0",
        "intermediate_pathlen0", "root"},
       Options(),
       {kNone, {"ERROR: max_path_length reached"}, kNone, kNone}},
      // A self-issued intermediate does not count against the path length.
      {"self_issued_does_not_use_path_length",
       {"leaf_below_self_issued", "self_issued_below_pathlen0",
        "intermediate_pathlen0", "root"},
       Options(), {kNone, kNone, kNone, kNone}},
      // A constrained anchor's path length replaces the initial one.
      {"anchor_path_length_applies",
       {"leaf_below_pathlen0", "intermediate_below_pathlen0",
        "intermediate_pathlen0"},
       Options(), {kNone, {"ERROR: max_path_length reached"}, kNone}},
      {"anchor_path_length_ignored_without_constraints",
       {"leaf_below_pathlen0", "intermediate_below_pathlen0",
        "intermediate_pathlen0"},
       WithTrust(CertificateTrustType::TRUSTED_ANCHOR), {kNone, kNone, kNone}},
      // A self-issued intermediate is not checked against the name
      // constraints above it; the target always is.
      {"self_issued_exempt_from_name_constraints",
       {"leaf_below_nc_dir", "self_issued_below_nc_dir",
        "intermediate_nc_dir", "root"},
       Options(), {kNone, kNone, kNone, kNone}},
      {"self_issued_target_checked_against_name_constraints",
       {"self_issued_below_nc_dir", "intermediate_nc_dir", "root"},
       WithPurpose(KeyPurpose::ANY_EKU),
       {{"ERROR: Not permitted by name constraints"}, kNone, kNone}},
      // The anchor's validity dates are never examined.
      {"expired_constrained_anchor",
       {"leaf_under_expired_root", "root_expired"}, Options(), {kNone, kNone}},
      {"intermediate_without_basic_constraints",
       {"leaf_under_no_bc", "intermediate_no_bc", "root"}, Options(),
       {kNone, {"ERROR: Does not have Basic Constraints"}, kNone}},
      {"intermediate_not_a_ca",
       {"leaf_under_not_ca", "intermediate_not_ca", "root"}, Options(),
       {kNone, {"ERROR: Basic Constraints indicates not a CA"}, kNone}},
      {"intermediate_without_key_cert_sign",
       {"leaf_under_no_keycertsign", "intermediate_no_keycertsign", "root"},
       Options(), {kNone, {"ERROR: keyCertSign bit is not set"}, kNone}},
      // Key purposes are checked on intermediates too.
      {"intermediate_eku_lacks_client_auth",
       {"leaf_under_eku_server", "intermediate_eku_server", "root"}, Options(),
       {kNone,
        {"ERROR: The extended key usage does not include client auth"},
        kNone}},
      {"intermediate_eku_server_auth_ok",
       {"leaf_under_eku_server", "intermediate_eku_server", "root"},
       WithPurpose(KeyPurpose::SERVER_AUTH), {kNone, kNone, kNone}},
      {"any_eku_checks_nothing",
       {"leaf_under_eku_server", "intermediate_eku_server", "root"},
       WithPurpose(KeyPurpose::ANY_EKU), {kNone, kNone, kNone}},
      // A constrained anchor's key purposes apply; a plain anchor's do not.
      {"constrained_anchor_eku",
       {"leaf_under_eku_server", "intermediate_eku_server"}, Options(),
       {kNone,
        {"ERROR: The extended key usage does not include client auth"}}},
      {"plain_anchor_eku_ignored",
       {"leaf_under_eku_server", "intermediate_eku_server"},
       WithTrust(CertificateTrustType::TRUSTED_ANCHOR), {kNone, kNone}},
      {"name_constraints_permit", {"leaf_nc_ok", "intermediate_nc", "root"},
       Options(), {kNone, kNone, kNone}},
      {"name_constraints_refuse", {"leaf_nc_bad", "intermediate_nc", "root"},
       Options(),
       {{"ERROR: Not permitted by name constraints"}, kNone, kNone}},
      {"policy_mapped", {"leaf_policy_p2", "intermediate_policy", "root"},
       Options(), {kNone, kNone, kNone}},
      // The intermediate maps P1 away and requires an explicit policy: the
      // tree dies at the target, and both checks there record it.
      {"policy_mapped_away", {"leaf_policy_p1", "intermediate_policy", "root"},
       Options(),
       {{"ERROR: No valid policy", "ERROR: No valid policy"}, kNone, kNone}},
      {"policy_mapping_inhibited",
       {"leaf_policy_p2", "intermediate_policy", "root"}, mapping_inhibited,
       {{"ERROR: No valid policy", "ERROR: No valid policy"}, kNone, kNone}},
      {"any_policy_intermediate", {"leaf_policy_p9", "intermediate_any_policy",
                                   "root"},
       Options(), {kNone, kNone, kNone}},
      {"any_policy_inhibited_initially",
       {"leaf_policy_p9", "intermediate_any_policy", "root"}, any_inhibited,
       {{"ERROR: No valid policy", "ERROR: No valid policy"}, kNone, kNone}},
      {"inhibit_any_policy_extension",
       {"leaf_any_policy", "intermediate_inhibit_any", "root"}, Options(),
       {{"ERROR: No valid policy", "ERROR: No valid policy"}, kNone, kNone}},
      // No certificatePolicies in the intermediate: the tree is gone, which
      // matters only when an explicit policy is required.
      {"no_policies_not_required", basic, Options(), {kNone, kNone, kNone}},
      {"no_policies_required", basic, explicit_required,
       {{"ERROR: No valid policy", "ERROR: No valid policy"},
        {"ERROR: No valid policy"},
        kNone}},
      {"unknown_critical_extension",
       {"leaf_unknown_critical", "intermediate", "root"}, Options(),
       {{"ERROR: Unconsumed critical extension"}, kNone, kNone}},
      {"critical_policies_with_unknown_qualifier",
       {"leaf_policy_unknown_qualifier", "intermediate", "root"}, Options(),
       {{"ERROR: Unconsumed critical extension"}, kNone, kNone}},
      {"target_looks_like_ca", {"leaf_looks_like_ca", "intermediate", "root"},
       Options(),
       {{"ERROR: Target certificate looks like a CA but does not set all CA "
         "properties"},
        kNone,
        kNone}},
      {"target_key_too_small", {"leaf_small_key", "intermediate", "root"},
       Options(),
       {{"ERROR: RSA modulus too small", "ERROR: Unacceptable public key"},
        kNone,
        kNone}},
      // The leaf was not issued by this intermediate: its signature fails
      // and nothing after that is checked.
      {"wrong_issuer", {"leaf", "intermediate_nc", "root"}, Options(),
       {{"ERROR: VerifySignedData failed"}, kNone, kNone}},
  };
}

TEST(VerifyCertificateChainTest, FixtureChains) {
  for (const ChainCase& c : ChainCases()) {
    SCOPED_TRACE(c.name);
    Result result = Verify(Chain(c.chain), c.options);
    EXPECT_EQ(c.per_cert, result.per_cert);
    EXPECT_EQ(kNone, result.other);
  }
}

TEST(VerifyCertificateChainTest, UserConstrainedPolicySet) {
  struct Case {
    const char* name;
    std::vector<std::string> chain;
    Options options;
    bool written;
    std::set<std::string> policies;
  } cases[] = {
      {"no_policies", {"leaf", "intermediate", "root"}, Options(), true, {}},
      {"mapped_from_p1",
       {"leaf_policy_p2", "intermediate_policy", "root"},
       Options(),
       true,
       {kP1}},
      {"through_any_policy",
       {"leaf_policy_p9", "intermediate_any_policy", "root"},
       Options(),
       true,
       {kP9}},
      // An invalid path that was processed to its end still gives a set.
      {"expired", {"leaf_expired", "intermediate", "root"}, Options(), true,
       {}},
      {"stopped_at_signature", {"leaf", "intermediate_nc", "root"}, Options(),
       false, {}},
      {"stopped_at_anchor",
       {"leaf", "intermediate", "root"},
       WithTrust(CertificateTrustType::UNSPECIFIED),
       false,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result result = Verify(Chain(c.chain), c.options);
    EXPECT_EQ(c.written, result.constrained_set_written);
    if (c.written) {
      EXPECT_EQ(c.policies, result.constrained_policies);
    }
  }
}

TEST(VerifyCertificateChainTest, ChainsTooShort) {
  Result empty = Verify({}, Options());
  EXPECT_EQ(std::vector<std::string>{"ERROR: Chain is empty"}, empty.other);
  EXPECT_FALSE(empty.constrained_set_written);
  Result one = Verify(Chain({"root"}), Options());
  EXPECT_EQ(std::vector<std::string>{"ERROR: Cannot verify a chain of length 1"},
            one.other);
  EXPECT_EQ(std::vector<std::vector<std::string>>{kNone}, one.per_cert);
}

// sha256WithRSAEncryption without the NULL parameters.
std::string Sha256WithRsaNoParams() {
  return test::Sequence(test::Oid(Hex("2A864886F70D01010B")));
}

std::string Sha384WithRsa() {
  return test::Sequence(test::Oid(Hex("2A864886F70D01010C")) + Hex("0500"));
}

TEST(VerifyCertificateChainTest, OuterAndInnerSignatureAlgorithms) {
  const std::string leaf = test::ReadTestCertDer("leaf");
  ParsedCertificateList certs = Chain({"leaf", "intermediate", "root"});

  // Another encoding of the same algorithm: a warning, and the signature
  // still verifies.
  certs[0] = test::ParseCertDer(
      test::ReplaceOuterSignatureAlgorithm(leaf, Sha256WithRsaNoParams()));
  ASSERT_TRUE(certs[0]);
  Result equivalent = Verify(certs, Options());
  EXPECT_EQ((std::vector<std::string>{
                "WARNING: Certificate.signatureAlgorithm is encoded "
                "differently than TBSCertificate.signature"}),
            equivalent.per_cert[0]);
  EXPECT_TRUE(equivalent.constrained_set_written);

  // Another algorithm: an error; the signature is checked with the outer
  // algorithm, fails, and verification stops.
  certs[0] = test::ParseCertDer(
      test::ReplaceOuterSignatureAlgorithm(leaf, Sha384WithRsa()));
  ASSERT_TRUE(certs[0]);
  Result mismatch = Verify(certs, Options());
  EXPECT_EQ((std::vector<std::string>{
                "ERROR: Certificate.signatureAlgorithm != "
                "TBSCertificate.signature",
                "ERROR: VerifySignedData failed"}),
            mismatch.per_cert[0]);
  EXPECT_FALSE(mismatch.constrained_set_written);

  CertPathErrors errors;
  SimplePathBuilderDelegate delegate(
      2048, SimplePathBuilderDelegate::DigestPolicy::kStrong);
  VerifyCertificateChain(certs, CertificateTrust::AnchorWithConstraints(),
                         &delegate, test::TestVerificationTime(),
                         KeyPurpose::ANY_EKU, InitialExplicitPolicy::kFalse,
                         {AnyPolicy()}, InitialPolicyMappingInhibit::kFalse,
                         InitialAnyPolicyInhibit::kFalse, nullptr, &errors);
  const std::string text = errors.GetErrorsForCert(0)->ToDebugString();
  EXPECT_NE(std::string::npos,
            text.find("  Certificate.algorithm: 300D06092A864886F70D01010C0500"))
      << text;
  EXPECT_NE(std::string::npos,
            text.find("  TBSCertificate.signature: 300D06092A864886F70D01010B0500"))
      << text;
}

// Refuses every signature algorithm, accepts every key.
class RefusingDelegate : public VerifyCertificateChainDelegate {
 public:
  bool AcceptsSignatureAlgorithm(const SignatureAlgorithm&,
                                 CertErrors*) override {
    return false;
  }
  bool AcceptsPublicKey(EVP_PKEY*, CertErrors*) override { return true; }
};

TEST(VerifyCertificateChainTest, RefusedSignatureAlgorithmStops) {
  RefusingDelegate delegate;
  Result result =
      Verify(Chain({"leaf", "intermediate", "root"}), Options(), &delegate);
  EXPECT_EQ(kNone, result.per_cert[0]);
  EXPECT_EQ(std::vector<std::string>{"ERROR: Unacceptable signature algorithm"},
            result.per_cert[1]);
  EXPECT_FALSE(result.constrained_set_written);
}

TEST(VerifyCertificateChainTest, UnconsumedCriticalExtensionNamesIt) {
  CertErrors errors;
  VerifyNoUnconsumedCriticalExtensions(
      *test::ParseTestCert("leaf_unknown_critical"), &errors);
  EXPECT_EQ(
      "ERROR: Unconsumed critical extension\n"
      "  oid: 2B0601040183B20363\n"
      "  value: 0500\n",
      errors.ToDebugString());
  // The known critical extensions of a leaf are all consumed.
  CertErrors none;
  VerifyNoUnconsumedCriticalExtensions(*test::ParseTestCert("leaf"), &none);
  EXPECT_TRUE(none.empty());
}

TEST(VerifyCertificateChainTest, IsSelfIssued) {
  EXPECT_TRUE(IsSelfIssued(*test::ParseTestCert("root")));
  EXPECT_TRUE(IsSelfIssued(*test::ParseTestCert("self_issued_below_pathlen0")));
  // Equal once normalized.
  EXPECT_TRUE(IsSelfIssued(*test::ParseTestCert("root_lookalike")));
  EXPECT_FALSE(IsSelfIssued(*test::ParseTestCert("intermediate")));
}

}  // namespace
}  // namespace net
