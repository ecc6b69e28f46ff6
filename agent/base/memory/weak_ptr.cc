#include "agent/base/memory/weak_ptr.h"

#include <utility>

namespace kelmbase {
namespace internal {

scoped_refptr<WeakReference::Flag> WeakReference::Flag::Create() {
  return scoped_refptr<Flag>(new Flag());
}

void WeakReference::Flag::Invalidate() { invalidated_.Set(); }

bool WeakReference::Flag::IsValid() const { return !invalidated_.IsSet(); }

WeakReference::WeakReference() = default;

WeakReference::WeakReference(scoped_refptr<const Flag> flag)
    : flag_(std::move(flag)) {}

WeakReference::WeakReference(const WeakReference& other) = default;
WeakReference::WeakReference(WeakReference&& other) noexcept = default;
WeakReference& WeakReference::operator=(const WeakReference& other) = default;
WeakReference& WeakReference::operator=(WeakReference&& other) noexcept =
    default;
WeakReference::~WeakReference() = default;

bool WeakReference::IsValid() const { return flag_ && flag_->IsValid(); }

bool WeakReference::IsValidAnySequence() const {
  return flag_ && flag_->IsValid();
}

WeakReferenceSource::WeakReferenceSource()
    : flag_(WeakReference::Flag::Create()) {}

WeakReferenceSource::~WeakReferenceSource() { flag_->Invalidate(); }

WeakReference WeakReferenceSource::MakeReference() const {
  return WeakReference(flag_);
}

void WeakReferenceSource::Invalidate() {
  flag_->Invalidate();
  flag_ = WeakReference::Flag::Create();
}

bool WeakReferenceSource::HasRefs() const { return !flag_->HasSingleRef(); }

WeakPtrBase::WeakPtrBase() : ptr_(0) {}

WeakPtrBase::~WeakPtrBase() = default;

WeakPtrBase::WeakPtrBase(const WeakReference& ref, uintptr_t ptr)
    : ref_(ref), ptr_(ptr) {}

WeakPtrFactoryBase::WeakPtrFactoryBase(uintptr_t ptr) : ptr_(ptr) {}

WeakPtrFactoryBase::~WeakPtrFactoryBase() { ptr_ = 0; }

}  // namespace internal
}  // namespace kelmbase
