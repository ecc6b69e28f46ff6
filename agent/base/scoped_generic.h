#ifndef AGENT_BASE_SCOPED_GENERIC_H_
#define AGENT_BASE_SCOPED_GENERIC_H_

#include <cstdlib>
#include <utility>

#include "logging/check.h"

namespace kelmbase {

// Owns one value of a resource handle type T and frees it when it goes out
// of scope. `Traits` supplies:
//   static T InvalidValue();    the value that owns nothing;
//   static void Free(T value);  frees a valid value.
// and optionally, for handles whose ownership is tracked elsewhere:
//   static void Acquire(T value);  called whenever a holder takes a value;
//   static void Release(T value);  called whenever a holder gives one up,
//                                  before the value is freed.
template <typename T, typename Traits>
class ScopedGeneric {
 public:
  using element_type = T;
  using traits_type = Traits;

  // Hands a value that a function returns through a `T*` out-parameter
  // straight to a holder:
  //   ScopedFD fd;
  //   GetDescriptor(fd.receive().get());
  // The receiver starts out holding the invalid value; when it is destroyed
  // (at the end of the full expression above) the holder is reset to what it
  // received, by the rules of reset(). The holder must outlive its receiver
  // and may have only one at a time; destroying a holder while its receiver
  // is alive is fatal, because the receiver would then write into it.
  class Receiver {
   public:
    explicit Receiver(ScopedGeneric& parent) : parent_(&parent) {
      parent_->StartReceiving();
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() {
      parent_->receiving_ = false;
      parent_->reset(value_);
    }

    // Where the value goes; valid for the receiver's lifetime.
    T* get() { return &value_; }

   private:
    T value_ = Traits::InvalidValue();
    ScopedGeneric* parent_;
  };

  ScopedGeneric() : value_(Traits::InvalidValue()) {}
  explicit ScopedGeneric(T value) : value_(value) { TrackAcquire(value_); }

  // The moved value stays tracked: the source gives it up before this
  // holder takes it.
  ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.release()) {
    TrackAcquire(value_);
  }
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;

  ~ScopedGeneric() {
    CHECK(!receiving_) << "ScopedGeneric destroyed with active receiver";
    FreeIfNecessary();
  }

  // Frees the held value, if any, and takes `value`. Resetting to the value
  // already held would free it and then keep a dangling handle, so it ends
  // the process at once.
  void reset(T value = Traits::InvalidValue()) {
    if (value_ != Traits::InvalidValue() && value_ == value) abort();
    FreeIfNecessary();
    value_ = value;
    TrackAcquire(value_);
  }

  // Gives up ownership without freeing; the caller now owns the value.
  [[nodiscard]] T release() {
    T old = value_;
    if (old != Traits::InvalidValue()) TrackRelease(old);
    value_ = Traits::InvalidValue();
    return old;
  }

  // A receiver for this holder; see Receiver.
  [[nodiscard]] Receiver receive() { return Receiver(*this); }

  const T& get() const { return value_; }
  bool is_valid() const { return value_ != Traits::InvalidValue(); }

  bool operator==(const T& value) const { return value_ == value; }
  bool operator!=(const T& value) const { return value_ != value; }

 private:
  void StartReceiving() {
    CHECK(!receiving_);
    receiving_ = true;
  }

  static void TrackAcquire(const T& value) {
    if constexpr (requires { Traits::Acquire(value); }) {
      if (value != Traits::InvalidValue()) Traits::Acquire(value);
    }
  }

  static void TrackRelease(const T& value) {
    if constexpr (requires { Traits::Release(value); }) {
      Traits::Release(value);
    }
  }

  void FreeIfNecessary() {
    if (value_ == Traits::InvalidValue()) return;
    TrackRelease(value_);
    Traits::Free(value_);
    value_ = Traits::InvalidValue();
  }

  T value_;
  // Whether a Receiver is attached.
  bool receiving_ = false;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_SCOPED_GENERIC_H_
