#include "agent/net/cert/internal/cert_issuer_source_static.h"

#include <memory>
#include <string>

#include "agent/net/cert/internal/cert_test_builder.h"
#include "agent/net/cert/internal/test_certificates.h"
#include "gtest/gtest.h"

namespace net {
namespace {

scoped_refptr<ParsedCertificate> Synthetic(const std::string& subject,
                                           const std::string& issuer,
                                           const std::string& serial) {
  test::TbsFields tbs;
  tbs.subject = test::CommonNameTlv(subject);
  tbs.issuer = test::CommonNameTlv(issuer);
  tbs.serial = test::Tlv(der::kInteger, test::Hex(serial));
  return test::ParseCertDer(test::CertificateTlv(tbs.Build()));
}

TEST(CertIssuerSourceStaticTest, ReturnsEveryCertificateOfTheSubjectInOrder) {
  CertIssuerSourceStatic source;
  scoped_refptr<ParsedCertificate> first = Synthetic("Shared CA", "Root", "01");
  scoped_refptr<ParsedCertificate> other = Synthetic("Other CA", "Root", "02");
  scoped_refptr<ParsedCertificate> second = Synthetic("shared  ca", "Root", "03");
  source.AddCert(first);
  source.AddCert(other);
  source.AddCert(second);

  scoped_refptr<ParsedCertificate> target =
      Synthetic("Target", "SHARED CA", "04");
  ParsedCertificateList issuers;
  issuers.push_back(target);
  source.FindIssuers(target.get(), &issuers);
  ASSERT_EQ(3u, issuers.size());
  EXPECT_EQ(target.get(), issuers[0].get());
  EXPECT_EQ(first.get(), issuers[1].get());
  EXPECT_EQ(second.get(), issuers[2].get());

  source.FindIssuers(Synthetic("Target", "Nobody", "05").get(), &issuers);
  EXPECT_EQ(3u, issuers.size());

  std::unique_ptr<CertIssuerSource::Request> request;
  source.FindIssuersAsync(target.get(), &request);
  EXPECT_EQ(nullptr, request);
}

}  // namespace
}  // namespace net
