#ifndef AGENT_BASE_TASK_CURRENT_THREAD_H_
#define AGENT_BASE_TASK_CURRENT_THREAD_H_

namespace kelmbase {

namespace sequence_manager {
namespace internal {
class SequenceManagerImpl;
}  // namespace internal
}  // namespace sequence_manager

// A view of the calling thread's task machinery (its sequence manager, once
// bound with a pump). Cheap to copy; valid while that manager lives. Use on
// the thread itself.
class CurrentThread {
 public:
  // Told, on the thread, when its sequence manager is being destroyed.
  class DestructionObserver {
   public:
    virtual void WillDestroyCurrentThread() = 0;

   protected:
    virtual ~DestructionObserver() = default;
  };

  // The calling thread's view; a null view when the thread has no manager.
  static CurrentThread Get();
  // Whether the calling thread has a manager.
  static bool IsSet();
  // Whether the calling thread's manager runs an I/O (libevent) pump.
  static bool IsIoThread();

  explicit operator bool() const { return current_ != nullptr; }

  // Forwarded to the manager; the view must not be null.
  void AddDestructionObserver(DestructionObserver* destruction_observer);
  void RemoveDestructionObserver(DestructionObserver* destruction_observer);

 private:
  explicit CurrentThread(
      sequence_manager::internal::SequenceManagerImpl* current)
      : current_(current) {}

  sequence_manager::internal::SequenceManagerImpl* current_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_CURRENT_THREAD_H_
