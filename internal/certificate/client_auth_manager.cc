#include "internal/certificate/client_auth_manager.h"

#include <utility>

#include "agent/base/base64.h"
#include "agent/base/location.h"
#include "agent/components/prefs/pref_service.h"
#include "logging/log.h"

namespace vantorel {

namespace {

constexpr char kSigningThreadName[] = "KelmV2_Signing_Thread";
constexpr char kNoPrefService[] =
    "Pref service not available. This should only happen in tests.";

}  // namespace

ClientAuthManager::ClientAuthManager() : ClientAuthManager(nullptr, nullptr) {}

ClientAuthManager::ClientAuthManager(
    PrefService* pref_service,
    scoped_refptr<kelmbase::SingleThreadTaskRunner> signing_runner)
    : pref_service_(pref_service),
      signing_thread_(std::make_unique<kelmbase::Thread>(kSigningThreadName)),
      signing_runner_(std::move(signing_runner)),
      observers_(kelmbase::MakeRefCounted<
                 kelmbase::ObserverListThreadSafe<Observer>>()) {
  if (!signing_runner_) {
    signing_thread_->Start();
    signing_runner_ = signing_thread_->GetTaskRunner();
  }
  LoadOldCertificate();
}

ClientAuthManager::~ClientAuthManager() {
  observers_ = nullptr;
  signing_runner_ = nullptr;
  // Runs what is queued, then joins: no signing task outlives the manager.
  signing_thread_.reset();
  kelmbase::ScopedLock hold(signer_lock_);
  signer_ = nullptr;
}

scoped_refptr<ClientAuthSigner> ClientAuthManager::GetClientAuthSigner() {
  kelmbase::ScopedLock hold(signer_lock_);
  return signer_;
}

void ClientAuthManager::SetClientAuthCreds(ClientAuthCreds* creds) {
  auto signer = kelmbase::MakeRefCounted<ClientAuthSigner>(signing_runner_,
                                                           creds);
  scoped_refptr<ClientAuthSigner> previous;
  {
    kelmbase::ScopedLock hold(signer_lock_);
    previous = std::move(signer_);
    signer_ = signer;
  }
  // The previous signer dies outside the lock, if nobody else holds it.
  previous = nullptr;
  StoreOldCertificate(std::move(signer));
  NotifyObservers();
}

void ClientAuthManager::AddObserver(Observer* observer) {
  observers_->AddObserver(observer);
}

void ClientAuthManager::RemoveObserver(Observer* observer) {
  observers_->RemoveObserver(observer);
}

void ClientAuthManager::LoadOldCertificate() {
  if (pref_service_ == nullptr) {
    LOG(WARNING) << kNoPrefService;
    return;
  }
  std::string stored = pref_service_->GetString(kOldDeviceCertificatePref);
  if (stored.empty()) {
    LOG(WARNING) << "Old certificate is empty.";
    return;
  }
  LOG(INFO) << "Read old certificate from prefs.";
  old_device_certificate_ = std::move(stored);
}

void ClientAuthManager::StoreOldCertificate(
    scoped_refptr<ClientAuthSigner> signer) {
  if (pref_service_ == nullptr) {
    LOG(WARNING) << kNoPrefService;
    return;
  }
  if (!old_device_certificate_.empty()) {
    LOG(INFO) << "Old certificate already exists";
    return;
  }
  if (signer->leaf_der().empty()) {
    LOG(WARNING) << "Certificate is empty. Do not store.";
    return;
  }
  LOG(INFO) << "Storing the certificate first used by the device.";
  kelmbase::Base64Encode(signer->leaf_der(), &old_device_certificate_);
  pref_service_->SetString(kOldDeviceCertificatePref, old_device_certificate_);
  pref_service_->CommitWrites();
}

void ClientAuthManager::NotifyObservers() {
  observers_->Notify(FROM_HERE, &Observer::OnSignerChanged);
}

}  // namespace vantorel
