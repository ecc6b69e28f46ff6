#include "agent/components/prefs/pref_service.h"

#include <utility>

#include "logging/check.h"

PrefService::PrefService(PrefValueStore* pref_value_store,
                         scoped_refptr<PersistentPrefStore> user_prefs,
                         PrefRegistry* pref_registry)
    : pref_value_store_(pref_value_store),
      user_prefs_(std::move(user_prefs)),
      pref_registry_(pref_registry) {}

PrefService::~PrefService() = default;

std::string PrefService::GetString(const std::string& path) {
  const kelmbase::Value* value = FindPreference(path);
  if (value == nullptr || !value->is_string()) return std::string();
  return value->GetString();
}

void PrefService::SetString(const std::string& path, const std::string& value) {
  SetUserPrefValue(path, kelmbase::Value(std::string(value)));
}

void PrefService::CommitWrites() {
  user_prefs_->CommitPendingWrite(kelmbase::OneShotClosure(),
                                  kelmbase::OneShotClosure());
}

const kelmbase::Value* PrefService::FindPreference(const std::string& path) {
  CHECK(pref_registry_);
  CHECK(pref_registry_->defaults());
  CHECK(pref_value_store_);
  const kelmbase::Value* default_value =
      pref_registry_->defaults()->GetValue(path);
  if (default_value == nullptr) return nullptr;
  const kelmbase::Value* found = nullptr;
  if (!pref_value_store_->GetValue(path, default_value->type(), &found)) {
    return nullptr;
  }
  return found;
}

const PrefService::Preference* PrefService::GetRegisteredPreference(
    const std::string& path) {
  auto found = preferences_.find(path);
  if (found != preferences_.end()) return &found->second;
  const kelmbase::Value* default_value =
      pref_registry_->defaults()->GetValue(path);
  if (default_value == nullptr) return nullptr;
  auto inserted = preferences_.emplace(
      path, Preference{path, default_value->type(),
                       pref_registry_->GetRegistrationFlags(path)});
  return &inserted.first->second;
}

void PrefService::SetUserPrefValue(const std::string& path,
                                   kelmbase::Value value) {
  const Preference* preference = GetRegisteredPreference(path);
  if (preference == nullptr || preference->type != value.type()) return;
  const uint32_t write_flags =
      (preference->registration_flags & PrefRegistry::LOSSY_PREF) != 0
          ? PersistentPrefStore::kLossyWriteFlag
          : 0;
  user_prefs_->SetValue(path, std::move(value), write_flags);
}
