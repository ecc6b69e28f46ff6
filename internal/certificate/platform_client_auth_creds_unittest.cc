#include "internal/certificate/platform_client_auth_creds.h"

#include <openssl/digest.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "agent/base/test/scoped_environment_restorer.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/cert_util.h"
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

  // Reads the credentials from a certificate file of `cert_text`, or from a
  // certificate path where no file exists.
  std::string Load(const std::optional<std::string>& cert_text) {
    setenv("KELM_CLIENT_CERT",
           cert_text ? dir_.Write("cert", *cert_text).c_str()
                     : (dir_.path() + "/no_such_cert").c_str(),
           1);
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

// A certificate file that cannot be used leaves the credentials with the
// chain file's text, or with nothing when the certificate file could not be
// read (the chain file is then not read either). The key is read in any
// case.
TEST_F(PlatformClientAuthCredsTest, BadCertificateFilesKeepOnlyTheChainFile) {
  const std::string chain_file = "chain file text";
  setenv("KELM_CLIENT_CERT_CHAIN", dir_.Write("chain", chain_file).c_str(), 1);
  struct Case {
    const char* name;
    std::optional<std::string> text;
    std::vector<std::string> records;
    std::string chain;
    const char* not_logged;
  };
  std::string no_newline = creds_.device_cert_pem;
  no_newline.pop_back();
  const std::string ec_cert =
      test::DerToPem(test::WithEcKey(creds_.device_cert_der));
  const Case cases[] = {
      {"missing file",
       std::nullopt,
       {"Couldn't load client certificate from file: " + dir_.path() +
            "/no_such_cert",
        "Error reading client certificate files."},
       "",
       "Loaded client certificate."},
      {"missing final newline",
       no_newline,
       {"Error parsing certificate chain.",
        "Error parsing certificate chain - not enough certificates."},
       chain_file,
       "Loaded client certificate."},
      {"garbled body",
       "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n",
       // The record tells the text's size and first label, never its body.
       {"Error reading certificate in GetSignatureLen. "
        "cert_pem=[59 bytes, first PEM label CERTIFICATE]",
        "Couldn't obtain client certificate signature length."},
       chain_file,
       "Loaded client certificate."},
      // Read well, but its key has no RSA modulus.
      {"EC key",
       ec_cert,
       {"Couldn't obtain client certificate signature length."},
       chain_file,
       "Error reading certificate in GetSignatureLen."},
      {"empty file",
       "",
       {"Error parsing certificate chain - not enough certificates."},
       chain_file,
       "Loaded client certificate."},
  };
  for (const Case& c : cases) {
    const std::string log = Load(c.text);
    for (const std::string& record : c.records) {
      EXPECT_EQ(test::SeverityOf(log, record), 'E') << c.name << ": " << record;
    }
    EXPECT_THAT(log, Not(HasSubstr(c.not_logged))) << c.name;
    EXPECT_EQ(chain_, c.chain) << c.name;
    EXPECT_EQ(key_, creds_.wrapped_key) << c.name;
  }
}

// The credentials tell a file that is missing, which new files would
// replace, from one that is there but could not be read, and from a chain
// file that could not be read at all, which no new pair replaces.
TEST_F(PlatformClientAuthCredsTest, TellsMissingFromUnreadableFiles) {
  const std::string cert = dir_.Write("good_cert", creds_.device_cert_pem);
  const std::string key = dir_.Write("good_key", creds_.wrapped_key);
  const std::string folder = dir_.path() + "/folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string missing = dir_.path() + "/missing";
  struct Case {
    const char* name;
    std::string cert;
    std::string chain;  // Empty: the default chain file, missing here.
    std::string key;
    bool unreadable;
    bool chain_checked;
  } cases[] = {
      {"all read", cert, "", key, false, true},
      {"certificate missing", missing, "", key, false, false},
      {"key missing", cert, "", missing, false, true},
      {"certificate a folder", folder, "", key, true, false},
      {"key a folder", cert, "", folder, true, true},
      {"named chain missing", cert, missing, key, true, true},
      {"named chain a folder", cert, folder, key, true, true},
      {"chain not read after a missing certificate", missing, folder, key,
       false, false},
  };
  for (const Case& c : cases) {
    test::SetCredentialPathVariables(c.cert, c.key, c.chain);
    testing::internal::CaptureStderr();
    PlatformClientAuthCreds loaded;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(loaded.found_unreadable_file(), c.unreadable) << c.name;
    EXPECT_EQ(loaded.chain_file_checked(), c.chain_checked) << c.name;
  }
}

TEST_F(PlatformClientAuthCredsTest, MissingKeyFileLeavesKeyEmpty) {
  setenv("KELM_CLIENT_PRIVKEY", (dir_.path() + "/none").c_str(), 1);
  const std::string log = Load(creds_.device_cert_pem);
  EXPECT_THAT(log, HasSubstr("Error reading private key file."));
  EXPECT_THAT(key_, IsEmpty());
}

// A bare SHA-1 or SHA-256 digest gets its DigestInfo header; any other
// input is signed as it is. The signed block is recovered from the
// signature with the certificate's public key.
TEST_F(PlatformClientAuthCredsTest, SignerAddsDigestInfoToBareDigests) {
  Load(creds_.device_cert_pem);
  PlatformClientAuthCreds loaded;
  scoped_refptr<ClientAuthCreds::RsaSigner> signer = loaded.CreateRsaSigner();
  ASSERT_TRUE(signer);
  RSA* public_key = nullptr;
  ASSERT_TRUE(GetRsaKeyFromCertPem(creds_.device_cert_pem, &public_key));
  bssl::UniquePtr<RSA> owned_key(public_key);

  // RFC 8017, section 9.2, note 1.
  const std::string sha1_prefix(
      "\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14", 15);
  const std::string sha256_prefix(
      "\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01"
      "\x05\x00\x04\x20",
      19);
  uint8_t sha1[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>("TEST"), 4, sha1);
  uint8_t sha256[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>("TEST"), 4, sha256);
  const std::string bare_sha1(reinterpret_cast<const char*>(sha1),
                              sizeof(sha1));
  const std::string bare_sha256(reinterpret_cast<const char*>(sha256),
                                sizeof(sha256));
  struct Case {
    const char* name;
    std::string input;
    std::string signed_block;
  };
  const Case cases[] = {
      {"bare SHA-1", bare_sha1, sha1_prefix + bare_sha1},
      {"bare SHA-256", bare_sha256, sha256_prefix + bare_sha256},
      {"SHA-1 DigestInfo", sha1_prefix + bare_sha1, sha1_prefix + bare_sha1},
      {"SHA-256 DigestInfo", sha256_prefix + bare_sha256,
       sha256_prefix + bare_sha256},
      {"21 bytes", bare_sha1 + "x", bare_sha1 + "x"},
      {"31 bytes", bare_sha256.substr(1), bare_sha256.substr(1)},
  };
  for (const Case& c : cases) {
    const std::string signature = signer->Sign(c.input);
    ASSERT_EQ(signature.size(), 256u) << c.name;
    std::vector<uint8_t> recovered(RSA_size(public_key));
    const int recovered_len = RSA_public_decrypt(
        signature.size(), reinterpret_cast<const uint8_t*>(signature.data()),
        recovered.data(), public_key, RSA_PKCS1_PADDING);
    ASSERT_GT(recovered_len, 0) << c.name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(recovered.data()),
                          static_cast<size_t>(recovered_len)),
              c.signed_block)
        << c.name;
  }
}

}  // namespace
}  // namespace vantorel
