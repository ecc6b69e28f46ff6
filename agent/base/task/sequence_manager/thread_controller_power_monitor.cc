#include "agent/base/task/sequence_manager/thread_controller_power_monitor.h"

#include <atomic>

#include "agent/base/power_monitor/power_monitor.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_macros.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

std::atomic<bool> g_enabled{false};

}  // namespace

ThreadControllerPowerMonitor::~ThreadControllerPowerMonitor() { Unregister(); }

void ThreadControllerPowerMonitor::BindToCurrentThread() {
  Unregister();
  PowerMonitor::GetInstance()->AddPowerSuspendObserver(this);
  is_observer_registered_ = true;
}

void ThreadControllerPowerMonitor::Unregister() {
  if (!is_observer_registered_) return;
  PowerMonitor::GetInstance()->RemovePowerSuspendObserver(this);
  is_observer_registered_ = false;
}

// static
void ThreadControllerPowerMonitor::SetEnabled(bool enabled) {
  g_enabled.store(enabled, std::memory_order_relaxed);
}

void ThreadControllerPowerMonitor::OnSuspend() {
  if (!g_enabled.load(std::memory_order_relaxed)) return;
  KELM_TRACE_EVENT_ASYNC_BEGIN1(
      trace_event::CategoryRegistry::Builtin(
          trace_event::CategoryRegistry::kBase),
      "ThreadController::Suspended",
      static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)), "suspended",
      true);
  is_power_suspended_ = true;
}

void ThreadControllerPowerMonitor::OnResume() {
  if (!g_enabled.load(std::memory_order_relaxed)) return;
  if (!is_power_suspended_) return;
  KELM_TRACE_EVENT_ASYNC_END0(
      trace_event::CategoryRegistry::Builtin(
          trace_event::CategoryRegistry::kBase),
      "ThreadController::Suspended",
      static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)));
  is_power_suspended_ = false;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
