#include "internal/certificate/client_auth_signer.h"

#include <openssl/sha.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/threading/platform_thread.h"
#include "agent/base/threading/thread.h"
#include "agent/base/time/time.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/client_auth_creds.h"
#include "internal/certificate/crypt_util.h"
#include "internal/certificate/test/client_auth_test_util.h"
#include "internal/sdk/kelm_core/auth/kelm_auth_c_api.h"

namespace vantorel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Signs through the platform library and remembers what it was given.
class RecordingRsaSigner : public ClientAuthCreds::RsaSigner {
 public:
  RecordingRsaSigner(std::string wrapped_key, bool fail)
      : wrapped_key_(std::move(wrapped_key)), fail_(fail) {}

  std::string Sign(const std::string& input) override {
    {
      kelmbase::ScopedLock hold(lock_);
      inputs_.push_back(input);
    }
    if (fail_) return {};
    std::string signature;
    if (!kelm_auth::SignHash(wrapped_key_, input, &signature)) return {};
    return signature;
  }

  std::vector<std::string> inputs() {
    kelmbase::ScopedLock hold(lock_);
    return inputs_;
  }

 private:
  ~RecordingRsaSigner() override = default;

  const std::string wrapped_key_;
  const bool fail_;
  kelmbase::Lock lock_;
  std::vector<std::string> inputs_;
};

class TestCreds : public ClientAuthCreds {
 public:
  TestCreds(std::string pem, scoped_refptr<RecordingRsaSigner> signer)
      : ClientAuthCreds(std::move(pem), false), signer_(std::move(signer)) {}

  scoped_refptr<RsaSigner> CreateRsaSigner() override { return signer_; }

 private:
  scoped_refptr<RecordingRsaSigner> signer_;
};

class ClientAuthSignerTest : public testing::Test {
 protected:
  ClientAuthSignerTest() {
    // Key-less requests of earlier tests have used the process-wide
    // warning throttle; the first one here arms it as if it were the
    // process's first.
    ClientAuthSigner::ResetKeylessWarningThrottleForTesting();
    creds_ = test::MakeDeviceCredentials();
    signing_thread_.Start();
  }

  scoped_refptr<ClientAuthSigner> MakeSigner(const std::string& pem,
                                             bool fail = false) {
    recording_ = kelmbase::MakeRefCounted<RecordingRsaSigner>(
        creds_.wrapped_key, fail);
    TestCreds test_creds(pem, recording_);
    return kelmbase::MakeRefCounted<ClientAuthSigner>(
        signing_thread_.GetTaskRunner(), &test_creds);
  }

  test::DeviceCredentials creds_;
  kelmbase::Thread signing_thread_{"KelmV2_Signing_Thread"};
  scoped_refptr<RecordingRsaSigner> recording_;
};

TEST_F(ClientAuthSignerTest, ImportKeepsIntermediatesAndDropsRoots) {
  const std::string pem = creds_.device_cert_pem + creds_.intermediates_pem +
                          test::DevPkiFile("root_ca_1.pem");
  testing::internal::CaptureStderr();
  auto signer = MakeSigner(pem);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(signer->leaf_der(), creds_.device_cert_der);
  EXPECT_THAT(signer->intermediate_ders(),
              ElementsAre(creds_.intermediate_ders[0]));
  EXPECT_EQ(signer->cert_chain_pem(), pem);
  EXPECT_THAT(log, HasSubstr("Intermediate cert: "));
  EXPECT_THAT(log, Not(HasSubstr("Intermediate cert: Kelm Development Root")));
  EXPECT_THAT(log, HasSubstr("Imported client auth cert."));
  EXPECT_THAT(log, HasSubstr("Created singleton instance of ClientAuthSigner."));
  ASSERT_TRUE(signer->key());
  EXPECT_THAT(signer->key()->SupportedAlgorithms(), ElementsAre(0x0401, 0x0201));
  EXPECT_EQ(signer->key()->ProviderLabel(), "");
}

TEST_F(ClientAuthSignerTest, FailedImportsLeaveNoCertificateOrKey) {
  struct Case {
    const char* name;
    std::string pem;
    const char* record;
  };
  const Case cases[] = {
      {"empty", "", "Empty certs string."},
      {"garbage", "no certificate here",
       "Failed to parse client auth cert chain."},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    auto signer = MakeSigner(c.pem);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr(c.record)) << c.name;
    EXPECT_THAT(log,
                HasSubstr("Failed to get key and cert from ClientAuthCreds."))
        << c.name;
    EXPECT_FALSE(signer->cert()) << c.name;
    EXPECT_FALSE(signer->key()) << c.name;
    EXPECT_THAT(signer->leaf_der(), IsEmpty()) << c.name;
    // Without a key every request answers with the empty string.
    EXPECT_EQ(test::SignOnWorker(signer, 0x0201, "TEST"), "") << c.name;
  }
}

