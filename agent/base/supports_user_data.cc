#include "agent/base/supports_user_data.h"

#include <utility>

namespace kelmbase {

SupportsUserData::SupportsUserData() = default;

SupportsUserData::SupportsUserData(SupportsUserData&& other)
    : user_data_(std::move(other.user_data_)) {
  other.user_data_.clear();
}

SupportsUserData& SupportsUserData::operator=(SupportsUserData&& other) {
  if (this == &other) return *this;
  // The old data dies only after both maps are settled, for the same reason
  // as in the destructor.
  std::map<const void*, std::unique_ptr<Data>> old;
  old.swap(user_data_);
  user_data_ = std::move(other.user_data_);
  other.user_data_.clear();
  return *this;
}

SupportsUserData::~SupportsUserData() {
  std::map<const void*, std::unique_ptr<Data>> doomed;
  doomed.swap(user_data_);
}

SupportsUserData::Data* SupportsUserData::GetUserData(const void* key) const {
  auto it = user_data_.find(key);
  return it == user_data_.end() ? nullptr : it->second.get();
}

void SupportsUserData::SetUserData(const void* key,
                                   std::unique_ptr<Data> data) {
  if (!data) {
    RemoveUserData(key);
    return;
  }
  // Swap in first: the replaced data's destructor then sees the new state.
  std::unique_ptr<Data> old = std::move(user_data_[key]);
  user_data_[key] = std::move(data);
}

void SupportsUserData::RemoveUserData(const void* key) {
  auto it = user_data_.find(key);
  if (it == user_data_.end()) return;
  std::unique_ptr<Data> doomed = std::move(it->second);
  user_data_.erase(it);
}

}  // namespace kelmbase
