#ifndef AGENT_COMPONENTS_PREFS_PREF_VALUE_STORE_H_
#define AGENT_COMPONENTS_PREFS_PREF_VALUE_STORE_H_

#include <array>
#include <string>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/values.h"
#include "agent/components/prefs/pref_store.h"

// The layered stores a preference's value is looked up in, slot 0 first
// (managed settings) to slot 6 (defaults). Used on one thread.
class PrefValueStore {
 public:
  static constexpr size_t kStoreCount = 7;

  PrefValueStore() = default;
  PrefValueStore(const PrefValueStore&) = delete;
  PrefValueStore& operator=(const PrefValueStore&) = delete;

  // Puts `store` (may be null) in slot `index`.
  void SetStore(size_t index, scoped_refptr<PrefStore> store);

  // The first slot's value at `path` of kind `type`; a value of another
  // kind is skipped with a WARNING. False when no slot has one.
  bool GetValue(const std::string& path, kelmbase::Value::Type type,
                const kelmbase::Value** out) const;

  // The value at `path` in slot `index`, when it is of kind `type`.
  bool GetValueFromStoreWithType(const std::string& path,
                                 kelmbase::Value::Type type, size_t index,
                                 const kelmbase::Value** out) const;

 private:
  std::array<scoped_refptr<PrefStore>, kStoreCount> stores_;
};

#endif  // AGENT_COMPONENTS_PREFS_PREF_VALUE_STORE_H_
