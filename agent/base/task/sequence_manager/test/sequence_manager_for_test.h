#ifndef AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_SEQUENCE_MANAGER_FOR_TEST_H_
#define AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_SEQUENCE_MANAGER_FOR_TEST_H_

#include <memory>

#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/test/fake_thread_controller.h"
#include "agent/base/task/sequence_manager/test/test_tick_clock.h"

namespace kelmbase {
namespace sequence_manager {

// A sequence manager bound to the calling thread over a fake controller and
// a test clock. Destroy it on the same thread.
class SequenceManagerForTest {
 public:
  explicit SequenceManagerForTest(
      SequenceManager::Settings settings = SequenceManager::Settings()) {
    auto controller = std::make_unique<FakeThreadController>(&clock_);
    controller_ = controller.get();
    settings.clock = &clock_;
    manager_ = internal::SequenceManagerImpl::CreateUnbound(
        std::move(controller), settings);
    manager_->BindToCurrentThread();
  }

  internal::SequenceManagerImpl* manager() { return manager_.get(); }
  FakeThreadController* controller() { return controller_; }
  TestTickClock* clock() { return &clock_; }

  // Destroys the manager now (the clock stays).
  void DestroyManager() {
    controller_ = nullptr;
    manager_.reset();
  }

 private:
  TestTickClock clock_;
  FakeThreadController* controller_ = nullptr;
  std::unique_ptr<internal::SequenceManagerImpl> manager_;
};

}  // namespace sequence_manager
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_SEQUENCE_MANAGER_TEST_SEQUENCE_MANAGER_FOR_TEST_H_
