#include "agent/base/task/per_sequence_storage_map.h"

#include "agent/base/threading/thread_local_storage.h"

namespace kelmbase {

namespace {

ThreadLocalStorage::Slot& CurrentMapSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

PerSequenceStorageMap::PerSequenceStorageMap() = default;

PerSequenceStorageMap::~PerSequenceStorageMap() {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->value != nullptr && it->destructor != nullptr)
      it->destructor(it->value);
  }
}

// static
PerSequenceStorageMap* PerSequenceStorageMap::GetCurrent() {
  return static_cast<PerSequenceStorageMap*>(CurrentMapSlot().Get());
}

// static
void PerSequenceStorageMap::SetCurrent(PerSequenceStorageMap* map) {
  CurrentMapSlot().Set(map);
}

// static
void PerSequenceStorageMap::ClearCurrent() {
  CurrentMapSlot().Set(nullptr);
}

void* PerSequenceStorageMap::Get(const void* slot_key) const {
  for (const Entry& entry : entries_) {
    if (entry.slot_key == slot_key)
      return entry.value;
  }
  return nullptr;
}

void PerSequenceStorageMap::Set(const void* slot_key, void* value,
                                ValueDestructor destructor) {
  for (Entry& entry : entries_) {
    if (entry.slot_key == slot_key) {
      const Entry replaced = entry;
      entry.value = value;
      entry.destructor = destructor;
      if (replaced.value != nullptr && replaced.destructor != nullptr)
        replaced.destructor(replaced.value);
      return;
    }
  }
  entries_.push_back(Entry{slot_key, value, destructor});
}

}  // namespace kelmbase
