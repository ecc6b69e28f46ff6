#include "internal/certificate/cert_util.h"

#include <openssl/rsa.h>

#include <string>
#include <vector>

#include "agent/base/test/scoped_environment_restorer.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/test/client_auth_test_util.h"

namespace vantorel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kEnd[] = "\n-----END CERTIFICATE-----\n";

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> pieces;
  bool logs_error;
};

TEST(SplitCertificateChainTest, Table) {
  const std::string a = "-----BEGIN CERTIFICATE-----\nAAAA";
  const std::string b = "-----BEGIN CERTIFICATE-----\nBBBB";
  const SplitCase cases[] = {
      {"empty", "", {}, false},
      {"one", a + kEnd, {a + kEnd}, false},
      {"two with blank lines", "\n" + a + kEnd + "\n\n" + b + kEnd + " \n",
       {a + kEnd, b + kEnd}, false},
      {"no final newline", a + "\n-----END CERTIFICATE-----", {}, true},
      {"text after last", a + kEnd + "junk", {}, true},
      {"no marker", "hello", {}, true},
  };
  for (const SplitCase& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(SplitCertificateChain(c.text), c.pieces) << c.name;
    const std::string log = testing::internal::GetCapturedStderr();
    if (c.logs_error) {
      EXPECT_THAT(log, HasSubstr("Error parsing certificate chain.")) << c.name;
    } else {
      EXPECT_THAT(log, IsEmpty()) << c.name;
    }
  }
}

TEST(GetSignatureLenTest, RsaModulusBytesAndFailures) {
  const test::DeviceCredentials creds = test::MakeDeviceCredentials();
  int32_t len = 0;
  EXPECT_TRUE(GetSignatureLen(creds.device_cert_pem, &len));
  EXPECT_EQ(len, 256);
  EXPECT_FALSE(GetSignatureLen(creds.device_cert_pem, nullptr));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetSignatureLen("not pem", &len));
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("Error reading certificate in GetSignatureLen. "
                        "cert_pem=not pem"));
  RSA* rsa = reinterpret_cast<RSA*>(1);
  EXPECT_FALSE(GetRsaKeyFromCertPem("", &rsa));
  EXPECT_EQ(rsa, nullptr);
}

// The loaders read the switch-less environment: each case sets the
// variables it needs in a private folder.
class CertLoaderTest : public testing::Test {
 protected:
  kelmbase::test::ScopedEnvironmentRestorer saved_{
      "HOME", "KELM_CLIENT_CERT", "KELM_CLIENT_PRIVKEY",
      "KELM_CLIENT_CERT_CHAIN"};
  test::ScopedTempDir dir_;
};

TEST_F(CertLoaderTest, NamedFilesAreReadWhole) {
  setenv("KELM_CLIENT_CERT", dir_.Write("c", "cert bytes").c_str(), 1);
  setenv("KELM_CLIENT_PRIVKEY", dir_.Write("k", std::string("k\0y", 3)).c_str(),
         1);
  setenv("KELM_CLIENT_CERT_CHAIN", dir_.Write("ch", "chain").c_str(), 1);
  std::string cert, chain, key;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(LoadClientCertificateAndChain(&cert, &chain));
  EXPECT_TRUE(LoadClientPrivateKey(&key));
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
  EXPECT_EQ(cert, "cert bytes");
  EXPECT_EQ(chain, "chain");
  EXPECT_EQ(key, std::string("k\0y", 3));
}

TEST_F(CertLoaderTest, NamedChainThatIsMissingFails) {
  setenv("KELM_CLIENT_CERT_CHAIN", (dir_.path() + "/none").c_str(), 1);
  std::string chain;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadClientCertificateChain(&chain));
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("Couldn't load client certificate chain."));
}

TEST_F(CertLoaderTest, DefaultsAreLoggedAtErrorAndMissingFilesFail) {
  unsetenv("KELM_CLIENT_CERT");
  unsetenv("KELM_CLIENT_PRIVKEY");
  setenv("HOME", dir_.path().c_str(), 1);
  std::string cert, key;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadClientCertificate(&cert));
  EXPECT_FALSE(LoadClientPrivateKey(&key));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, HasSubstr("E0000"));
  EXPECT_THAT(log,
              HasSubstr("] Client certificate file is not specified, using "
                        "default."));
  EXPECT_THAT(log, HasSubstr("] Couldn't load client certificate from file: "));
  EXPECT_THAT(log,
              HasSubstr("] Private key file is not specified, using default."));
  EXPECT_THAT(log, HasSubstr("] Couldn't load client certificate private key."));
}

TEST(X509CertificateToDerListTest, LeafThenIntermediates) {
  const test::DeviceCredentials creds = test::MakeDeviceCredentials();
  const std::string pem = creds.device_cert_pem + creds.intermediates_pem;
  auto certs = net::X509Certificate::CreateListFromBytes(
      pem.data(), pem.size(), net::X509Certificate::CERT_FORMAT_PEM_SEQUENCE);
  ASSERT_EQ(certs.size(), 2u);
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates;
  CRYPTO_BUFFER_up_ref(certs[1]->CertBuffer());
  intermediates.emplace_back(certs[1]->CertBuffer());
  CRYPTO_BUFFER_up_ref(certs[0]->CertBuffer());
  auto chain = net::X509Certificate::CreateFromCertBuffer(
      bssl::UniquePtr<CRYPTO_BUFFER>(certs[0]->CertBuffer()),
      std::move(intermediates));
  EXPECT_THAT(X509CertificateToDerList(chain),
              ElementsAre(creds.device_cert_der, creds.intermediate_ders[0]));
  testing::internal::CaptureStderr();
  EXPECT_THAT(X509CertificateToDerList(nullptr), IsEmpty());
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("Certs missing,"));
  // The development chain ends at the first development root, which is
  // one of the validator's built-in roots.
  int32_t policy = -1;
  EXPECT_EQ(VerifyClientCert(chain, nullptr, kelm_certificate::CRL_OPTIONAL,
                             &policy),
            kelm_certificate::OK);
  EXPECT_EQ(CertErrorText(kelm_certificate::ERR_CERTS_MISSING),
            "KelmCertError::ERR_CERTS_MISSING");
}

}  // namespace
}  // namespace vantorel
