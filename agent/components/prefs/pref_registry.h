#ifndef AGENT_COMPONENTS_PREFS_PREF_REGISTRY_H_
#define AGENT_COMPONENTS_PREFS_PREF_REGISTRY_H_

#include <cstdint>
#include <map>
#include <string>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/values.h"
#include "agent/components/prefs/pref_store.h"

// The registered preferences: each path's default value and registration
// flags. Used on one thread.
class PrefRegistry {
 public:
  // Registration flag: writes of the preference may be saved lazily.
  static constexpr uint32_t LOSSY_PREF = 1 << 8;

  PrefRegistry();
  PrefRegistry(const PrefRegistry&) = delete;
  PrefRegistry& operator=(const PrefRegistry&) = delete;
  ~PrefRegistry();

  void RegisterPreference(const std::string& path, kelmbase::Value default_value,
                          uint32_t flags);

  const scoped_refptr<ValueMapPrefStore>& defaults() const { return defaults_; }

  // The flags registered for `path`; 0 when none.
  uint32_t GetRegistrationFlags(const std::string& path) const;

 private:
  scoped_refptr<ValueMapPrefStore> defaults_;
  std::map<std::string, uint32_t> flags_;
};

#endif  // AGENT_COMPONENTS_PREFS_PREF_REGISTRY_H_