// A failed import leaves both outputs as they were and logs why, in order.
TEST_F(ClientAuthSignerTest, FailedImportLeavesOutputsAlone) {
  const std::string pem = creds_.device_cert_pem + creds_.intermediates_pem;
  // Outputs that already hold a certificate and a key.
  scoped_refptr<net::X509Certificate> cert;
  scoped_refptr<net::SSLPrivateKey> key;
  {
    TestCreds good(pem, kelmbase::MakeRefCounted<RecordingRsaSigner>(
                            creds_.wrapped_key, false));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(ImportClientAuthCreds(&good, signing_thread_.GetTaskRunner(),
                                      &cert, &key));
    testing::internal::GetCapturedStderr();
  }
  ASSERT_TRUE(cert);
  ASSERT_TRUE(key);
  const net::X509Certificate* const old_cert = cert.get();
  const net::SSLPrivateKey* const old_key = key.get();

  struct Case {
    const char* name;
    std::string pem;
    bool has_rsa_signer;
    // ERROR records, in this order and one right after the other.
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"empty text", "", true, {"Empty certs string."}},
      {"no certificate",
       "no certificate here",
       true,
       {"Failed to parse client auth cert chain.",
        "Certs: [19 bytes, no PEM label]",
        "Failed to import client auth cert."}},
      {"no RSA signer", pem, false, {"No RsaSigner available."}},
  };
  for (const Case& c : cases) {
    TestCreds source(c.pem, c.has_rsa_signer
                                ? kelmbase::MakeRefCounted<RecordingRsaSigner>(
                                      creds_.wrapped_key, false)
                                : nullptr);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ImportClientAuthCreds(
        &source, signing_thread_.GetTaskRunner(), &cert, &key))
        << c.name;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(cert.get(), old_cert) << c.name;
    EXPECT_EQ(key.get(), old_key) << c.name;
    for (const std::string& error : c.errors) {
      EXPECT_EQ(test::SeverityOf(log, error), 'E') << c.name << ": " << error;
    }
    const std::vector<std::string> texts = test::RecordTexts(log);
    EXPECT_NE(std::search(texts.begin(), texts.end(), c.errors.begin(),
                          c.errors.end()),
              texts.end())
        << c.name;
    EXPECT_THAT(log, Not(HasSubstr("Imported client auth private key")))
        << c.name;
  }
}

TEST_F(ClientAuthSignerTest, Sha1RequestSignsDigestInfoOfTest) {
  auto signer = MakeSigner(creds_.device_cert_pem + creds_.intermediates_pem);
  testing::internal::CaptureStderr();
  const std::string signature = test::SignOnWorker(signer, 0x0201, "TEST");
  // The time histograms stay out of the log at the default level.
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
  uint8_t digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const uint8_t*>("TEST"), 4, digest);
  const std::string digest_info =
      std::string("\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14",
                  15) +
      std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
  EXPECT_THAT(recording_->inputs(), ElementsAre(digest_info));

  crypto::SignatureVerifier verifier;
  ASSERT_TRUE(InitSignatureVerifierFromCert(
      &verifier, crypto::SignatureVerifier::RSA_PKCS1_SHA1, signature,
      creds_.device_cert_der));
  verifier.VerifyUpdate(kelmbase::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>("TEST"), 4));
  EXPECT_TRUE(verifier.VerifyFinal());
}

TEST_F(ClientAuthSignerTest, RefusedSchemesAndFailingSignerAnswerEmpty) {
  struct Case {
    const char* name;
    uint16_t algorithm;
    bool fail;
    const char* record;
    size_t signer_calls;
  };
  const Case cases[] = {
      {"ecdsa", 0x0403, false,
       "SSLPrivateKeyKelmInternal only supports RSA operations.", 0},
      {"unknown scheme", 0x1234, false,
       "SSLPrivateKeyKelmInternal only supports RSA operations.", 0},
      {"signer fails", 0x0401, true,
       "Could not sign message in SSLPrivateKeyKelmInternal::Sign!", 1},
  };
  for (const Case& c : cases) {
    auto signer =
        MakeSigner(creds_.device_cert_pem + creds_.intermediates_pem, c.fail);
    testing::internal::CaptureStderr();
    EXPECT_EQ(test::SignOnWorker(signer, c.algorithm, "TEST"), "") << c.name;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr(c.record)) << c.name;
    EXPECT_THAT(log, HasSubstr("] kelm event: Kelm.Sign.Error.SignatureEmpty"))
        << c.name;
    EXPECT_EQ(recording_->inputs().size(), c.signer_calls) << c.name;
  }
}

