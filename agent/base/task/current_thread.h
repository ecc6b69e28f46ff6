#ifndef AGENT_BASE_TASK_CURRENT_THREAD_H_
#define AGENT_BASE_TASK_CURRENT_THREAD_H_

namespace kelmbase {

// The calling thread's task machinery (its sequence manager).
class CurrentThread {
 public:
  // Told, on the thread, when its sequence manager is being destroyed.
  class DestructionObserver {
   public:
    virtual void WillDestroyCurrentThread() = 0;

   protected:
    virtual ~DestructionObserver() = default;
  };
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_CURRENT_THREAD_H_
