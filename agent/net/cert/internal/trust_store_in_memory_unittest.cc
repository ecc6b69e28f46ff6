#include "agent/net/cert/internal/trust_store_in_memory.h"

#include <memory>
#include <string>

#include "agent/net/cert/internal/cert_test_builder.h"
#include "agent/net/cert/internal/test_certificates.h"
#include "gtest/gtest.h"

namespace net {
namespace {

using test::Attribute;
using test::Sequence;
using test::Set;

// A certificate issued under the root fixture's subject, written with
// PrintableStrings and other letter case: equal to it only once normalized.
scoped_refptr<ParsedCertificate> IssuedByRootInOtherEncoding() {
  test::TbsFields tbs;
  tbs.issuer = Sequence(
      Set(Attribute(TypeOrganizationNameOid(), der::kPrintableString,
                    "TARVIK TEST")) +
      Set(Attribute(TypeCommonNameOid(), der::kPrintableString,
                    "tarvik   test root")));
  return test::ParseCertDer(test::CertificateTlv(tbs.Build()));
}

class TrustStoreInMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = test::ParseTestCert("root");
    store_.AddConstrainedTrustAnchor(root_);
  }

  CertificateTrustType TrustOf(const ParsedCertificate* cert) const {
    CertificateTrust trust;
    trust.type = CertificateTrustType::DISTRUSTED;
    store_.GetTrust(cert, &trust, nullptr);
    return trust.type;
  }

  scoped_refptr<ParsedCertificate> root_;
  TrustStoreInMemory store_;
};

TEST_F(TrustStoreInMemoryTest, TrustAttachesToTheExactCertificate) {
  EXPECT_EQ(CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS,
            TrustOf(root_.get()));
  // Another object with the same bytes.
  scoped_refptr<ParsedCertificate> copy = test::ParseTestCert("root");
  ASSERT_NE(copy.get(), root_.get());
  EXPECT_EQ(CertificateTrustType::TRUSTED_ANCHOR_WITH_CONSTRAINTS,
            TrustOf(copy.get()));
  // The root's subject once normalized, but other bytes.
  scoped_refptr<ParsedCertificate> lookalike =
      test::ParseTestCert("root_lookalike");
  ASSERT_EQ(root_->normalized_subject(), lookalike->normalized_subject());
  EXPECT_EQ(CertificateTrustType::UNSPECIFIED, TrustOf(lookalike.get()));
  // No subject match at all.
  EXPECT_EQ(CertificateTrustType::UNSPECIFIED,
            TrustOf(test::ParseTestCert("leaf").get()));
}

TEST_F(TrustStoreInMemoryTest, FirstMatchingEntryGivesTheTrust) {
  CertificateTrust distrusted;
  distrusted.type = CertificateTrustType::DISTRUSTED;
  scoped_refptr<ParsedCertificate> leaf = test::ParseTestCert("leaf");
  store_.AddCertificate(leaf, distrusted);
  store_.AddCertificate(leaf, CertificateTrust::AnchorWithConstraints());
  EXPECT_EQ(CertificateTrustType::DISTRUSTED, TrustOf(leaf.get()));
}

TEST_F(TrustStoreInMemoryTest, IssuerSearchUsesNormalizedNames) {
  ParsedCertificateList issuers;
  store_.FindIssuers(IssuedByRootInOtherEncoding().get(), &issuers);
  ASSERT_EQ(1u, issuers.size());
  EXPECT_EQ(root_.get(), issuers[0].get());

  // The lookalike shares the subject: issuer search returns it as well,
  // though it is not trusted.
  store_.AddCertificate(test::ParseTestCert("root_lookalike"),
                        CertificateTrust::Unspecified());
  issuers.clear();
  store_.FindIssuers(test::ParseTestCert("intermediate").get(), &issuers);
  ASSERT_EQ(2u, issuers.size());
  EXPECT_EQ(root_.get(), issuers[0].get());

  // Nothing found: the list is left as it was.
  store_.FindIssuers(test::ParseTestCert("leaf").get(), &issuers);
  EXPECT_EQ(2u, issuers.size());
}

TEST_F(TrustStoreInMemoryTest, FindIssuersAsyncLeavesNoRequest) {
  class Pending : public CertIssuerSource::Request {
   public:
    void GetNext(ParsedCertificateList*) override {}
  };
  std::unique_ptr<CertIssuerSource::Request> request =
      std::make_unique<Pending>();
  store_.FindIssuersAsync(root_.get(), &request);
  EXPECT_EQ(nullptr, request);
}

}  // namespace
}  // namespace net
