#include "agent/base/message_pump/descriptor_watch_scope.h"

#include <utility>

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

namespace {

ThreadLocalStorage::Slot& ScopeSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

DescriptorWatchScope::DescriptorWatchScope(
    scoped_refptr<SingleThreadTaskRunner> io_thread_task_runner)
    : io_thread_task_runner_(std::move(io_thread_task_runner)) {
  ScopeSlot().Set(this);
}

DescriptorWatchScope::~DescriptorWatchScope() {
  ScopeSlot().Set(nullptr);
}

// static
DescriptorWatchScope* DescriptorWatchScope::GetCurrent() {
  return static_cast<DescriptorWatchScope*>(ScopeSlot().Get());
}

}  // namespace kelmbase
