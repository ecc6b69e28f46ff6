#include "agent/components/prefs/pref_registry.h"

#include <utility>

PrefRegistry::PrefRegistry()
    : defaults_(kelmbase::MakeRefCounted<ValueMapPrefStore>()) {}

PrefRegistry::~PrefRegistry() = default;

void PrefRegistry::RegisterPreference(const std::string& path,
                                      kelmbase::Value default_value,
                                      uint32_t flags) {
  defaults_->SetValue(path, std::move(default_value), 0);
  if (flags != 0) flags_[path] = flags;
}

uint32_t PrefRegistry::GetRegistrationFlags(const std::string& path) const {
  auto found = flags_.find(path);
  return found == flags_.end() ? 0 : found->second;
}
