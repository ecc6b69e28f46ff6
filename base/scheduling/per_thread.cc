#include "base/scheduling/per_thread.h"

#include <pthread.h>

#include <cstring>

#include "absl/base/const_init.h"
#include "absl/base/internal/raw_logging.h"
#include "absl/base/internal/spinlock.h"

namespace {

constexpr int kPerThreadSlots = PerThread::kPerThreadSlots;
constexpr int kDestructorPasses = 4;

thread_local void* tls_slots[kPerThreadSlots];

ABSL_CONST_INIT absl::base_internal::SpinLock g_keys_lock(
    absl::kConstInit, absl::base_internal::SCHEDULE_KERNEL_ONLY);
PerThread::Destructor g_destructors[kPerThreadSlots];
int next_free_key = 1;

ABSL_CONST_INIT absl::base_internal::SpinLock g_thread_key_lock(
    absl::kConstInit, absl::base_internal::SCHEDULE_KERNEL_ONLY);
bool g_per_thread_key_made = false;
pthread_key_t per_thread_key;

bool g_exit_key_made = false;
pthread_key_t exit_list_key;

void MakeThreadKey() {
  absl::base_internal::SpinLockHolder hold(&g_thread_key_lock);
  if (g_per_thread_key_made) return;
  ABSL_RAW_CHECK(pthread_key_create(&per_thread_key, &PerThread::KeyDest) == 0,
                 "pthread_key_create(&per_thread_key, &PerThread::KeyDest)");
  g_per_thread_key_made = true;
}

void RunExitList(void* head) {
  auto* node = static_cast<PerThread::ExitNode*>(head);
  while (node != nullptr) {
    void (*function)(void*) = node->function;
    void* argument = node->argument;
    PerThread::ExitNode* next = node->next;
    node->argument = nullptr;
    function(argument);
    node = next;
  }
}

void MakeExitKey() {
  absl::base_internal::SpinLockHolder hold(&g_thread_key_lock);
  if (g_exit_key_made) return;
  ABSL_RAW_CHECK(pthread_key_create(&exit_list_key, &RunExitList) == 0,
                 "pthread_key_create(&exit_list_key, &RunExitList)");
  g_exit_key_made = true;
}

// The key exists before main, so that no thread has to race to make it.
[[maybe_unused]] const bool kThreadKeyMade = [] {
  MakeThreadKey();
  return true;
}();

}  // namespace

void PerThread::NewKey(int* key, Destructor destructor) {
  absl::base_internal::SpinLockHolder hold(&g_keys_lock);
  if (*key != 0) return;
  ABSL_RAW_CHECK(next_free_key < kPerThreadSlots,
                 "too many PerThread keys in use");
  g_destructors[next_free_key] = destructor;
  *key = next_free_key * static_cast<int>(sizeof(void*));
  ++next_free_key;
}

void PerThread::InitThread() {
  tls_slots[0] = tls_slots;
  MakeThreadKey();
  pthread_setspecific(per_thread_key, tls_slots);
}

bool PerThread::IsThreadInitialized() { return tls_slots[0] != nullptr; }

void* PerThread::Get(int key) {
  return tls_slots[key / static_cast<int>(sizeof(void*))];
}

void PerThread::Set(int key, void* value) {
  if (!IsThreadInitialized()) InitThread();
  tls_slots[key / static_cast<int>(sizeof(void*))] = value;
}

void PerThread::AtThreadExit(ExitNode* node, void (*function)(void*)) {
  MakeExitKey();
  if (!IsThreadInitialized()) InitThread();
  node->next = static_cast<ExitNode*>(pthread_getspecific(exit_list_key));
  node->function = function;
  pthread_setspecific(exit_list_key, node);
}

void PerThread::KeyDest(void* array) {
  void** slots = static_cast<void**>(array);
  Destructor destructors[kPerThreadSlots];
  {
    absl::base_internal::SpinLockHolder hold(&g_keys_lock);
    memcpy(destructors, g_destructors, sizeof(destructors));
  }
  // Destructors may still use slots while they run.
  pthread_setspecific(per_thread_key, slots);
  for (int pass = 0; pass < kDestructorPasses; ++pass) {
    bool called = false;
    for (int i = 1; i < kPerThreadSlots; ++i) {
      if (destructors[i] == nullptr || slots[i] == nullptr) continue;
      void* value = slots[i];
      slots[i] = nullptr;
      destructors[i](value);
      called = true;
    }
    if (!called) break;
  }
  pthread_setspecific(per_thread_key, nullptr);
  slots[0] = nullptr;
}
