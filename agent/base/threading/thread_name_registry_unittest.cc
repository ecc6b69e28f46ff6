#include "agent/base/threading/thread_name_registry.h"

#include <string.h>
#include <sys/prctl.h>

#include <string>
#include <thread>

#include "agent/base/threading/platform_thread.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

std::string KernelThreadName() {
  char name[17] = {};
  prctl(PR_GET_NAME, name);
  return name;
}

TEST(ThreadNameRegistryTest, MainThreadNameIsRecordedButKernelNameKept) {
  const std::string kernel_name_before = KernelThreadName();
  PlatformThread::SetName("MainThreadWithAVeryLongName");
  EXPECT_STREQ("MainThreadWithAVeryLongName", PlatformThread::GetName());
  EXPECT_STREQ("MainThreadWithAVeryLongName",
               ThreadNameRegistry::GetInstance()->GetName(
                   PlatformThread::CurrentId()));
  EXPECT_STREQ("MainThreadWithAVeryLongName",
               ThreadNameRegistry::GetInstance()->GetNameForCurrentThread());
  EXPECT_EQ(kernel_name_before, KernelThreadName());
}

TEST(ThreadNameRegistryTest, UnknownIdHasTheEmptyName) {
  EXPECT_STREQ("", ThreadNameRegistry::GetInstance()->GetName(-12345));
  EXPECT_EQ(ThreadNameRegistry::GetDefaultInternedString(),
            ThreadNameRegistry::GetInstance()->GetName(-12345));
}

TEST(ThreadNameRegistryTest, NamesAreInterned) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  registry->SetNameForCurrentThread(std::string("interned"));
  const char* first = registry->GetNameForCurrentThread();
  registry->SetNameForCurrentThread(std::string("other"));
  registry->SetNameForCurrentThread(std::string("interned"));
  EXPECT_EQ(first, registry->GetNameForCurrentThread());
}

TEST(ThreadNameRegistryTest, RegisteredThreadsKeepTheirNames) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  std::string seen_by_registry;
  std::string seen_by_kernel;
  std::thread([&] {
    registry->AddThread(pthread_self(), PlatformThread::CurrentId());
    EXPECT_STREQ("", registry->GetName(PlatformThread::CurrentId()));
    PlatformThread::SetName("Worker_Name_Longer_Than_Fifteen");
    seen_by_registry = registry->GetName(PlatformThread::CurrentId());
    seen_by_kernel = KernelThreadName();
    registry->RemoveThread(pthread_self(), PlatformThread::CurrentId());
  }).join();
  EXPECT_EQ("Worker_Name_Longer_Than_Fifteen", seen_by_registry);
  EXPECT_EQ("Worker_Name_Lon", seen_by_kernel);
  // A registered thread's name does not become the main-process name.
  EXPECT_STRNE("Worker_Name_Longer_Than_Fifteen",
               registry->GetName(PlatformThread::CurrentId()));
}

TEST(ThreadNameRegistryTest, LateRemovalKeepsANewerThreadWithTheSameId) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  std::string name_after_late_removal;
  std::thread([&] {
    const PlatformThreadId id = PlatformThread::CurrentId();
    registry->AddThread(pthread_self(), id);
    PlatformThread::SetName("newer");
    // An earlier thread that had the same id unregisters late.
    registry->RemoveThread(static_cast<pthread_t>(0x1000), id);
    name_after_late_removal = registry->GetName(id);
    registry->RemoveThread(pthread_self(), id);
  }).join();
  EXPECT_EQ("newer", name_after_late_removal);
}

class RecordingObserver : public ThreadNameRegistry::Observer {
 public:
  void OnThreadNameChanged(const char* name) override { last = name; }
  std::string last;
};

TEST(ThreadNameRegistryTest, ObserversAreToldNames) {
  RecordingObserver observer;
  ThreadNameRegistry::GetInstance()->AddObserver(&observer);
  PlatformThread::SetName("observed");
  ThreadNameRegistry::GetInstance()->RemoveObserver(&observer);
  PlatformThread::SetName("not observed");
  EXPECT_EQ("observed", observer.last);
}

}  // namespace
}  // namespace kelmbase
