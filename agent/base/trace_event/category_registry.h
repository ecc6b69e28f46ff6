#ifndef AGENT_BASE_TRACE_EVENT_CATEGORY_REGISTRY_H_
#define AGENT_BASE_TRACE_EVENT_CATEGORY_REGISTRY_H_

#include <cstddef>

#include "agent/base/trace_event/trace_category.h"

namespace kelmbase {
namespace trace_event {

namespace internal {
// The process-wide table. The first kNumBuiltinCategories entries are
// constant-initialised with their names, so an event site can name its
// entry by index with no lookup and no start-up work.
extern TraceCategory g_categories[];
}  // namespace internal

// The fixed registry of trace categories: 300 entries, of which the first
// 237 are built in. Names are never removed; once all 300 are taken every
// new name maps to the "tracing_categories_exhausted..." entry, whose state
// stays 0, so its events are dropped.
//
// Threads: lookups (FindCategoryByName, GetAllCategories) need no lock. New
// entries are added only by GetOrCreateCategoryLocked under the trace log's
// main lock; an entry is fully written before the count that makes it
// visible is published (release store, acquire load).
class CategoryRegistry {
 public:
  static constexpr size_t kMaxCategories = 300;
  static constexpr size_t kNumBuiltinCategories = 237;

  // Indexes of the built-in entries that the program's own code names.
  enum BuiltinIndex : size_t {
    kCategoryExhausted = 0,
    kAlreadyShutdown = 1,
    kMetadata = 2,
    kBase = 3,
    kSkellat = 4,
    kSequenceManager = 5,
    kToplevel = 6,
    kToplevelFlow = 7,
    kDisabledByDefaultDevtoolsTimeline = 144,
    kDisabledByDefaultLifecycles = 145,
    kDisabledByDefaultSequenceManager = 146,
    kDisabledByDefaultSequenceManagerDebug = 147,
    kDisabledByDefaultSequenceManagerVerboseSnapshots = 148,
    kDisabledByDefaultToplevelIpc = 149,
  };

  // A built-in entry; its address is fixed when the program is linked.
  static TraceCategory* Builtin(BuiltinIndex index) {
    return &internal::g_categories[index];
  }

  // The entry whose name equals `name` (strcmp), or null.
  static TraceCategory* FindCategoryByName(const char* name);

  // Called with the trace log's main lock held. Finds `name`, or adds it:
  // stores a heap copy of the name, runs `initializer` on the new entry (it
  // sets the state byte and filter mask) and then publishes it. Returns
  // true only when an entry was added. A full registry gives the
  // exhausted-entry and false.
  using CategoryInitializer = void (*)(TraceCategory* category, void* context);
  static bool GetOrCreateCategoryLocked(const char* name,
                                        CategoryInitializer initializer,
                                        void* context,
                                        TraceCategory** category);

  // Entries 0 to the published count.
  struct Range {
    TraceCategory* begin() const { return first; }
    TraceCategory* end() const { return last; }
    TraceCategory* first;
    TraceCategory* last;
  };
  static Range GetAllCategories();

  // The number of entries in use.
  static size_t size();

  // Test hook: removes the entries added at run time (their names are
  // freed and their states cleared), leaving the built-in table alone. Only
  // while no other thread uses the registry and nothing keeps an added
  // entry.
  static void ResetForTesting();

  // The entry that owns a state byte (the state byte is the entry's first
  // member).
  static TraceCategory* FromStatePtr(const uint8_t* state) {
    return reinterpret_cast<TraceCategory*>(const_cast<uint8_t*>(state));
  }
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_CATEGORY_REGISTRY_H_
