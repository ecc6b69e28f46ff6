#ifndef INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_LOCK_H_
#define INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_LOCK_H_

// The advisory lock that keeps tarvik processes from interleaving their work
// on one credential pair.
//
// The lock is an flock(2) on the file ".tarvik.lock" in the key file's
// folder, made on first use and never removed. Create and delete hold it
// exclusively for their whole run, and ensure from the moment it decides to
// create; verify, and ensure's first verify, hold it shared while they read
// the two files, so that they never see half of a replacement.
// Locks are per open file: two CredentialLocks in one process exclude each
// other like two processes do, so an action that already holds the lock
// must not take it again.

#include <string>

#include "agent/base/files/scoped_file.h"
#include "agent/base/time/time.h"

namespace vantorel {

class CredentialLock {
 public:
  enum class Mode { kShared, kExclusive };

  // The lock file's name, beside the key file.
  static constexpr char kFileName[] = ".tarvik.lock";

  // How long a run waits for another run's lock before giving up.
  static constexpr kelmbase::Duration kMaxWait =
      kelmbase::Duration::FromSeconds(30);

  CredentialLock() = default;
  CredentialLock(const CredentialLock&) = delete;
  CredentialLock& operator=(const CredentialLock&) = delete;
  // Releases the lock if held.
  ~CredentialLock() = default;

  // Takes the lock of the pair whose key file is `key_path`, waiting at most
  // `max_wait` for a run that holds it. False, with an ERROR record naming
  // the lock file and the reason, when the lock cannot be had; then nothing
  // was changed. The key file's folder must exist.
  bool Acquire(const std::string& key_path, Mode mode,
               kelmbase::Duration max_wait = kMaxWait);

  // For readers: like Acquire, but a folder where the lock file cannot be
  // made (the folder is missing or read-only) needs no lock, since no writer
  // can change anything there either; then true without holding the lock.
  bool AcquireIfWritable(const std::string& key_path, Mode mode,
                         kelmbase::Duration max_wait = kMaxWait);

  bool held() const { return fd_.is_valid(); }

  // The lock file of the pair whose key file is `key_path`.
  static std::string LockFilePath(const std::string& key_path);

 private:
  bool OpenAndLock(const std::string& key_path, Mode mode,
                   kelmbase::Duration max_wait, bool unlocked_if_unwritable);
  bool Lock(const std::string& lock_path, Mode mode,
            kelmbase::Duration max_wait);

  kelmbase::ScopedFD fd_;
};

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_LOCK_H_
