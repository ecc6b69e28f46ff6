#ifndef AGENT_COMPONENTS_PREFS_PREF_SERVICE_H_
#define AGENT_COMPONENTS_PREFS_PREF_SERVICE_H_

#include <cstdint>
#include <map>
#include <string>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/values.h"
#include "agent/components/prefs/pref_registry.h"
#include "agent/components/prefs/pref_store.h"
#include "agent/components/prefs/pref_value_store.h"

// Reads and writes registered preferences: values come from the layered
// stores, writes go to the user store. Nothing in the tool makes one; the
// client-auth manager uses one when given.
//
// Threads: one thread; all three collaborators must outlive the service.
class PrefService {
 public:
  PrefService(PrefValueStore* pref_value_store,
              scoped_refptr<PersistentPrefStore> user_prefs,
              PrefRegistry* pref_registry);
  PrefService(const PrefService&) = delete;
  PrefService& operator=(const PrefService&) = delete;
  ~PrefService();

  struct Preference {
    std::string path;
    kelmbase::Value::Type type;
    uint32_t registration_flags;
  };

  // The string at `path`; the empty string for anything else.
  std::string GetString(const std::string& path);
  void SetString(const std::string& path, const std::string& value);
  void CommitWrites();

  // The effective value of a registered preference of its default's kind;
  // null when unregistered or not found.
  const kelmbase::Value* FindPreference(const std::string& path);
  const Preference* GetRegisteredPreference(const std::string& path);
  // Stores `value` in the user store when the preference is registered with
  // that kind; otherwise does nothing.
  void SetUserPrefValue(const std::string& path, kelmbase::Value value);

 private:
  PrefValueStore* const pref_value_store_;
  const scoped_refptr<PersistentPrefStore> user_prefs_;
  PrefRegistry* const pref_registry_;
  std::map<std::string, Preference> preferences_;
};

#endif  // AGENT_COMPONENTS_PREFS_PREF_SERVICE_H_
