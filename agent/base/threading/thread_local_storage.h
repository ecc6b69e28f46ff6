#ifndef AGENT_BASE_THREADING_THREAD_LOCAL_STORAGE_H_
#define AGENT_BASE_THREADING_THREAD_LOCAL_STORAGE_H_

// Thread-local storage slots. The whole process uses one POSIX key; behind
// it every thread has a vector of kThreadLocalStorageSize entries, and a
// Slot is an index into those vectors. A slot may carry a destructor, run at
// thread exit for each non-null value the thread holds:
//
//   static ThreadLocalStorage::Slot* slot = new ThreadLocalStorage::Slot(
//       [](void* value) { delete static_cast<Foo*>(value); });
//   slot->Set(new Foo);
//
// Slots are meant to live for the whole process. A freed slot index is
// handed out again with a new version, and values that threads stored under
// the old version become invisible.

#include <pthread.h>

#include <climits>
#include <cstdint>

namespace kelmbase {

class Lock;

namespace internal {

// One entry of a thread's slot vector (defined with the vector code).
struct TlsVectorEntry;

// The POSIX thread key underneath.
class PlatformThreadLocalStorage {
 public:
  using TLSKey = pthread_key_t;
  // Stands for "no key yet"; a real key with this value is never kept.
  static constexpr TLSKey TLS_KEY_OUT_OF_INDEXES = INT_MAX;

  // Creates a key whose destructor is ThreadLocalStorage's thread-exit
  // pass. False when the system has no key left.
  static bool AllocTLS(TLSKey* key);
  static void FreeTLS(TLSKey key);
  static void* GetTLSValue(TLSKey key) { return pthread_getspecific(key); }
  static void SetTLSValue(TLSKey key, void* value) {
    pthread_setspecific(key, value);
  }
};

}  // namespace internal

// The number of slots in the process.
inline constexpr int kThreadLocalStorageSize = 256;

class ThreadLocalStorage {
 public:
  // Called at thread exit with the value the thread left in a slot.
  using TLSDestructorFunc = void (*)(void* value);

  ThreadLocalStorage() = delete;

  // True while the calling thread's slot values are being destroyed, and
  // after; false when the key does not exist yet.
  static bool HasBeenDestroyed();

  // Guards the process-wide slot table. A leaf lock; never destroyed.
  static Lock* GetTableLock();

  class Slot {
   public:
    // Takes a free slot; fatal when all are in use.
    explicit Slot(TLSDestructorFunc destructor = nullptr);
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    // Frees the slot for reuse (with a new version).
    ~Slot();

    // The calling thread's value, or null when it set none.
    void* Get() const;
    // Stores the calling thread's value. Fatal on a thread whose values
    // have already been destroyed, unless `value` is null.
    void Set(void* value);

   private:
    friend class ThreadLocalStorageTestPeer;

    static constexpr int kInvalidSlotValue = -1;

    // Takes the first free table entry after the last one handed out.
    void Allocate(TLSDestructorFunc destructor);
    void Free();

    int slot_ = kInvalidSlotValue;
    uint32_t version_ = 0;
  };

 private:
  friend class internal::PlatformThreadLocalStorage;

  // Makes the process key when it is missing and gives the calling thread
  // its vector, which it returns. Fatal on a thread that already has one or
  // whose vector was destroyed.
  static internal::TlsVectorEntry* CreateThreadVector();
  // The key's destructor, run by the system at thread exit (and again
  // while the key's value is non-null): runs the slot destructors.
  static void DestroyThreadVector(void* value);
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_THREAD_LOCAL_STORAGE_H_
