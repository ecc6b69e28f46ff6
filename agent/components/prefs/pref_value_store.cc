#include "agent/components/prefs/pref_value_store.h"

#include <utility>

#include "logging/check.h"
#include "logging/log.h"

void PrefValueStore::SetStore(size_t index, scoped_refptr<PrefStore> store) {
  CHECK_LT(index, kStoreCount);
  stores_[index] = std::move(store);
}

bool PrefValueStore::GetValue(const std::string& path,
                              kelmbase::Value::Type type,
                              const kelmbase::Value** out) const {
  for (size_t index = 0; index < kStoreCount; ++index) {
    if (GetValueFromStoreWithType(path, type, index, out)) return true;
  }
  return false;
}

bool PrefValueStore::GetValueFromStoreWithType(
    const std::string& path, kelmbase::Value::Type type, size_t index,
    const kelmbase::Value** out) const {
  const PrefStore* store = stores_[index].get();
  if (store == nullptr) return false;
  const kelmbase::Value* value = store->GetValue(path);
  if (value == nullptr) return false;
  if (value->type() != type) {
    LOG(WARNING) << "Expected type for " << path << " is " << type
                 << " but got " << value->type() << " in store " << index;
    *out = nullptr;
    return false;
  }
  *out = value;
  return true;
}
