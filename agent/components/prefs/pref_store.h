#ifndef AGENT_COMPONENTS_PREFS_PREF_STORE_H_
#define AGENT_COMPONENTS_PREFS_PREF_STORE_H_

#include <cstdint>
#include <map>
#include <string>

#include "agent/base/functional/callback.h"
#include "agent/base/memory/ref_counted.h"
#include "agent/base/values.h"

// A store of preference values by path. Shared through its reference count;
// used on one thread.
class PrefStore : public kelmbase::RefCountedThreadSafe<PrefStore> {
 public:
  // The value at `path` (owned by the store), or null.
  virtual const kelmbase::Value* GetValue(const std::string& path) const = 0;

 protected:
  friend class kelmbase::RefCountedThreadSafe<PrefStore>;
  virtual ~PrefStore() = default;
};

// The store the user's own settings are written to.
class PersistentPrefStore : public PrefStore {
 public:
  // Write flag: the value is to be saved at once.
  static constexpr uint32_t kLossyWriteFlag = 1 << 1;

  virtual void SetValue(const std::string& path, kelmbase::Value value,
                        uint32_t write_flags) = 0;
  // Saves what has been set; `reply` and `synchronous_done` run when done
  // (either may be empty).
  virtual void CommitPendingWrite(kelmbase::OneShotClosure reply,
                                  kelmbase::OneShotClosure synchronous_done) = 0;
};

// A plain in-memory store, for defaults and tests.
class ValueMapPrefStore : public PersistentPrefStore {
 public:
  ValueMapPrefStore() = default;

  const kelmbase::Value* GetValue(const std::string& path) const override;
  void SetValue(const std::string& path, kelmbase::Value value,
                uint32_t write_flags) override;
  void CommitPendingWrite(kelmbase::OneShotClosure reply,
                          kelmbase::OneShotClosure synchronous_done) override;

  int commit_count() const { return commit_count_; }
  uint32_t last_write_flags() const { return last_write_flags_; }

 private:
  ~ValueMapPrefStore() override = default;

  std::map<std::string, kelmbase::Value> values_;
  int commit_count_ = 0;
  uint32_t last_write_flags_ = 0;
};

#endif  // AGENT_COMPONENTS_PREFS_PREF_STORE_H_
