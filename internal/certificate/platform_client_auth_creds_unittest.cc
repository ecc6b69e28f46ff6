#include "internal/certificate/platform_client_auth_creds.h"

#include <openssl/digest.h>
#include <openssl/sha.h>

#include <string>

#include "agent/base/test/scoped_environment_restorer.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/test/client_auth_test_util.h"

namespace vantorel {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class PlatformClientAuthCredsTest : public testing::Test {
 protected:
  void SetUp() override {
    creds_ = test::MakeDeviceCredentials();
    setenv("HOME", dir_.path().c_str(), 1);
    setenv("KELM_CLIENT_PRIVKEY", dir_.Write("key", creds_.wrapped_key).c_str(),
           1);
    unsetenv("KELM_CLIENT_CERT_CHAIN");
  }

  // Reads the credentials from a certificate file of `cert_text`.
  std::string Load(const std::string& cert_text) {
    setenv("KELM_CLIENT_CERT", dir_.Write("cert", cert_text).c_str(), 1);
    testing::internal::CaptureStderr();
    PlatformClientAuthCreds loaded;
    chain_ = loaded.cert_chain_pem();
    key_ = loaded.wrapped_key();
    return testing::internal::GetCapturedStderr();
  }

  kelmbase::test::ScopedEnvironmentRestorer saved_{
      "HOME", "KELM_CLIENT_CERT", "KELM_CLIENT_PRIVKEY",
      "KELM_CLIENT_CERT_CHAIN"};
  test::ScopedTempDir dir_;
  test::DeviceCredentials creds_;
  std::string chain_;
  std::string key_;
};

TEST_F(PlatformClientAuthCredsTest, OneCertificateAndNoChainFile) {
  const std::string log = Load(creds_.device_cert_pem);
  EXPECT_THAT(log, HasSubstr("Loaded client certificate. Key len = 2048 bits. "
                             "Chain len = 0 (source FROM_CHAIN)."));
  EXPECT_THAT(log, Not(HasSubstr("E0000")));
  EXPECT_EQ(chain_, creds_.device_cert_pem);
  EXPECT_EQ(key_, creds_.wrapped_key);
}

TEST_F(PlatformClientAuthCredsTest, OneCertificateWithChainFile) {
  setenv("KELM_CLIENT_CERT_CHAIN",
         dir_.Write("chain", creds_.intermediates_pem).c_str(), 1);
  const std::string log = Load(creds_.device_cert_pem);
  EXPECT_THAT(log, HasSubstr("Chain len = 1 (source FROM_CHAIN)."));
  EXPECT_EQ(chain_, creds_.device_cert_pem + creds_.intermediates_pem);
}

TEST_F(PlatformClientAuthCredsTest, CertificateFileHoldsTheChain) {
  const std::string text = creds_.device_cert_pem + creds_.intermediates_pem +
                           creds_.intermediates_pem;
  const std::string log = Load(text);
  EXPECT_THAT(log, HasSubstr("Chain len = 2 (source FROM_CERT)."));
  EXPECT_EQ(chain_, text);
}

TEST_F(PlatformClientAuthCredsTest, BadCertificateFilesLeaveChainEmpty) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> records;
  };
  std::string no_newline = creds_.device_cert_pem;
  no_newline.pop_back();
  const Case cases[] = {
      {"missing final newline", no_newline,
       {"Error parsing certificate chain.",
        "Error parsing certificate chain - not enough certificates."}},
      {"garbled body",
       "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n",
       {"Error reading certificate in GetSignatureLen.",
        "Couldn't obtain client certificate signature length."}},
      {"empty file", "", {"Error parsing certificate chain - not enough"}},
  };
  for (const Case& c : cases) {
    const std::string log = Load(c.text);
    for (const std::string& record : c.records) {
      EXPECT_THAT(log, HasSubstr(record)) << c.name;
    }
    EXPECT_THAT(chain_, IsEmpty()) << c.name;
    EXPECT_EQ(key_, creds_.wrapped_key) << c.name;
  }
}

TEST_F(PlatformClientAuthCredsTest, MissingKeyFileLeavesKeyEmpty) {
  setenv("KELM_CLIENT_PRIVKEY", (dir_.path() + "/none").c_str(), 1);
  const std::string log = Load(creds_.device_cert_pem);
  EXPECT_THAT(log, HasSubstr("Error reading private key file."));
  EXPECT_THAT(key_, IsEmpty());
}

TEST_F(PlatformClientAuthCredsTest, SignerAddsDigestInfoToBareDigests) {
  Load(creds_.device_cert_pem);
  PlatformClientAuthCreds loaded;
  scoped_refptr<ClientAuthCreds::RsaSigner> signer = loaded.CreateRsaSigner();
  ASSERT_TRUE(signer);
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>("TEST"), 4, digest);
  const std::string bare(reinterpret_cast<const char*>(digest), sizeof(digest));
  const std::string prefix("\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05"
                           "\x00\x04\x14",
                           15);
  const std::string from_bare = signer->Sign(bare);
  ASSERT_EQ(from_bare.size(), 256u);
  // PKCS#1 v1.5 is deterministic: the same block gives the same signature.
  EXPECT_EQ(signer->Sign(prefix + bare), from_bare);
  EXPECT_NE(signer->Sign(bare + "x"), from_bare);
}

}  // namespace
}  // namespace vantorel
