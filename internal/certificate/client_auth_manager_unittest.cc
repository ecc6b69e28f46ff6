#include "internal/certificate/client_auth_manager.h"

#include <string>

#include "agent/base/base64.h"
#include "agent/base/functional/bind.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/threading/thread.h"
#include "agent/components/prefs/pref_service.h"
#include "agent/base/test/scoped_environment_restorer.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/platform_client_auth_creds.h"
#include "internal/certificate/test/client_auth_test_util.h"

namespace vantorel {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

int CountOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

constexpr char kNoPrefs[] =
    "Pref service not available. This should only happen in tests.";

class ClientAuthManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    creds_ = test::MakeDeviceCredentials();
    setenv("KELM_CLIENT_CERT",
           dir_.Write("cert", creds_.device_cert_pem + creds_.intermediates_pem)
               .c_str(),
           1);
    setenv("KELM_CLIENT_PRIVKEY", dir_.Write("key", creds_.wrapped_key).c_str(),
           1);
    unsetenv("KELM_CLIENT_CERT_CHAIN");
  }

  kelmbase::test::ScopedEnvironmentRestorer saved_{
      "KELM_CLIENT_CERT", "KELM_CLIENT_PRIVKEY", "KELM_CLIENT_CERT_CHAIN"};
  test::ScopedTempDir dir_;
  test::DeviceCredentials creds_;
};

TEST_F(ClientAuthManagerTest, WithoutPrefsWarnsAtStartAndOnEveryCreds) {
  testing::internal::CaptureStderr();
  {
    ClientAuthManager manager;
    EXPECT_FALSE(manager.GetClientAuthSigner());
    PlatformClientAuthCreds creds;
    manager.SetClientAuthCreds(&creds);
    auto signer = manager.GetClientAuthSigner();
    ASSERT_TRUE(signer);
    EXPECT_EQ(signer->leaf_der(), creds_.device_cert_der);
    // Its requests go through the manager's signing thread.
    EXPECT_EQ(test::SignOnWorker(signer, 0x0201, "TEST").size(), 256u);
  }
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(log, kNoPrefs), 2) << log;
  EXPECT_EQ(log.rfind("W", 0), 0u) << "first record is the warning";
}

TEST_F(ClientAuthManagerTest, NewCredsReplaceSignerButOldOneStillSigns) {
  ClientAuthManager manager;
  PlatformClientAuthCreds creds;
  manager.SetClientAuthCreds(&creds);
  auto first = manager.GetClientAuthSigner();
  manager.SetClientAuthCreds(&creds);
  auto second = manager.GetClientAuthSigner();
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(test::SignOnWorker(first, 0x0201, "TEST"),
            test::SignOnWorker(second, 0x0201, "TEST"));
}

class SignalingObserver : public ClientAuthManager::Observer {
 public:
  void OnSignerChanged() override { changed.Signal(); }
  kelmbase::WaitableEvent changed;
};

TEST_F(ClientAuthManagerTest, ObserversHearOfNewSignerOnTheirThread) {
  ClientAuthManager manager;
  SignalingObserver observer;
  kelmbase::Thread observer_thread("Observer");
  ASSERT_TRUE(observer_thread.Start());
  kelmbase::WaitableEvent added;
  observer_thread.GetTaskRunner()->PostTask(
      FROM_HERE, kelmbase::BindOneShot(
                     [](ClientAuthManager* manager, SignalingObserver* observer,
                        kelmbase::WaitableEvent* added) {
                       manager->AddObserver(observer);
                       added->Signal();
                     },
                     &manager, &observer, &added));
  added.Wait();
  PlatformClientAuthCreds creds;
  manager.SetClientAuthCreds(&creds);
  observer.changed.Wait();
  manager.RemoveObserver(&observer);
  observer_thread.Stop();
}

// A service with the preference registered, its user store in slot 2 and
// defaults in slot 6.
class ManagerWithPrefsTest : public ClientAuthManagerTest {
 protected:
  ManagerWithPrefsTest()
      : user_(kelmbase::MakeRefCounted<ValueMapPrefStore>()),
        service_(&value_store_, user_, &registry_) {
    registry_.RegisterPreference(kOldDeviceCertificatePref,
                                 kelmbase::Value(""), 0);
    value_store_.SetStore(2, user_);
    value_store_.SetStore(6, registry_.defaults());
  }

  PrefRegistry registry_;
  PrefValueStore value_store_;
  scoped_refptr<ValueMapPrefStore> user_;
  PrefService service_;
};

TEST_F(ManagerWithPrefsTest, FirstCertificateIsStoredOnce) {
  testing::internal::CaptureStderr();
  ClientAuthManager manager(&service_, nullptr);
  PlatformClientAuthCreds creds;
  manager.SetClientAuthCreds(&creds);
  manager.SetClientAuthCreds(&creds);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, HasSubstr("Old certificate is empty."));
  EXPECT_THAT(log, HasSubstr("Storing the certificate first used by the device."));
  EXPECT_THAT(log, HasSubstr("Old certificate already exists"));
  const std::string expected =
      kelmbase::Base64EncodeToString(creds_.device_cert_der);
  EXPECT_EQ(service_.GetString(kOldDeviceCertificatePref), expected);
  EXPECT_EQ(manager.old_device_certificate(), expected);
  EXPECT_EQ(user_->commit_count(), 1);
}

TEST_F(ManagerWithPrefsTest, StoredCertificateIsReadAndKept) {
  service_.SetString(kOldDeviceCertificatePref, "b2xk");
  testing::internal::CaptureStderr();
  ClientAuthManager manager(&service_, nullptr);
  PlatformClientAuthCreds creds;
  manager.SetClientAuthCreds(&creds);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, HasSubstr("Read old certificate from prefs."));
  EXPECT_THAT(log, HasSubstr("Old certificate already exists"));
  EXPECT_EQ(service_.GetString(kOldDeviceCertificatePref), "b2xk");
  EXPECT_EQ(user_->commit_count(), 0);
}

TEST_F(ManagerWithPrefsTest, SignerWithoutCertificateIsNotStored) {
  setenv("KELM_CLIENT_CERT", (dir_.path() + "/missing").c_str(), 1);
  ClientAuthManager manager(&service_, nullptr);
  PlatformClientAuthCreds creds;
  testing::internal::CaptureStderr();
  manager.SetClientAuthCreds(&creds);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("Certificate is empty. Do not store."));
  EXPECT_THAT(service_.GetString(kOldDeviceCertificatePref), IsEmpty());
}

}  // namespace
}  // namespace vantorel
