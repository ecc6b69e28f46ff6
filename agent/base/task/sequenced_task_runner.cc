#include "agent/base/task/sequenced_task_runner.h"

#include "agent/base/functional/bind.h"

namespace kelmbase {

bool SequencedTaskRunner::PostDeleteSoon(const Location& from_here,
                                         void (*deleter)(const void*),
                                         const void* object) {
  return PostNonNestableDelayedTask(from_here, BindOneShot(deleter, object),
                                    Duration());
}

}  // namespace kelmbase