// Makes `count` key-less requests one right after the other on a worker
// thread and waits for every answer; returns the answers.
std::vector<std::string> SignBurstOnWorker(
    const scoped_refptr<ClientAuthSigner>& signer, int count) {
  struct Answers {
    kelmbase::Lock lock;
    std::vector<std::string> received;
    kelmbase::WaitableEvent all_in;
    int count = 0;
  } answers;
  answers.count = count;
  kelmbase::Thread worker("Test Requester");
  EXPECT_TRUE(worker.Start());
  worker.GetTaskRunner()->PostTask(
      FROM_HERE,
      kelmbase::BindOneShot(
          [](scoped_refptr<ClientAuthSigner> signer, Answers* answers) {
            for (int i = 0; i < answers->count; ++i) {
              signer->SignWithAlgorithm(
                  0x0201, "TEST",
                  kelmbase::BindOneShot(
                      [](Answers* answers, const std::string& signature) {
                        kelmbase::ScopedLock hold(answers->lock);
                        answers->received.push_back(signature);
                        if (static_cast<int>(answers->received.size()) ==
                            answers->count) {
                          answers->all_in.Signal();
                        }
                      },
                      answers));
            }
          },
          signer, &answers));
  answers.all_in.Wait();
  worker.Stop();
  return answers.received;
}

// The first key-less request after the fixture's reset arms the throttle,
// as the first one of the process does, and logs nothing. After that, at
// most one WARNING per second.
TEST_F(ClientAuthSignerTest, KeylessWarningIsThrottled) {
  const std::string warning = "No private key, hence empty signature.";
  testing::internal::CaptureStderr();
  auto signer = MakeSigner("");
  testing::internal::GetCapturedStderr();
  ASSERT_FALSE(signer->key());
  auto warnings = [&](const std::string& log) {
    const std::vector<std::string> texts = test::RecordTexts(log);
    return std::count(texts.begin(), texts.end(), warning);
  };

  testing::internal::CaptureStderr();
  EXPECT_EQ(test::SignOnWorker(signer, 0x0201, "TEST"), "");
  EXPECT_EQ(warnings(testing::internal::GetCapturedStderr()), 0)
      << "first key-less request";

  testing::internal::CaptureStderr();
  EXPECT_THAT(SignBurstOnWorker(signer, 5),
              ElementsAre("", "", "", "", ""));
  EXPECT_LE(warnings(testing::internal::GetCapturedStderr()), 1)
      << "five requests within a second";

  // More than a second after every earlier request: the next one logs.
  kelmbase::PlatformThread::Sleep(kelmbase::Duration::FromMilliseconds(1100));
  testing::internal::CaptureStderr();
  EXPECT_THAT(SignBurstOnWorker(signer, 3), ElementsAre("", "", ""));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(warnings(log), 1) << log;
  EXPECT_EQ(test::SeverityOf(log, warning), 'W');
}

TEST_F(ClientAuthSignerTest, RequestOnStoppedSigningThreadIsDropped) {
  auto signer = MakeSigner(creds_.device_cert_pem + creds_.intermediates_pem);
  signing_thread_.Stop();
  // The refused post destroys the reply unrun, so the user callback never
  // runs: SignOnWorker's wait would not end. Run it with a callback whose
  // destruction is observable instead.
  kelmbase::Thread requester("Requester");
  requester.Start();
  kelmbase::WaitableEvent dropped;
  struct SignalOnDestroy {
    kelmbase::WaitableEvent* event;
    ~SignalOnDestroy() { event->Signal(); }
  };
  std::atomic<bool> ran{false};
  requester.GetTaskRunner()->PostTask(
      FROM_HERE,
      kelmbase::BindOneShot(
          [](scoped_refptr<ClientAuthSigner> signer,
             std::unique_ptr<SignalOnDestroy> guard, std::atomic<bool>* ran) {
            signer->SignWithAlgorithm(
                0x0201, "TEST",
                kelmbase::BindOneShot(
                    [](std::unique_ptr<SignalOnDestroy>, std::atomic<bool>* ran,
                       const std::string&) { ran->store(true); },
                    std::move(guard), ran));
          },
          signer, std::make_unique<SignalOnDestroy>(SignalOnDestroy{&dropped}),
          &ran));
  dropped.Wait();
  requester.Stop();
  EXPECT_FALSE(ran.load());
  EXPECT_THAT(recording_->inputs(), IsEmpty());
}

