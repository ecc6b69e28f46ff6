#include "agent/base/task/sequence_manager/thread_controller_power_monitor.h"

#include <atomic>

#include "agent/base/power_monitor/power_monitor.h"
#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_macros.h"
#include "agent/base/trace_event/typed_event.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

namespace {

std::atomic<bool> g_enabled{false};

constexpr char kSuspendedSlice[] = "ThreadController::Suspended";
// The slice's event message names the track it lies on.
constexpr uint32_t kTrackUuidField = 11;

trace_event::TraceCategory* BaseCategory() {
  return trace_event::CategoryRegistry::Builtin(
      trace_event::CategoryRegistry::kBase);
}

// Opens ('B') or closes ('E') the suspended slice on `track`, when typed
// events are being written.
void WriteSuspendedSliceEvent(char phase, uint64_t track) {
  trace_event::TraceCategory* const category = BaseCategory();
  if (!KELM_TRACE_CATEGORY_ENABLED(category)) return;
  trace_event::TypedEventHandle slice = trace_event::BeginTypedEvent(
      phase, category, kSuspendedSlice, MonotonicTime(),
      /*explicit_track=*/true);
  if (slice) slice.event()->AppendVarInt(kTrackUuidField, track);
}

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

uint64_t ThreadControllerPowerMonitor::track_id() const {
  // Stable for the monitor's life and distinct between live monitors.
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this));
}

void ThreadControllerPowerMonitor::OnSuspend() {
  if (!g_enabled.load(std::memory_order_relaxed)) return;
  WriteSuspendedSliceEvent(trace_event::kPhaseBegin, track_id());
  is_power_suspended_ = true;
}

void ThreadControllerPowerMonitor::OnResume() {
  if (!g_enabled.load(std::memory_order_relaxed)) return;
  if (!is_power_suspended_) return;
  WriteSuspendedSliceEvent(trace_event::kPhaseEnd, track_id());
  is_power_suspended_ = false;
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
