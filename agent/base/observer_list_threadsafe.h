#ifndef AGENT_BASE_OBSERVER_LIST_THREADSAFE_H_
#define AGENT_BASE_OBSERVER_LIST_THREADSAFE_H_

// An observer list whose observers live on different sequences. Each
// observer is registered with the runner of the sequence that added it, and
// every notification reaches it as a task on that runner, so an observer is
// only ever called on its own sequence.
//
//   scoped_refptr<ObserverListThreadSafe<Foo>> list =
//       MakeRefCounted<ObserverListThreadSafe<Foo>>();
//   list->AddObserver(this);                       // on the observer's sequence
//   list->Notify(FROM_HERE, &Foo::OnBar, 42);      // any thread
//   list->RemoveObserver(this);                    // before `this` dies
//
// Threads: AddObserver needs a sequenced context (a runner handle) on the
// calling thread; RemoveObserver and Notify may be called from any thread.
// Lifetime: the list lives while its owner or a not yet run notification
// holds it. Observers remove themselves before they are destroyed; a
// notification that arrives after the removal is dropped.

#include <cstdint>
#include <memory>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/synchronization/lock.h"
#include "agent/base/task/sequenced_task_runner.h"
#include "agent/base/task/sequenced_task_runner_handle.h"

namespace kelmbase {

// Who receives a notification that is being delivered while an observer is
// added on the delivering sequence.
enum class ObserverListPolicy : int32_t {
  // The new observer receives it too.
  kAll = 0,
  // Only observers present when the notification was sent receive it.
  kExistingOnly = 1,
};

namespace internal {

class ObserverListThreadSafeBase
    : public RefCountedThreadSafe<ObserverListThreadSafeBase> {
 public:
  ObserverListThreadSafeBase() = default;
  ObserverListThreadSafeBase(const ObserverListThreadSafeBase&) = delete;
  ObserverListThreadSafeBase& operator=(const ObserverListThreadSafeBase&) =
      delete;

 protected:
  // What a delivery on this thread is delivering right now.
  struct NotificationBase {
    const ObserverListThreadSafeBase* list;
    Location from_here;
  };

  // The notification being delivered on the calling thread, or null.
  static const NotificationBase* GetCurrentNotification();
  static void SetCurrentNotification(const NotificationBase* notification);

  virtual ~ObserverListThreadSafeBase() = default;

 private:
  friend class RefCountedThreadSafe<ObserverListThreadSafeBase>;
};

}  // namespace internal

template <class ObserverType>
class ObserverListThreadSafe : public internal::ObserverListThreadSafeBase {
 public:
  explicit ObserverListThreadSafe(
      ObserverListPolicy policy = ObserverListPolicy::kAll)
      : policy_(policy) {}

  // Registers `observer` with the calling sequence's runner (replacing an
  // earlier registration of it). Returns whether the list already had
  // observers. Fatal without a sequenced context.
  bool AddObserver(ObserverType* observer) {
    std::vector<OneShotClosure> refused;
    bool had_observers;
    {
      ScopedLock hold(lock_);
      had_observers = !observers_.empty();
      scoped_refptr<SequencedTaskRunner> task_runner =
          SequencedTaskRunnerHandle::Get();
      const uint64_t add_count = ++add_count_;
      observers_[observer] = ObserverEntry{task_runner, add_count};

      const NotificationBase* current = GetCurrentNotification();
      if (policy_ == ObserverListPolicy::kAll && current != nullptr &&
          current->list == this) {
        const auto& notification = *static_cast<const Notification*>(current);
        Notification copy{{this, notification.from_here},
                          notification.method,
                          add_count};
        OneShotClosure task = BindOneShot(
            &ObserverListThreadSafe::NotifyWrapper,
            scoped_refptr<ObserverListThreadSafe>(this), observer,
            std::move(copy));
        PostOrKeep(task_runner.get(), notification.from_here,
                   std::move(task), &refused);
      }
    }
    return had_observers;
  }

  // Unregisters `observer` (nothing when absent). Returns whether observers
  // remain. A notification already posted to it is dropped.
  bool RemoveObserver(const ObserverType* observer) {
    // The runner reference dies outside the lock.
    ObserverEntry removed;
    ScopedLock hold(lock_);
    auto it = observers_.find(const_cast<ObserverType*>(observer));
    if (it != observers_.end()) {
      removed = std::move(it->second);
      observers_.erase(it);
    }
    return !observers_.empty();
  }

  // Calls `method` with `args` on every observer, each on its own
  // sequence. Any thread. The arguments are copied once and shared.
  template <typename Method, typename... Args>
  void Notify(const Location& from_here, Method method, Args&&... args) {
    RepeatableCallback<void(ObserverType*)> bound = BindRepeatable(
        [method](const std::decay_t<Args>&... bound_args,
                 ObserverType* observer) { (observer->*method)(bound_args...); },
        std::forward<Args>(args)...);
    std::vector<OneShotClosure> refused;
    {
      ScopedLock hold(lock_);
      for (const auto& [observer, entry] : observers_) {
        Notification notification{{this, from_here}, bound, entry.add_count};
        OneShotClosure task = BindOneShot(
            &ObserverListThreadSafe::NotifyWrapper,
            scoped_refptr<ObserverListThreadSafe>(this), observer,
            std::move(notification));
        PostOrKeep(entry.task_runner.get(), from_here, std::move(task),
                   &refused);
      }
    }
    // `refused` dies here, after the lock: a refused notification holds a
    // reference to this list and arguments whose destruction may post.
  }

 private:
  friend class RefCountedThreadSafe<ObserverListThreadSafe>;

  struct ObserverEntry {
    scoped_refptr<SequencedTaskRunner> task_runner;
    uint64_t add_count = 0;
  };

  struct Notification : NotificationBase {
    RepeatableCallback<void(ObserverType*)> method;
    uint64_t add_count;
  };

  ~ObserverListThreadSafe() override = default;

  // Posts `task`; a refused task is parked in `refused` for the caller to
  // destroy after it released the lock.
  static void PostOrKeep(SequencedTaskRunner* task_runner,
                         const Location& from_here, OneShotClosure task,
                         std::vector<OneShotClosure>* refused) {
    // PostTask destroys a refused task at once; wrap it so that the
    // destruction can be deferred.
    auto holder = std::make_shared<OneShotClosure>(std::move(task));
    if (!task_runner->PostTask(
            from_here, BindOneShot([](std::shared_ptr<OneShotClosure> held) {
                                     std::move(*held).Run();
                                   },
                                   holder))) {
      refused->push_back(std::move(*holder));
    }
  }

  void NotifyWrapper(ObserverType* observer,
                     const Notification& notification) {
    {
      ScopedLock hold(lock_);
      auto it = observers_.find(observer);
      // Removed, or removed and added again, since the post.
      if (it == observers_.end() ||
          it->second.add_count != notification.add_count)
        return;
    }
    const NotificationBase* const previous = GetCurrentNotification();
    SetCurrentNotification(&notification);
    notification.method.Run(observer);
    SetCurrentNotification(previous);
  }

  const ObserverListPolicy policy_;
  Lock lock_;
  uint64_t add_count_ = 0;
  std::unordered_map<ObserverType*, ObserverEntry> observers_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_OBSERVER_LIST_THREADSAFE_H_
