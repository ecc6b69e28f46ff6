#include "agent/base/trace_event/category_registry.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace kelmbase {
namespace trace_event {

namespace internal {

// The three special entries come first; the disabled-by-default names form
// the last block of the built-in rows.
TraceCategory g_categories[CategoryRegistry::kMaxCategories] = {
    TraceCategory("tracing_categories_exhausted._must_increase_kMaxCategories"),
    TraceCategory("tracing_already_shutdown"),
    TraceCategory("__metadata"),
    TraceCategory("base"),
    TraceCategory("skellat"),
    TraceCategory("sequence_manager"),
    TraceCategory("toplevel"),
    TraceCategory("toplevel.flow"),
    TraceCategory("accessibility"),
    TraceCategory("android_webview"),
    TraceCategory("aogh"),
    TraceCategory("audio"),
    TraceCategory("benchmark"),
    TraceCategory("blink"),
    TraceCategory("blink.animations"),
    TraceCategory("blink.console"),
    TraceCategory("blink.net"),
    TraceCategory("blink.resource"),
    TraceCategory("blink.user_timing"),
    TraceCategory("blink_gc"),
    TraceCategory("blink_style"),
    TraceCategory("browser"),
    TraceCategory("browsing_data"),
    TraceCategory("caching"),
    TraceCategory("cc"),
    TraceCategory("cdp.perf"),
    TraceCategory("chromeos"),
    TraceCategory("cma"),
    TraceCategory("compositor"),
    TraceCategory("content"),
    TraceCategory("content_capture"),
    TraceCategory("crash_keys"),
    TraceCategory("dawn"),
    TraceCategory("device"),
    TraceCategory("disk_cache"),
    TraceCategory("download"),
    TraceCategory("drm"),
    TraceCategory("drmcursor"),
    TraceCategory("dwrite"),
    TraceCategory("exo"),
    TraceCategory("extensions"),
    TraceCategory("favicon"),
    TraceCategory("fonts"),
    TraceCategory("gpu"),
    TraceCategory("gpu.angle"),
    TraceCategory("gpu.capture"),
    TraceCategory("gpu.memory"),
    TraceCategory("headless"),
    TraceCategory("history"),
    TraceCategory("hwoverlays"),
    TraceCategory("identity"),
    TraceCategory("input"),
    TraceCategory("input.scrolling"),
    TraceCategory("ipc"),
    TraceCategory("jpeg"),
    TraceCategory("latency"),
    TraceCategory("latencyInfo"),
    TraceCategory("leveldb"),
    TraceCategory("loading"),
    TraceCategory("log"),
    TraceCategory("login"),
    TraceCategory("media"),
    TraceCategory("memory"),
    TraceCategory("memory_manager"),
    TraceCategory("mojom"),
    TraceCategory("navigation"),
    TraceCategory("net"),
    TraceCategory("netlog"),
    TraceCategory("network"),
    TraceCategory("omnibox"),
    TraceCategory("oobe"),
    TraceCategory("ozone"),
    TraceCategory("partition_alloc"),
    TraceCategory("passwords"),
    TraceCategory("pepper"),
    TraceCategory("performance_manager"),
    TraceCategory("permissions"),
    TraceCategory("power"),
    TraceCategory("ppapi"),
    TraceCategory("printing"),
    TraceCategory("rail"),
    TraceCategory("renderer"),
    TraceCategory("renderer.scheduler"),
    TraceCategory("renderer_host"),
    TraceCategory("safe_browsing"),
    TraceCategory("sandbox"),
    TraceCategory("scheduler"),
    TraceCategory("scheduler.long_tasks"),
    TraceCategory("security"),
    TraceCategory("service_manager"),
    TraceCategory("shell"),
    TraceCategory("shortcut_viewer"),
    TraceCategory("shutdown"),
    TraceCategory("sql"),
    TraceCategory("startup"),
    TraceCategory("storage"),
    TraceCategory("sync"),
    TraceCategory("system_apps"),
    TraceCategory("test_gpu"),
    TraceCategory("test_tracing"),
    TraceCategory("thread_pool"),
    TraceCategory("tracing"),
    TraceCategory("ui"),
    TraceCategory("ui.frame_timing"),
    TraceCategory("ui.gestures"),
    TraceCategory("v8"),
    TraceCategory("v8.console"),
    TraceCategory("v8.execute"),
    TraceCategory("v8.wasm"),
    TraceCategory("valuer_proxy"),
    TraceCategory("vaapi"),
    TraceCategory("viz"),
    TraceCategory("viz.hit_testing"),
    TraceCategory("wayland"),
    TraceCategory("webaudio"),
    TraceCategory("weblayer"),
    TraceCategory("webengine.fidl"),
    TraceCategory("webrtc"),
    TraceCategory("webview"),
    TraceCategory("xr"),
    TraceCategory("kelm"),
    TraceCategory("kelm.auth"),
    TraceCategory("kelm.cert"),
    TraceCategory("kelm.cert.path"),
    TraceCategory("kelm.crypto"),
    TraceCategory("kelm.files"),
    TraceCategory("kelm.histograms"),
    TraceCategory("kelm.io"),
    TraceCategory("kelm.pref"),
    TraceCategory("kelm.signing"),
    TraceCategory("kelm.threads"),
    TraceCategory("kelm.timers"),
    TraceCategory("libevent"),
    TraceCategory("pickle"),
    TraceCategory("posix"),
    TraceCategory("process"),
    TraceCategory("runloop"),
    TraceCategory("signals"),
    TraceCategory("socket"),
    TraceCategory("sockets"),
    TraceCategory("spool"),
    TraceCategory("tasks"),
    TraceCategory("timers"),
    TraceCategory("values"),
    TraceCategory("disabled-by-default-devtools.timeline"),
    TraceCategory("disabled-by-default-lifecycles"),
    TraceCategory("disabled-by-default-sequence_manager"),
    TraceCategory("disabled-by-default-sequence_manager.debug"),
    TraceCategory("disabled-by-default-sequence_manager.verbose_snapshots"),
    TraceCategory("disabled-by-default-toplevel.ipc"),
    TraceCategory("disabled-by-default-audio"),
    TraceCategory("disabled-by-default-blink.debug"),
    TraceCategory("disabled-by-default-blink.debug.layout"),
    TraceCategory("disabled-by-default-blink.invalidation"),
    TraceCategory("disabled-by-default-cc.debug"),
    TraceCategory("disabled-by-default-cc.debug.display_items"),
    TraceCategory("disabled-by-default-cc.debug.picture"),
    TraceCategory("disabled-by-default-cc.debug.quads"),
    TraceCategory("disabled-by-default-cc.debug.scheduler"),
    TraceCategory("disabled-by-default-compositor-worker"),
    TraceCategory("disabled-by-default-cpu_profiler"),
    TraceCategory("disabled-by-default-cpu_profiler.debug"),
    TraceCategory("disabled-by-default-devtools.screenshot"),
    TraceCategory("disabled-by-default-devtools.timeline.frame"),
    TraceCategory("disabled-by-default-devtools.timeline.invalidationTracking"),
    TraceCategory("disabled-by-default-devtools.timeline.layers"),
    TraceCategory("disabled-by-default-devtools.timeline.picture"),
    TraceCategory("disabled-by-default-devtools.timeline.stack"),
    TraceCategory("disabled-by-default-file"),
    TraceCategory("disabled-by-default-gpu.debug"),
    TraceCategory("disabled-by-default-gpu.decoder"),
    TraceCategory("disabled-by-default-gpu.device"),
    TraceCategory("disabled-by-default-gpu.service"),
    TraceCategory("disabled-by-default-histogram_samples"),
    TraceCategory("disabled-by-default-ipc.flow"),
    TraceCategory("disabled-by-default-java-heap-profiler"),
    TraceCategory("disabled-by-default-layer-element"),
    TraceCategory("disabled-by-default-layout_shift.debug"),
    TraceCategory("disabled-by-default-memory-infra"),
    TraceCategory("disabled-by-default-memory-infra.v8.code_stats"),
    TraceCategory("disabled-by-default-net"),
    TraceCategory("disabled-by-default-netlog"),
    TraceCategory("disabled-by-default-network"),
    TraceCategory("disabled-by-default-power"),
    TraceCategory("disabled-by-default-renderer.scheduler"),
    TraceCategory("disabled-by-default-renderer.scheduler.debug"),
    TraceCategory("disabled-by-default-skia"),
    TraceCategory("disabled-by-default-skia.gpu"),
    TraceCategory("disabled-by-default-skia.gpu.cache"),
    TraceCategory("disabled-by-default-SyncFileSystem"),
    TraceCategory("disabled-by-default-system_stats"),
    TraceCategory("disabled-by-default-thread_pool_diagnostics"),
    TraceCategory("disabled-by-default-toplevel.flow"),
    TraceCategory("disabled-by-default-user_action_samples"),
    TraceCategory("disabled-by-default-v8.compile"),
    TraceCategory("disabled-by-default-v8.cpu_profiler"),
    TraceCategory("disabled-by-default-v8.gc"),
    TraceCategory("disabled-by-default-v8.gc_stats"),
    TraceCategory("disabled-by-default-v8.ic_stats"),
    TraceCategory("disabled-by-default-v8.runtime"),
    TraceCategory("disabled-by-default-v8.runtime_stats"),
    TraceCategory("disabled-by-default-v8.runtime_stats_sampling"),
    TraceCategory("disabled-by-default-v8.stack_trace"),
    TraceCategory("disabled-by-default-v8.turbofan"),
    TraceCategory("disabled-by-default-v8.wasm.detailed"),
    TraceCategory("disabled-by-default-viz.debug.overlay_planes"),
    TraceCategory("disabled-by-default-viz.hit_testing_flow"),
    TraceCategory("disabled-by-default-viz.overdraw"),
    TraceCategory("disabled-by-default-viz.quads"),
    TraceCategory("disabled-by-default-viz.surface_id_flow"),
    TraceCategory("disabled-by-default-viz.surface_lifetime"),
    TraceCategory("disabled-by-default-viz.triangles"),
    TraceCategory("disabled-by-default-webrtc"),
    TraceCategory("disabled-by-default-worker.scheduler"),
    TraceCategory("disabled-by-default-kelm.auth.debug"),
    TraceCategory("disabled-by-default-kelm.cert.debug"),
    TraceCategory("disabled-by-default-kelm.io.debug"),
    TraceCategory("disabled-by-default-kelm.threads.debug"),
    TraceCategory("disabled-by-default-kelm.timers.debug"),
    TraceCategory("disabled-by-default-libevent.debug"),
    TraceCategory("disabled-by-default-tasks.debug"),
    TraceCategory("disabled-by-default-memory_dumps"),
    TraceCategory("disabled-by-default-heap_profiler"),
    TraceCategory("disabled-by-default-heap_profiler.task_context"),
    TraceCategory("disabled-by-default-instruction_counts"),
    TraceCategory("disabled-by-default-trace_buffers"),
    TraceCategory("disabled-by-default-trace_log.debug"),
    TraceCategory("disabled-by-default-paths.debug"),
    TraceCategory("disabled-by-default-values.debug"),
    TraceCategory("disabled-by-default-locks"),
    TraceCategory("disabled-by-default-waits"),
    TraceCategory("disabled-by-default-blocking_calls"),
    TraceCategory("disabled-by-default-cgroup.debug"),
    TraceCategory("disabled-by-default-kelm.pref.debug"),
    TraceCategory("disabled-by-default-signals.debug"),
    TraceCategory("disabled-by-default-sockets.debug"),
    TraceCategory("disabled-by-default-workers.debug"),
};

}  // namespace internal

namespace {

std::atomic<size_t> g_category_count{CategoryRegistry::kNumBuiltinCategories};

static_assert(offsetof(TraceCategory, state) == 0,
              "the state byte must be the entry's first member");

}  // namespace

// static
TraceCategory* CategoryRegistry::FindCategoryByName(const char* name) {
  const size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    TraceCategory& category = internal::g_categories[i];
    if (strcmp(category.category_name(), name) == 0)
      return &category;
  }
  return nullptr;
}

