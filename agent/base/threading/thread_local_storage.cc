#include "agent/base/threading/thread_local_storage.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "agent/base/synchronization/lock.h"
#include "logging/check.h"

// The key's value is the address of the calling thread's vector with the
// thread's TlsVectorState in its two low bits (vectors are at least 8-byte
// aligned). At thread exit the vector is copied onto the stack so that
// slot destructors can still read and write slots while it is destroyed.

namespace kelmbase {

using internal::PlatformThreadLocalStorage;
using internal::TlsVectorEntry;

namespace internal {

struct TlsVectorEntry {
  void* data;
  uint32_t version;
};

}  // namespace internal

namespace {

enum class TlsVectorState : uintptr_t {
  kUninitialized = 0,
  kDestroying = 1,
  kDestroyed = 2,
  kInUse = 3,
};
constexpr uintptr_t kVectorStateBitMask = 3;

enum class TlsStatus : uint32_t { kFree = 0, kInUse = 1 };

struct TlsMetadata {
  TlsStatus status;
  ThreadLocalStorage::TLSDestructorFunc destructor;
  uint32_t version;
};

static_assert(sizeof(TlsVectorEntry) * kThreadLocalStorageSize == 4096);

// Destructors run in passes until a pass runs none (a destructor may store
// new values), but no more than this many.
constexpr int kMaxDestructorPasses = kThreadLocalStorageSize;

std::atomic<PlatformThreadLocalStorage::TLSKey> g_native_tls_key{
    PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES};

// Guarded by the table lock.
TlsMetadata g_tls_metadata[kThreadLocalStorageSize];
size_t g_last_assigned_slot = 0;

TlsVectorState GetTlsVectorStateAndValue(PlatformThreadLocalStorage::TLSKey key,
                                         TlsVectorEntry** entry = nullptr) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(
      PlatformThreadLocalStorage::GetTLSValue(key));
  if (entry != nullptr) {
    *entry = reinterpret_cast<TlsVectorEntry*>(value & ~kVectorStateBitMask);
  }
  if (value == static_cast<uintptr_t>(TlsVectorState::kDestroyed)) {
    return TlsVectorState::kDestroyed;
  }
  return static_cast<TlsVectorState>(value & kVectorStateBitMask);
}

void SetTlsVectorValue(PlatformThreadLocalStorage::TLSKey key,
                       TlsVectorEntry* vector, TlsVectorState state) {
  PlatformThreadLocalStorage::SetTLSValue(
      key, reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(vector) |
                                   static_cast<uintptr_t>(state)));
}

}  // namespace

TlsVectorEntry* ThreadLocalStorage::CreateThreadVector() {
  PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_relaxed);
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) {
    CHECK(PlatformThreadLocalStorage::AllocTLS(&key));
    // The value that means "no key" cannot be kept as a real key: take
    // another and give that one back.
    if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) {
      const PlatformThreadLocalStorage::TLSKey reserved = key;
      CHECK(PlatformThreadLocalStorage::AllocTLS(&key) && key != PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES);
      PlatformThreadLocalStorage::FreeTLS(reserved);
    }
    PlatformThreadLocalStorage::TLSKey expected =
        PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES;
    if (!g_native_tls_key.compare_exchange_strong(expected, key,
                                                  std::memory_order_relaxed)) {
      // Another thread published its key first.
      PlatformThreadLocalStorage::FreeTLS(key);
      key = expected;
    }
  }
  CHECK_EQ(GetTlsVectorStateAndValue(key), TlsVectorState::kUninitialized);

  // Point the key at a vector on the stack first, so that thread-local
  // storage used by the allocator below finds one.
  TlsVectorEntry stack_vector[kThreadLocalStorageSize];
  memset(stack_vector, 0, sizeof(stack_vector));
  SetTlsVectorValue(key, stack_vector, TlsVectorState::kInUse);
  TlsVectorEntry* heap_vector = new TlsVectorEntry[kThreadLocalStorageSize];
  memcpy(heap_vector, stack_vector, sizeof(stack_vector));
  SetTlsVectorValue(key, heap_vector, TlsVectorState::kInUse);
  return heap_vector;
}

