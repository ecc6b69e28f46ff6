#include "agent/base/trace_event/memory_dump_manager.h"

#include <functional>
#include <utility>

#include "agent/base/threading/thread.h"
#include "agent/base/trace_event/memory_dump_allow_lists.h"
#include "agent/base/trace_event/memory_dump_provider.h"

namespace kelmbase {
namespace trace_event {

namespace {
LazySingleton<MemoryDumpManager> g_memory_dump_manager;
}  // namespace

RegisteredDumpProvider::RegisteredDumpProvider(
    MemoryDumpProvider* provider, const char* name,
    scoped_refptr<SequencedTaskRunner> task_runner)
    : provider_(provider),
      name_(name),
      task_runner_(std::move(task_runner)),
      allowed_in_background_(IsDumpProviderAllowedInBackground(name)) {}

RegisteredDumpProvider::~RegisteredDumpProvider() = default;

bool RegisteredDumpProvider::Less::operator()(
    const scoped_refptr<RegisteredDumpProvider>& a,
    const scoped_refptr<RegisteredDumpProvider>& b) const {
  std::less<const void*> less;
  if (a->task_runner() != b->task_runner())
    return less(a->task_runner(), b->task_runner());
  return less(a->provider(), b->provider());
}

// static
MemoryDumpManager* MemoryDumpManager::GetInstance() {
  return g_memory_dump_manager.Pointer();
}

MemoryDumpManager::MemoryDumpManager() = default;
MemoryDumpManager::~MemoryDumpManager() = default;

void MemoryDumpManager::RegisterDumpProvider(
    MemoryDumpProvider* provider, const char* name,
    scoped_refptr<SequencedTaskRunner> task_runner) {
  if (dumper_registrations_ignored_)
    return;
  auto registration = MakeRefCounted<RegisteredDumpProvider>(
      provider, name, std::move(task_runner));
  ScopedLock lock(lock_);
  dump_providers_.insert(std::move(registration));
}

void MemoryDumpManager::UnregisterDumpProvider(MemoryDumpProvider* provider) {
  UnregisterDumpProviderInternal(provider, /*take_ownership=*/false);
}

void MemoryDumpManager::UnregisterDumpProviderInternal(
    MemoryDumpProvider* provider, bool take_ownership) {
  std::unique_ptr<MemoryDumpProvider> owned(take_ownership ? provider
                                                           : nullptr);
  ScopedLock lock(lock_);
  auto it = dump_providers_.begin();
  for (; it != dump_providers_.end(); ++it) {
    if ((*it)->provider() == provider)
      break;
  }
  if (it == dump_providers_.end())
    return;  // `owned`, when given, deletes the provider.

  RegisteredDumpProvider* registration = it->get();
  if (take_ownership)
    registration->owned_provider_ = std::move(owned);
  registration->disabled_ = true;
  dump_providers_.erase(it);
}

std::vector<scoped_refptr<RegisteredDumpProvider>>
MemoryDumpManager::GetRegistrations() {
  ScopedLock lock(lock_);
  return std::vector<scoped_refptr<RegisteredDumpProvider>>(
      dump_providers_.begin(), dump_providers_.end());
}

bool MemoryDumpManager::IsRegistered(const MemoryDumpProvider* provider) {
  ScopedLock lock(lock_);
  for (const auto& registration : dump_providers_) {
    if (registration->provider() == provider)
      return true;
  }
  return false;
}

}  // namespace trace_event
}  // namespace kelmbase
