#ifndef AGENT_BASE_TRACE_EVENT_TRACE_CATEGORY_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_CATEGORY_H_

#include <atomic>
#include <cstdint>

namespace kelmbase {
namespace trace_event {

// One entry of the category registry. Event sites read only `state`, with
// no lock, on every call; the trace log changes it under its main lock. The
// name is set once, before the entry is published, and never changes.
//
// `state` is the first member, so a pointer to the state byte and a pointer
// to the entry are the same address.
struct TraceCategory {
  // Bits of `state`.
  static constexpr uint8_t kEnabledForRecording = 0x01;
  static constexpr uint8_t kEnabledForFiltering = 0x10;
  // What an event site tests. 0x08 is reserved and never set.
  static constexpr uint8_t kEventSiteMask = 0x19;

  constexpr TraceCategory() : state(0), filter_mask(0), name(nullptr) {}
  constexpr explicit TraceCategory(const char* category_name)
      : state(0), filter_mask(0), name(category_name) {}
  TraceCategory(const TraceCategory&) = delete;
  TraceCategory& operator=(const TraceCategory&) = delete;

  // The test made by an event site: one relaxed byte load.
  bool IsEnabledForEvents() const {
    return (state.load(std::memory_order_relaxed) & kEventSiteMask) != 0;
  }
  // The test made by closing and attribution paths.
  bool IsEnabled() const {
    return state.load(std::memory_order_relaxed) != 0;
  }
  uint8_t state_bits() const { return state.load(std::memory_order_relaxed); }
  uint32_t filters() const {
    return filter_mask.load(std::memory_order_relaxed);
  }
  const char* category_name() const {
    return name.load(std::memory_order_relaxed);
  }

  std::atomic<uint8_t> state;
  // Bit i set: event filter i accepts this category.
  std::atomic<uint32_t> filter_mask;
  std::atomic<const char*> name;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_CATEGORY_H_