void ThreadLocalStorage::DestroyThreadVector(void* value) {
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_relaxed);
  if (reinterpret_cast<uintptr_t>(value) ==
      static_cast<uintptr_t>(TlsVectorState::kDestroyed)) {
    // Ends the system's repeated destructor calls.
    PlatformThreadLocalStorage::SetTLSValue(key, nullptr);
    return;
  }
  TlsVectorEntry* heap_vector = reinterpret_cast<TlsVectorEntry*>(
      reinterpret_cast<uintptr_t>(value) & ~kVectorStateBitMask);

  TlsVectorEntry stack_vector[kThreadLocalStorageSize];
  memcpy(stack_vector, heap_vector, sizeof(stack_vector));
  SetTlsVectorValue(key, stack_vector, TlsVectorState::kDestroying);
  delete[] heap_vector;

  TlsMetadata table[kThreadLocalStorageSize];
  {
    ScopedLock locked(*ThreadLocalStorage::GetTableLock());
    memcpy(table, g_tls_metadata, sizeof(table));
  }

  for (int pass = 0; pass < kMaxDestructorPasses; ++pass) {
    bool ran_destructor = false;
    for (int slot = 0; slot < kThreadLocalStorageSize; ++slot) {
      void* data = stack_vector[slot].data;
      if (data == nullptr) continue;
      const TlsMetadata& metadata = table[slot];
      if (metadata.status == TlsStatus::kFree ||
          metadata.version != stack_vector[slot].version ||
          metadata.destructor == nullptr) {
        continue;
      }
      stack_vector[slot].data = nullptr;
      metadata.destructor(data);
      ran_destructor = true;
    }
    if (!ran_destructor) break;
  }

  PlatformThreadLocalStorage::SetTLSValue(
      key, reinterpret_cast<void*>(
               static_cast<uintptr_t>(TlsVectorState::kDestroyed)));
}

namespace internal {

bool PlatformThreadLocalStorage::AllocTLS(TLSKey* key) {
  return pthread_key_create(key, &ThreadLocalStorage::DestroyThreadVector) ==
         0;
}

void PlatformThreadLocalStorage::FreeTLS(TLSKey key) {
  pthread_key_delete(key);
}

}  // namespace internal

bool ThreadLocalStorage::HasBeenDestroyed() {
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_relaxed);
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) return false;
  const TlsVectorState state = GetTlsVectorStateAndValue(key);
  return state == TlsVectorState::kDestroying ||
         state == TlsVectorState::kDestroyed;
}

Lock* ThreadLocalStorage::GetTableLock() {
  static Lock* const lock = new Lock();
  return lock;
}

ThreadLocalStorage::Slot::Slot(TLSDestructorFunc destructor) {
  Allocate(destructor);
}

ThreadLocalStorage::Slot::~Slot() { Free(); }

void ThreadLocalStorage::Slot::Allocate(TLSDestructorFunc destructor) {
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_relaxed);
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES ||
      GetTlsVectorStateAndValue(key) == TlsVectorState::kUninitialized) {
    CreateThreadVector();
  }

  {
    ScopedLock locked(*GetTableLock());
    for (int i = 0; i < kThreadLocalStorageSize; ++i) {
      const size_t slot_candidate =
          (g_last_assigned_slot + 1 + i) % kThreadLocalStorageSize;
      if (g_tls_metadata[slot_candidate].status == TlsStatus::kFree) {
        g_tls_metadata[slot_candidate].status = TlsStatus::kInUse;
        g_tls_metadata[slot_candidate].destructor = destructor;
        g_last_assigned_slot = slot_candidate;
        slot_ = static_cast<int>(slot_candidate);
        version_ = g_tls_metadata[slot_candidate].version;
        break;
      }
    }
  }
  CHECK(slot_ != kInvalidSlotValue);
  CHECK(slot_ < kThreadLocalStorageSize);
}

void ThreadLocalStorage::Slot::Free() {
  if (slot_ == kInvalidSlotValue) return;
  {
    ScopedLock locked(*GetTableLock());
    g_tls_metadata[slot_].status = TlsStatus::kFree;
    g_tls_metadata[slot_].destructor = nullptr;
    ++g_tls_metadata[slot_].version;
  }
  slot_ = kInvalidSlotValue;
}

void* ThreadLocalStorage::Slot::Get() const {
  TlsVectorEntry* vector = nullptr;
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_relaxed);
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) return nullptr;
  GetTlsVectorStateAndValue(key, &vector);
  if (vector == nullptr || slot_ == kInvalidSlotValue) return nullptr;
  if (vector[slot_].version != version_) return nullptr;
  return vector[slot_].data;
}

void ThreadLocalStorage::Slot::Set(void* value) {
  TlsVectorEntry* vector = nullptr;
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_relaxed);
  if (key != PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) {
    GetTlsVectorStateAndValue(key, &vector);
  }
  if (vector == nullptr) {
    if (value == nullptr) return;
    vector = CreateThreadVector();
  }
  CHECK(slot_ != kInvalidSlotValue);
  vector[slot_].data = value;
  vector[slot_].version = version_;
}

}  // namespace kelmbase