// static
bool CategoryRegistry::GetOrCreateCategoryLocked(
    const char* name, CategoryInitializer initializer, void* context,
    TraceCategory** category) {
  *category = FindCategoryByName(name);
  if (*category != nullptr)
    return false;

  // Only the holder of the trace log's lock adds entries, so the count
  // cannot move under us.
  const size_t count = g_category_count.load(std::memory_order_relaxed);
  if (count >= kMaxCategories) {
    *category = &internal::g_categories[kCategoryExhausted];
    return false;
  }
  TraceCategory* entry = &internal::g_categories[count];
  entry->name.store(strdup(name), std::memory_order_relaxed);
  initializer(entry, context);
  g_category_count.store(count + 1, std::memory_order_release);
  *category = entry;
  return true;
}

// static
CategoryRegistry::Range CategoryRegistry::GetAllCategories() {
  const size_t count = g_category_count.load(std::memory_order_acquire);
  return Range{internal::g_categories, internal::g_categories + count};
}

// static
size_t CategoryRegistry::size() {
  return g_category_count.load(std::memory_order_acquire);
}

// static
void CategoryRegistry::ResetForTesting() {
  const size_t count = g_category_count.exchange(kNumBuiltinCategories,
                                                 std::memory_order_acq_rel);
  for (size_t i = kNumBuiltinCategories; i < count; ++i) {
    TraceCategory& entry = internal::g_categories[i];
    free(const_cast<char*>(
        entry.name.exchange(nullptr, std::memory_order_relaxed)));
    entry.state.store(0, std::memory_order_relaxed);
    entry.filter_mask.store(0, std::memory_order_relaxed);
  }
}

}  // namespace trace_event
}  // namespace kelmbase
