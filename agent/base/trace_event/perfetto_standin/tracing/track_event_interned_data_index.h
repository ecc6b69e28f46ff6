#ifndef AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACK_EVENT_INTERNED_DATA_INDEX_H_
#define AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACK_EVENT_INTERNED_DATA_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "agent/base/trace_event/perfetto_standin/tracing/track_event_incremental_state.h"
#include "logging/check.h"

namespace perfetto {

// Index storage for few, small keys: a vector searched in order.
struct SmallInternedDataTraits {
  template <typename ValueType, typename Key>
  class Index {
   public:
    const ValueType* Find(const Key& key) const {
      for (const auto& entry : entries_) {
        if (entry.first == key)
          return &entry.second;
      }
      return nullptr;
    }
    void Insert(const Key& key, ValueType value) {
      entries_.emplace_back(key, value);
    }
    size_t size() const { return entries_.size(); }

   private:
    std::vector<std::pair<Key, ValueType>> entries_;
  };
};

// Index storage for many or large keys: a hash map over std::hash<Key> and
// Key's equality.
struct BigInternedDataTraits {
  template <typename ValueType, typename Key>
  class Index {
   public:
    const ValueType* Find(const Key& key) const {
      auto it = map_.find(key);
      return it == map_.end() ? nullptr : &it->second;
    }
    void Insert(const Key& key, ValueType value) { map_.emplace(key, value); }
    size_t size() const { return map_.size(); }

   private:
    std::unordered_map<Key, ValueType, std::hash<Key>> map_;
  };
};

// Interns values of one kind within a trace-packet sequence. The first
// sight of a value in a sequence gives it the next id (1, 2, 3, ...) and
// has InternedDataType::Add(interned_data_message, id, value) describe it
// in the sequence's interned data; later sights only return the id.
//
// InternedDataType derives from this template and supplies
//   static void Add(protozero::Message* interned_data, uint64_t iid,
//                   const ValueType& value);
// One index per kind lives in the sequence's incremental state, made on
// first use; running out of index places is a fatal error.
template <typename InternedDataType, size_t FieldNumber, typename ValueType,
          typename Traits = SmallInternedDataTraits>
class TrackEventInternedDataIndex
    : public internal::BaseTrackEventInternedDataIndex {
 public:
  static uint64_t Get(EventContext* ctx, const ValueType& value) {
    internal::TrackEventIncrementalState* state = ctx->GetIncrementalState();
    TrackEventInternedDataIndex* index = GetOrCreateIndex(state);
    if (const uint64_t* iid = index->index_.Find(value))
      return *iid;
    const uint64_t iid = index->index_.size() + 1;
    index->index_.Insert(value, iid);
    InternedDataType::Add(&state->serialized_interned_data, iid, value);
    return iid;
  }

 private:
  static TrackEventInternedDataIndex* GetOrCreateIndex(
      internal::TrackEventIncrementalState* state) {
    for (auto& slot : state->interned_indices) {
      if (slot.field_number == FieldNumber)
        return static_cast<TrackEventInternedDataIndex*>(slot.index.get());
    }
    for (auto& slot : state->interned_indices) {
      if (slot.field_number == 0) {
        slot.field_number = FieldNumber;
        slot.index = std::make_unique<InternedDataType>();
        return static_cast<TrackEventInternedDataIndex*>(slot.index.get());
      }
    }
    CHECK(false) << "too many interned-data kinds in one sequence";
    return nullptr;
  }

  typename Traits::template Index<uint64_t, ValueType> index_;
};

}  // namespace perfetto

#endif  // AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_TRACING_TRACK_EVENT_INTERNED_DATA_INDEX_H_