TEST(CheckCertificateTest, DevelopmentChainPassesTheValidator) {
  const test::DeviceCredentials creds = test::MakeDeviceCredentials();
  kelmbase::Thread signing("KelmV2_Signing_Thread");
  signing.Start();
  class Creds : public ClientAuthCreds {
   public:
    using ClientAuthCreds::ClientAuthCreds;
    scoped_refptr<RsaSigner> CreateRsaSigner() override {
      return kelmbase::MakeRefCounted<RecordingRsaSigner>("", false);
    }
  } source(creds.device_cert_pem + creds.intermediates_pem, false);
  auto signer =
      kelmbase::MakeRefCounted<ClientAuthSigner>(signing.GetTaskRunner(),
                                                 &source);
  class NoRevocations : public kelm_certificate::Crl {
   public:
    bool CheckRevocation(const net::ParsedCertificateList&,
                         const kelmbase::Time&) override {
      return true;
    }
  };
  class Source : public CrlSource {
   public:
    kelm_certificate::Crl* GetCurrentCrl() override { return &crl; }
    NoRevocations crl;
  } crl_source;
  testing::internal::CaptureStderr();
  signer->CheckCertificate(&crl_source);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(signer->cert_checked());
  EXPECT_EQ(signer->last_cert_result(), kelm_certificate::OK);
  EXPECT_EQ(test::SeverityOf(
                log, "Kelm certificate verification: KelmCertError::OK"),
            'I');
  EXPECT_EQ(test::SeverityOf(log, "kelm event: Kelm.Auth.OK"), 'I');

  // The check requires a revocation object: without one it fails.
  testing::internal::CaptureStderr();
  signer->CheckCertificate(nullptr);
  const std::string failed = testing::internal::GetCapturedStderr();
  EXPECT_THAT(test::RecordTexts(failed),
              ElementsAre("Kelm certificate verification: "
                          "KelmCertError::ERR_CRL_INVALID",
                          "kelm event: Kelm.Auth.Error.CRLInvalid"));
  EXPECT_EQ(test::SeverityOf(failed,
                             "Kelm certificate verification: "
                             "KelmCertError::ERR_CRL_INVALID"),
            'E');
  EXPECT_EQ(signer->last_cert_result(), kelm_certificate::ERR_CRL_INVALID);
}

TEST(CryptUtilTest, VerifierSetUpFailures) {
  const test::DeviceCredentials creds = test::MakeDeviceCredentials();
  const std::string ec_cert = test::WithEcKey(creds.device_cert_der);
  struct Case {
    const char* name;
    std::string cert_der;
    // Whether the verifier was set up once already.
    bool set_up_before;
    std::string error;
  };
  // A P-256 SubjectPublicKeyInfo is 91 bytes, an RSA-2048 one 294.
  const Case cases[] = {
      {"not a certificate", "garbage", false,
       "Failed to extract SPKI from cert_der, size=7"},
      {"EC key for an RSA algorithm", ec_cert, false,
       "VerifyInit failed. signature size=3 SPKI size=91"},
      {"verifier set up twice", creds.device_cert_der, true,
       "VerifyInit failed. signature size=3 SPKI size=294"},
  };
  for (const Case& c : cases) {
    crypto::SignatureVerifier verifier;
    if (c.set_up_before) {
      ASSERT_TRUE(InitSignatureVerifierFromCert(
          &verifier, crypto::SignatureVerifier::RSA_PKCS1_SHA1, "sig",
          c.cert_der))
          << c.name;
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(InitSignatureVerifierFromCert(
        &verifier, crypto::SignatureVerifier::RSA_PKCS1_SHA1, "sig",
        c.cert_der))
        << c.name;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(test::RecordTexts(log), ElementsAre(c.error)) << c.name;
    EXPECT_EQ(test::SeverityOf(log, c.error), 'E') << c.name;
  }
}

}  // namespace
}  // namespace vantorel
