// Our path builder and chain verifier against `openssl verify` on the same
// chains, roots and time. The chains and openssl's verdicts come from
// path_builder_testdata/differential/make_differential_chains.sh. Every
// chain either gets the same verdict from both, or is listed below with the
// rule of ours that explains the difference.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/strings/string_split.h"
#include "agent/net/cert/internal/cert_issuer_source_static.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/path_builder.h"
#include "agent/net/cert/internal/simple_path_builder_delegate.h"
#include "agent/net/cert/internal/trust_store_in_memory.h"
#include "agent/net/cert/pem.h"
#include "agent/net/cert/x509_util.h"
#include "gtest/gtest.h"

namespace net {
namespace {

// Chains where openssl and we disagree on purpose, and why.
const std::map<std::string, std::string>& KnownDisagreements() {
  static const auto* known = new std::map<std::string, std::string>{
      {"root_expired",
       "We accept: a trust anchor contributes its key, name and constraints, "
       "never its validity dates; openssl checks the root's dates too."},
      {"leaf_key_usage_no_digital_signature",
       "We accept: chain verification does not read the target's keyUsage "
       "for a key purpose (the device validator checks digitalSignature "
       "itself); openssl's sslclient purpose requires it."},
      {"leaf_rsa1024",
       "We reject: the path builder's delegate refuses RSA keys below 2048 "
       "bits; openssl's default security level accepts 1024."},
  };
  return *known;
}

std::string ReadChainFile(const std::string& name) {
  std::string contents;
  EXPECT_TRUE(kelmbase::ReadFileToString(
      kelmbase::FilePath(KELM_PATH_BUILDER_TESTDATA_DIR)
          .Append("differential")
          .Append(name),
      &contents))
      << name;
  return contents;
}

ParsedCertificateList ParsePem(const std::string& pem) {
  ParsedCertificateList certs;
  PEMTokenizer tokenizer(pem, {"CERTIFICATE"});
  while (tokenizer.GetNext()) {
    CertErrors errors;
    scoped_refptr<ParsedCertificate> cert = ParsedCertificate::Create(
        CreateCertBuffer(der::Input(tokenizer.data())),
        ParseCertificateOptions(), &errors);
    EXPECT_TRUE(cert) << errors.ToDebugString();
    if (cert)
      certs.push_back(std::move(cert));
  }
  return certs;
}

// Our verdict on chain `name`, with the errors of the best path for the
// failure message.
bool WeAccept(const std::string& name, std::string* errors) {
  ParsedCertificateList leaf = ParsePem(ReadChainFile(name + ".leaf.pem"));
  ParsedCertificateList roots = ParsePem(ReadChainFile(name + ".root.pem"));
  ParsedCertificateList untrusted =
      ParsePem(ReadChainFile(name + ".untrusted.pem"));
  EXPECT_EQ(1u, leaf.size());
  EXPECT_EQ(1u, roots.size());
  if (leaf.size() != 1 || roots.size() != 1)
    return false;

  TrustStoreInMemory trust_store;
  trust_store.AddConstrainedTrustAnchor(roots[0]);
  CertIssuerSourceStatic intermediates;
  for (const auto& cert : untrusted)
    intermediates.AddCert(cert);
  // The device validator's policy: RSA from 2048 bits, SHA-1 allowed.
  SimplePathBuilderDelegate delegate(
      2048, SimplePathBuilderDelegate::DigestPolicy::kWeakAllowSha1);
  der::GeneralizedTime time;
  time.year = 2025;
  time.month = 6;
  time.day = 1;
  time.hours = 12;
  CertPathBuilder builder(leaf[0], &trust_store, &delegate, time,
                          KeyPurpose::CLIENT_AUTH,
                          InitialExplicitPolicy::kFalse, {AnyPolicy()},
                          InitialPolicyMappingInhibit::kFalse,
                          InitialAnyPolicyInhibit::kFalse);
  builder.AddIssuerSource(&intermediates);
  CertPathBuilder::Result result = builder.Run();
  if (!result.paths.empty()) {
    CertPathBuilderResultPath& best = *result.paths[result.best_result_index];
    for (size_t i = 0; i < best.certs.size(); ++i) {
      *errors += "cert " + std::to_string(i) + ":\n" +
                 best.errors.GetErrorsForCert(i)->ToDebugString();
    }
  } else {
    *errors = "no candidate path";
  }
  return result.HasValidPath();
}

TEST(PathBuilderDifferentialTest, AgreesWithOpensslVerifyOrSaysWhy) {
  const std::vector<std::string> lines = kelmbase::SplitBySubstring(
      ReadChainFile("openssl_verdicts.txt"), "\n", kelmbase::kTrimWhitespace,
      kelmbase::kWantNonEmpty);
  ASSERT_FALSE(lines.empty());
  std::set<std::string> disagreements;
  size_t rejected_by_openssl = 0;
  for (const std::string& line : lines) {
    const size_t space = line.find(' ');
    ASSERT_NE(std::string::npos, space) << line;
    const std::string name = line.substr(0, space);
    const bool openssl_accepts = line.substr(space + 1) == "ok";
    if (!openssl_accepts)
      ++rejected_by_openssl;
    std::string our_errors;
    const bool we_accept = WeAccept(name, &our_errors);
    if (we_accept != openssl_accepts)
      disagreements.insert(name);
    const auto known = KnownDisagreements().find(name);
    if (known == KnownDisagreements().end()) {
      EXPECT_EQ(openssl_accepts, we_accept)
          << name << ": openssl says \"" << line.substr(space + 1)
          << "\"; ours:\n"
          << our_errors;
    } else {
      EXPECT_NE(openssl_accepts, we_accept)
          << name << " is listed as a disagreement but both now agree; "
          << "drop it from the list (" << known->second << ")";
    }
  }
  // Every listed disagreement names a chain that exists.
  for (const auto& [name, rule] : KnownDisagreements())
    EXPECT_TRUE(disagreements.count(name)) << name << ": " << rule;
  // The chains cover both verdicts.
  EXPECT_GT(rejected_by_openssl, 10u);
  EXPECT_LT(rejected_by_openssl, lines.size());
}

}  // namespace
}  // namespace net
