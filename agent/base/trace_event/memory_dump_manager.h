#ifndef AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "agent/base/memory/lazy_singleton.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequenced_task_runner.h"

namespace kelmbase {

class Thread;

namespace trace_event {

class MemoryDumpProvider;

// One registration: the provider, its name (not copied; it must outlive
// the registration) and the task runner it must be called on (may be null).
class RegisteredDumpProvider
    : public RefCountedThreadSafe<RegisteredDumpProvider> {
 public:
  RegisteredDumpProvider(MemoryDumpProvider* provider, const char* name,
                         scoped_refptr<SequencedTaskRunner> task_runner);

  MemoryDumpProvider* provider() const { return provider_; }
  const char* name() const { return name_; }
  SequencedTaskRunner* task_runner() const { return task_runner_.get(); }
  bool allowed_in_background() const { return allowed_in_background_; }
  bool disabled() const { return disabled_; }

  // Orders registrations by task runner, then by provider.
  struct Less {
    bool operator()(const scoped_refptr<RegisteredDumpProvider>& a,
                    const scoped_refptr<RegisteredDumpProvider>& b) const;
  };

 private:
  friend class RefCountedThreadSafe<RegisteredDumpProvider>;
  friend class MemoryDumpManager;
  ~RegisteredDumpProvider();

  MemoryDumpProvider* const provider_;
  const uint8_t options_ = 1;
  const char* const name_;
  const scoped_refptr<SequencedTaskRunner> task_runner_;
  const bool allowed_in_background_;
  // Set when unregistering takes the provider over; deleted with the
  // record.
  std::unique_ptr<MemoryDumpProvider> owned_provider_;
  int consecutive_failures_ = 0;
  bool disabled_ = false;
};

// The process-wide registry of memory-dump providers. Made on first use and
// never destroyed. Any thread may register and unregister; the set changes
// under the registry's lock. Nothing in this program requests a dump.
class MemoryDumpManager {
 public:
  static MemoryDumpManager* GetInstance();

  MemoryDumpManager(const MemoryDumpManager&) = delete;
  MemoryDumpManager& operator=(const MemoryDumpManager&) = delete;

  // Registering an equal registration twice keeps the first.
  void RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                            scoped_refptr<SequencedTaskRunner> task_runner);
  // Unknown providers are ignored.
  void UnregisterDumpProvider(MemoryDumpProvider* provider);

  // Copies of the current registrations, in the registry's order.
  std::vector<scoped_refptr<RegisteredDumpProvider>> GetRegistrations();
  bool IsRegistered(const MemoryDumpProvider* provider);

 private:
  friend class LazySingleton<MemoryDumpManager>;
  MemoryDumpManager();
  virtual ~MemoryDumpManager();

  void UnregisterDumpProviderInternal(MemoryDumpProvider* provider,
                                      bool take_ownership);

  // Guarded by lock_.
  std::set<scoped_refptr<RegisteredDumpProvider>, RegisteredDumpProvider::Less>
      dump_providers_;
  Lock lock_;
  // The thread dumps would run on; nothing requests a dump, so none is
  // ever made.
  std::unique_ptr<Thread> dump_thread_;
  // When set, registration does nothing.
  bool dumper_registrations_ignored_ = false;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
