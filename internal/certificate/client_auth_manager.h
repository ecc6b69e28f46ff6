#ifndef INTERNAL_CERTIFICATE_CLIENT_AUTH_MANAGER_H_
#define INTERNAL_CERTIFICATE_CLIENT_AUTH_MANAGER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/observer_list_threadsafe.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/threading/thread.h"
#include "internal/certificate/client_auth_creds.h"
#include "internal/certificate/client_auth_signer.h"

class PrefService;

namespace vantorel {

// The preference that remembers the first device certificate used (Base64
// DER).
inline constexpr char kOldDeviceCertificatePref[] = "old-device-certificate";

// Owns the signing thread "KelmV2_Signing_Thread" and the current signer.
//
// Threads: made, fed credentials and destroyed on one thread (the main
// thread); GetClientAuthSigner from any thread. Destroying it stops and
// joins the signing thread once it has run what is queued.
class ClientAuthManager {
 public:
  class Observer {
   public:
    // On the observer's own sequence, after the signer changed.
    virtual void OnSignerChanged() = 0;

   protected:
    virtual ~Observer() = default;
  };

  ClientAuthManager();
  // `pref_service` (not owned) may be null; without `signing_runner` the
  // manager starts its own signing thread and signs there.
  ClientAuthManager(PrefService* pref_service,
                    scoped_refptr<kelmbase::SingleThreadTaskRunner>
                        signing_runner);
  ClientAuthManager(const ClientAuthManager&) = delete;
  ClientAuthManager& operator=(const ClientAuthManager&) = delete;
  ~ClientAuthManager();

  // The current signer (new reference); null before SetClientAuthCreds.
  scoped_refptr<ClientAuthSigner> GetClientAuthSigner();

  // Builds a signer from `creds` (only read during the call) and makes it
  // the current one, even when its import failed; remembers its
  // certificate in the preferences and tells observers.
  void SetClientAuthCreds(ClientAuthCreds* creds);

  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);

  const std::string& old_device_certificate() const {
    return old_device_certificate_;
  }
  const scoped_refptr<kelmbase::SingleThreadTaskRunner>& signing_runner()
      const {
    return signing_runner_;
  }

 private:
  void LoadOldCertificate();
  void StoreOldCertificate(scoped_refptr<ClientAuthSigner> signer);
  void NotifyObservers();

  std::string old_device_certificate_;
  PrefService* const pref_service_;
  kelmbase::Lock signer_lock_;
  scoped_refptr<ClientAuthSigner> signer_;
  std::unique_ptr<kelmbase::Thread> signing_thread_;
  scoped_refptr<kelmbase::SingleThreadTaskRunner> signing_runner_;
  scoped_refptr<kelmbase::ObserverListThreadSafe<Observer>> observers_;
};

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_CLIENT_AUTH_MANAGER_H_
