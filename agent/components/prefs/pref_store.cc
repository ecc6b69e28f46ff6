#include "agent/components/prefs/pref_store.h"

#include <utility>

const kelmbase::Value* ValueMapPrefStore::GetValue(
    const std::string& path) const {
  auto found = values_.find(path);
  return found == values_.end() ? nullptr : &found->second;
}

void ValueMapPrefStore::SetValue(const std::string& path,
                                 kelmbase::Value value, uint32_t write_flags) {
  values_.insert_or_assign(path, std::move(value));
  last_write_flags_ = write_flags;
}

void ValueMapPrefStore::CommitPendingWrite(
    kelmbase::OneShotClosure reply, kelmbase::OneShotClosure synchronous_done) {
  ++commit_count_;
  if (!synchronous_done.is_null()) std::move(synchronous_done).Run();
  if (!reply.is_null()) std::move(reply).Run();
}
