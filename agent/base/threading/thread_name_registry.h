#ifndef AGENT_BASE_THREADING_THREAD_NAME_REGISTRY_H_
#define AGENT_BASE_THREADING_THREAD_NAME_REGISTRY_H_

#include <map>
#include <string>
#include <vector>

#include "agent/base/synchronization/lock.h"
#include "agent/base/threading/platform_thread.h"

namespace kelmbase {

// The process-wide record of thread names. Threads started by
// PlatformThread register themselves; a thread that names itself without
// being registered (the main thread) becomes the main-process name. Names
// are interned: the returned texts live for the rest of the process, and the
// same text always yields the same pointer.
class ThreadNameRegistry {
 public:
  // Told every name that a thread sets, on that thread, under the
  // registry's lock (so it must not call back into the registry).
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnThreadNameChanged(const char* name) = 0;
  };

  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

  // The registry, made on first use and never destroyed.
  static ThreadNameRegistry* GetInstance();
  // The interned empty name.
  static const char* GetDefaultInternedString();

  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);

  // Registers a thread started here, with the empty name.
  void AddThread(PlatformThreadHandle::Handle handle, PlatformThreadId id);
  // Names the calling thread.
  void SetNameForCurrentThread(const std::string& name);
  // The name of thread `id`; "" when it has none or is unknown.
  const char* GetName(PlatformThreadId id);
  // The calling thread's own name, or "" when it has set none.
  const char* GetNameForCurrentThread();
  // Unregisters a thread. The id's entry is erased only while it still
  // maps to `handle`: a newer thread that reuses the id keeps its record.
  void RemoveThread(PlatformThreadHandle::Handle handle, PlatformThreadId id);

 private:
  ThreadNameRegistry();
  // Never runs: the registry is leaked.
  ~ThreadNameRegistry() = default;

  Lock lock_;
  std::map<std::string, std::string*> name_to_interned_name_;
  std::map<PlatformThreadId, PlatformThreadHandle::Handle>
      thread_id_to_handle_;
  std::map<PlatformThreadHandle::Handle, std::string*>
      thread_handle_to_interned_name_;
  std::string* main_process_name_ = nullptr;
  PlatformThreadId main_process_id_ = 0;
  std::vector<Observer*> observers_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_THREADING_THREAD_NAME_REGISTRY_H_
