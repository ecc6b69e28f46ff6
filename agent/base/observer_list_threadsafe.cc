#include "agent/base/observer_list_threadsafe.h"

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {
namespace internal {

namespace {

ThreadLocalStorage::Slot& CurrentNotificationSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

// static
const ObserverListThreadSafeBase::NotificationBase*
ObserverListThreadSafeBase::GetCurrentNotification() {
  return static_cast<const NotificationBase*>(CurrentNotificationSlot().Get());
}

// static
void ObserverListThreadSafeBase::SetCurrentNotification(
    const NotificationBase* notification) {
  CurrentNotificationSlot().Set(const_cast<NotificationBase*>(notification));
}

}  // namespace internal
}  // namespace kelmbase
