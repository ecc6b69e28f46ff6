#include "agent/base/functional/callback_internal.h"

#include "logging/check.h"

namespace kelmbase {
namespace internal {

BoundStateBase::BoundStateBase(InvokeFuncStorage invoke, DestroyFunc destroy)
    : BoundStateBase(invoke, destroy, &DefaultQuery) {}

BoundStateBase::BoundStateBase(InvokeFuncStorage invoke, DestroyFunc destroy,
                               QueryFunc query)
    : invoke_(invoke), destroy_(destroy), query_(query) {}

void BoundStateBase::AddRefChecked() const {
  CHECK(ref_count_.Increment() > 0);
}

void BoundStateBase::Release() const {
  if (!ref_count_.Decrement()) destroy_(this);
}

bool BoundStateBase::DefaultQuery(const BoundStateBase* state,
                                  CancellationQueryMode mode) {
  switch (mode) {
    case CancellationQueryMode::kIsCancelled:
      return false;
    case CancellationQueryMode::kIsPossiblyValid:
      return true;
  }
  return false;
}

void CallbackCore::Reset() {
  // Cleared before the release: destroying bound arguments may reach back
  // into this callback.
  BoundStateBase* state = bound_state_;
  bound_state_ = nullptr;
  if (state) state->Release();
}

bool CallbackCore::IsCancelled() const {
  return bound_state_ == nullptr || bound_state_->IsCancelled();
}

bool CallbackCore::IsPossiblyValid() const {
  return bound_state_ != nullptr && bound_state_->IsPossiblyValid();
}

CallbackCore::CallbackCore(const CallbackCore& other)
    : bound_state_(other.bound_state_) {
  if (bound_state_) bound_state_->AddRefChecked();
}

CallbackCore& CallbackCore::operator=(const CallbackCore& other) {
  if (other.bound_state_) other.bound_state_->AddRefChecked();
  BoundStateBase* old_state = bound_state_;
  bound_state_ = other.bound_state_;
  if (old_state) old_state->Release();
  return *this;
}

CallbackCore& CallbackCore::operator=(CallbackCore&& other) noexcept {
  if (this == &other) return *this;
  BoundStateBase* old_state = bound_state_;
  bound_state_ = other.bound_state_;
  other.bound_state_ = nullptr;
  if (old_state) old_state->Release();
  return *this;
}

CallbackCore::~CallbackCore() {
  if (bound_state_) bound_state_->Release();
}

}  // namespace internal
}  // namespace kelmbase
