// Thread priorities on Linux: cgroup membership, real-time scheduling and
// nice values.

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/threading/platform_thread.h"

namespace kelmbase {
namespace {

struct PriorityToNiceValue {
  ThreadPriority priority;
  int nice;
};

constexpr PriorityToNiceValue kThreadPriorityToNiceValueMap[] = {
    {ThreadPriority::kBackground, 10},
    {ThreadPriority::kNormal, 0},
    {ThreadPriority::kUrgent, -8},
    {ThreadPriority::kRealtime, -10},
};

// The real-time priority is round-robin scheduling at this level.
constexpr int kRealTimePriority = 8;

// Nothing in this program turns priorities off; kept as the switch that
// would.
std::atomic<bool> g_use_thread_priorities{true};

constexpr const char kCgroupRoot[] = "/sys/fs/cgroup";
// The cgroup controllers below the root, in the order they are written.
constexpr const char* const kCgroupControllers[] = {"cpuset", "schedtune"};

// The cgroup directory of `priority` below `controller_root`; empty when
// the priority has none.
FilePath CgroupDirectoryForPriority(const FilePath& controller_root,
                                    ThreadPriority priority) {
  const FilePath group = controller_root.Append("ostrel");
  switch (priority) {
    case ThreadPriority::kNormal:
      return group;
    case ThreadPriority::kUrgent:
    case ThreadPriority::kRealtime:
      return group.Append("urgent");
    case ThreadPriority::kBackground:
      return group.Append("non-urgent");
  }
  return FilePath();
}

// Whether the platform itself allows `priority`: real-time scheduling is
// granted by a non-zero RLIMIT_RTPRIO. Without that grant the nice value
// decides, as for every other priority.
bool PlatformAllowsPriority(ThreadPriority priority) {
  if (priority != ThreadPriority::kRealtime) return false;
  struct rlimit rlim;
  return getrlimit(RLIMIT_RTPRIO, &rlim) == 0 && rlim.rlim_cur != 0;
}

}  // namespace

namespace internal {

int PriorityToNice(ThreadPriority priority) {
  for (const PriorityToNiceValue& entry : kThreadPriorityToNiceValueMap) {
    if (entry.priority == priority) return entry.nice;
  }
  return 0;
}

bool MayLowerNiceTo(int nice_value) {
  if (geteuid() == 0) return true;
  struct rlimit rlim;
  // RLIMIT_NICE counts down from 20: a limit of n allows nice 20 - n.
  if (getrlimit(RLIMIT_NICE, &rlim) != 0) return false;
  if (rlim.rlim_cur == RLIM_INFINITY) return true;
  return nice_value >= 20 - static_cast<int64_t>(rlim.rlim_cur);
}

void MoveThreadToCgroups(ThreadPriority priority) {
  const std::string thread_id = std::to_string(PlatformThread::CurrentId());
  for (const char* controller : kCgroupControllers) {
    const FilePath directory = CgroupDirectoryForPriority(
        FilePath(kCgroupRoot).Append(controller), priority);
    if (directory.empty() || !DirectoryExists(directory)) continue;
    // Failures are ignored: the thread simply stays where it is.
    WriteFile(directory.Append("tasks"), thread_id.data(),
              static_cast<int>(thread_id.size()));
  }
}

}  // namespace internal

bool PlatformThread::MayRaisePriority(ThreadPriority priority) {
  if (PlatformAllowsPriority(priority)) return true;
  return internal::MayLowerNiceTo(internal::PriorityToNice(priority));
}

void PlatformThread::ApplyPriority(ThreadPriority priority) {
  if (!g_use_thread_priorities.load(std::memory_order_relaxed)) return;
  internal::MoveThreadToCgroups(priority);
  if (priority == ThreadPriority::kRealtime) {
    struct sched_param param = {};
    param.sched_priority = kRealTimePriority;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return;
  }
  // On Linux this sets the nice value of the calling thread only.
  setpriority(PRIO_PROCESS, 0, internal::PriorityToNice(priority));
}

}  // namespace kelmbase
