#include "base/scheduling/hook_overrides.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "absl/base/options.h"
#include "absl/synchronization/internal/create_thread_identity.h"
#include "absl/synchronization/mutex.h"
#include "absl/synchronization/internal/per_thread_sem.h"
#include "absl/time/clock.h"
#include "gtest/gtest.h"

namespace {

using absl::synchronization_internal::KernelTimeout;

#define KELM_STRINGIFY_INNER(x) #x
#define KELM_STRINGIFY(x) KELM_STRINGIFY_INNER(x)

// Whether the mutex library was loaded as a shared object, rather than
// linked into this program from its static archive.
bool MutexLibraryIsShared() {
  return dl_iterate_phdr(
             [](struct dl_phdr_info* info, size_t, void*) {
               return info->dlpi_name != nullptr &&
                              strstr(info->dlpi_name,
                                     "libabsl_synchronization") != nullptr
                          ? 1
                          : 0;
             },
             nullptr) != 0;
}

// For each symbol defined in this program's symbol table, the type letters
// that nm gives it, one per definition.
std::map<std::string, std::string> DefinitionsInThisProgram() {
  std::map<std::string, std::string> types;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return types;
  self[length] = '\0';
  const std::string command =
      std::string("nm --defined-only '") + self + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return types;
  char line[4096];
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    char type = 0;
    char name[4096];
    if (sscanf(line, "%*s %c %4095s", &type, name) == 2) types[name] += type;
  }
  pclose(pipe);
  return types;
}

TEST(HookOverridesTest, TheMutexLibraryIsBoundToOurHooks) {
  struct Case {
    const char* name;
    void* ours;
  } cases[] = {
      {"AbslInternalMutexYield",
       reinterpret_cast<void*>(
           &ABSL_INTERNAL_C_SYMBOL(AbslInternalMutexYield))},
      {"AbslInternalSleepFor",
       reinterpret_cast<void*>(&ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor))},
      {"AbslInternalPerThreadSemPost",
       reinterpret_cast<void*>(
           &ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost))},
      {"AbslInternalPerThreadSemWait",
       reinterpret_cast<void*>(
           &ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait))},
  };
  const bool shared = MutexLibraryIsShared();
  const std::map<std::string, std::string> definitions =
      shared ? std::map<std::string, std::string>() : DefinitionsInThisProgram();
  for (const Case& c : cases) {
    const std::string symbol =
        std::string(c.name) + "_" KELM_STRINGIFY(ABSL_OPTION_INLINE_NAMESPACE_NAME);
    if (shared) {
      // The library reaches its weak hooks through the dynamic symbol
      // table, where the program's definitions come first.
      EXPECT_EQ(dlsym(RTLD_DEFAULT, symbol.c_str()), c.ours) << symbol;
    } else {
      // Linked from the archive, the library's calls bind to the one
      // definition the program holds: ours, a strong one ("T"), unless the
      // library's weak default ("W") was taken instead.
      const auto it = definitions.find(symbol);
      EXPECT_EQ(it == definitions.end() ? "" : it->second, "T") << symbol;
    }
  }
}

// The mutex library is not built with the thread sanitizer; tell it where
// the lock orders the threads.
#if defined(__SANITIZE_THREAD__)
void MutexAcquired(void* mu) { __tsan_acquire(mu); }
void MutexReleasing(void* mu) { __tsan_release(mu); }
#else
void MutexAcquired(void*) {}
void MutexReleasing(void*) {}
#endif

void IgnoreSignal(int) {}

TEST(HookOverridesTest, SleepLastsThroughSignals) {
  struct sigaction action = {};
  action.sa_handler = &IgnoreSignal;
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  const pthread_t sleeper = pthread_self();
  std::thread interrupter([sleeper] {
    for (int i = 0; i < 5; ++i) {
      absl::SleepFor(absl::Microseconds(150));
      pthread_kill(sleeper, SIGUSR1);
    }
  });
  const absl::Time start = absl::Now();
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::Milliseconds(20));
  const absl::Duration slept = absl::Now() - start;
  interrupter.join();
  EXPECT_GE(slept, absl::Milliseconds(20));
  EXPECT_LT(slept, absl::Seconds(2));
}

TEST(HookOverridesTest, NonPositiveSleepsReturnAtOnce) {
  const absl::Time start = absl::Now();
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(absl::ZeroDuration());
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(-absl::Seconds(5));
  ABSL_INTERNAL_C_SYMBOL(AbslInternalSleepFor)(-absl::InfiniteDuration());
  EXPECT_LT(absl::Now() - start, absl::Milliseconds(500));
}

TEST(HookOverridesTest, PostThenWaitOnTheSameThreadReturnsAtOnce) {
  absl::base_internal::ThreadIdentity* self =
      absl::synchronization_internal::GetOrCreateCurrentThreadIdentity();
  ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost)(self);
  EXPECT_TRUE(ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(
      KernelTimeout::Never()));
  EXPECT_EQ(self->wait_start.load(), 0);
}

TEST(HookOverridesTest, WaitWithoutPostTimesOut) {
  const absl::Time start = absl::Now();
  EXPECT_FALSE(ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(
      KernelTimeout(start + absl::Milliseconds(30))));
  EXPECT_GE(absl::Now() - start, absl::Milliseconds(29));
}

TEST(HookOverridesTest, BlockedCounterCoversTheWait) {
  std::atomic<int> blocked{0};
  // Plain atomics: the mutex library is not instrumented for the thread
  // sanitizer, so its own notifications would look like no ordering at all.
  std::atomic<absl::base_internal::ThreadIdentity*> waiter_identity{nullptr};
  std::atomic<int> seen_blocked{-1};
  std::thread waiter([&] {
    absl::synchronization_internal::PerThreadSem::SetThreadBlockedCounter(
        &blocked);
    waiter_identity.store(
        absl::synchronization_internal::GetOrCreateCurrentThreadIdentity());
    EXPECT_TRUE(ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemWait)(
        KernelTimeout::Never()));
  });
  while (blocked.load() == 0) absl::SleepFor(absl::Milliseconds(1));
  seen_blocked = blocked.load();
  ABSL_INTERNAL_C_SYMBOL(AbslInternalPerThreadSemPost)(waiter_identity.load());
  waiter.join();
  EXPECT_EQ(seen_blocked.load(), 1);
  EXPECT_EQ(blocked.load(), 0);
}

TEST(HookOverridesTest, MutexesWorkAcrossThreadsThroughTheHooks) {
  absl::Mutex mu;
  int counter = 0;
  std::thread threads[4];
  for (std::thread& t : threads) {
    t = std::thread([&] {
      for (int i = 0; i < 2000; ++i) {
        absl::MutexLock lock(&mu);
        MutexAcquired(&mu);
        ++counter;
        MutexReleasing(&mu);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
}

}  // namespace
