#include "agent/base/task/sequence_manager/sequence_manager.h"

#include "agent/base/task/sequence_manager/sequence_manager_impl.h"
#include "agent/base/task/sequence_manager/thread_controller_with_message_pump_impl.h"

namespace kelmbase {
namespace sequence_manager {

std::unique_ptr<SequenceManager> CreateUnboundSequenceManager(
    const SequenceManager::Settings& settings) {
  return internal::SequenceManagerImpl::CreateUnbound(
      internal::ThreadControllerWithMessagePumpImpl::CreateUnbound(settings),
      settings);
}

}  // namespace sequence_manager
}  // namespace kelmbase
