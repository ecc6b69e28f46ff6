#ifndef AGENT_BASE_TASK_PER_SEQUENCE_STORAGE_MAP_H_
#define AGENT_BASE_TASK_PER_SEQUENCE_STORAGE_MAP_H_

#include <vector>

namespace kelmbase {

// Values kept per sequence, keyed by the address of their slot. The thread's
// controller owns one map and makes it the thread's current map while it is
// bound. Destroying the map destroys its values, newest first.
class PerSequenceStorageMap {
 public:
  using ValueDestructor = void (*)(void* value);

  PerSequenceStorageMap();
  PerSequenceStorageMap(const PerSequenceStorageMap&) = delete;
  PerSequenceStorageMap& operator=(const PerSequenceStorageMap&) = delete;
  ~PerSequenceStorageMap();

  // The calling thread's current map, or null.
  static PerSequenceStorageMap* GetCurrent();
  // Makes `map` the calling thread's current map.
  static void SetCurrent(PerSequenceStorageMap* map);
  // Leaves the calling thread without a current map.
  static void ClearCurrent();

  // The value stored for `slot_key`, or null.
  void* Get(const void* slot_key) const;
  // Stores `value` for `slot_key` with the function that destroys it when
  // the map goes. A value stored before for the same key is destroyed.
  void Set(const void* slot_key, void* value, ValueDestructor destructor);

 private:
  struct Entry {
    const void* slot_key;
    void* value;
    ValueDestructor destructor;
  };

  std::vector<Entry> entries_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_PER_SEQUENCE_STORAGE_MAP_H_
