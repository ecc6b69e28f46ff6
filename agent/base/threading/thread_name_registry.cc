#include "agent/base/threading/thread_name_registry.h"

#include <algorithm>

#include "agent/base/threading/thread_local_storage.h"
#include "agent/base/trace_event/heap_context_tracker.h"

namespace kelmbase {
namespace {

std::string* g_default_name = nullptr;

ThreadLocalStorage::Slot& GetThreadNameTLS() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

ThreadNameRegistry::ThreadNameRegistry() {
  g_default_name = new std::string();
  name_to_interned_name_[std::string()] = g_default_name;
}

ThreadNameRegistry* ThreadNameRegistry::GetInstance() {
  // Made once, by whichever thread comes first, and leaked; the threading
  // layer stays below the lazy-singleton code, which itself sleeps and
  // yields through it.
  static ThreadNameRegistry* const instance = new ThreadNameRegistry();
  return instance;
}

const char* ThreadNameRegistry::GetDefaultInternedString() {
  GetInstance();
  return g_default_name->c_str();
}

void ThreadNameRegistry::AddObserver(Observer* observer) {
  ScopedLock locked(lock_);
  observers_.push_back(observer);
}

void ThreadNameRegistry::RemoveObserver(Observer* observer) {
  ScopedLock locked(lock_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                   observers_.end());
}

void ThreadNameRegistry::AddThread(PlatformThreadHandle::Handle handle,
                                   PlatformThreadId id) {
  ScopedLock locked(lock_);
  thread_id_to_handle_[id] = handle;
  thread_handle_to_interned_name_[handle] =
      name_to_interned_name_[std::string()];
}

void ThreadNameRegistry::SetNameForCurrentThread(const std::string& name) {
  const PlatformThreadId id = PlatformThread::CurrentId();
  const char* interned_name;
  {
    ScopedLock locked(lock_);
    std::string*& interned = name_to_interned_name_[name];
    if (interned == nullptr) interned = new std::string(name);
    std::string* const leaked_name = interned;
    interned_name = leaked_name->c_str();

    GetThreadNameTLS().Set(const_cast<char*>(interned_name));
    for (Observer* observer : observers_) {
      observer->OnThreadNameChanged(interned_name);
    }

    auto id_to_handle = thread_id_to_handle_.find(id);
    if (id_to_handle == thread_id_to_handle_.end()) {
      // Not started here: the main thread (or a foreign thread).
      main_process_name_ = leaked_name;
      main_process_id_ = id;
      return;
    }
    thread_handle_to_interned_name_[id_to_handle->second] = leaked_name;
  }
  // Outside the lock: the tracker may be made now, and it allocates.
  trace_event::HeapContextTracker::SetCurrentThreadName(interned_name);
}

const char* ThreadNameRegistry::GetName(PlatformThreadId id) {
  ScopedLock locked(lock_);
  if (id == main_process_id_ && main_process_name_ != nullptr) {
    return main_process_name_->c_str();
  }
  auto id_to_handle = thread_id_to_handle_.find(id);
  if (id_to_handle == thread_id_to_handle_.end()) {
    return name_to_interned_name_[std::string()]->c_str();
  }
  auto handle_to_name =
      thread_handle_to_interned_name_.find(id_to_handle->second);
  if (handle_to_name == thread_handle_to_interned_name_.end()) {
    return name_to_interned_name_[std::string()]->c_str();
  }
  return handle_to_name->second->c_str();
}

const char* ThreadNameRegistry::GetNameForCurrentThread() {
  const char* name = static_cast<const char*>(GetThreadNameTLS().Get());
  return name != nullptr ? name : GetDefaultInternedString();
}

void ThreadNameRegistry::RemoveThread(PlatformThreadHandle::Handle handle,
                                      PlatformThreadId id) {
  ScopedLock locked(lock_);
  thread_handle_to_interned_name_.erase(handle);
  auto id_to_handle = thread_id_to_handle_.find(id);
  if (id_to_handle != thread_id_to_handle_.end() &&
      id_to_handle->second == handle) {
    thread_id_to_handle_.erase(id_to_handle);
  }
}

}  // namespace kelmbase
