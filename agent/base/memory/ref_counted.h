#ifndef AGENT_BASE_MEMORY_REF_COUNTED_H_
#define AGENT_BASE_MEMORY_REF_COUNTED_H_

// Intrusive reference counting.
//
//   class Foo : public kelmbase::RefCountedThreadSafe<Foo> {
//    private:
//     friend class kelmbase::RefCountedThreadSafe<Foo>;
//     ~Foo();
//   };
//   scoped_refptr<Foo> foo = kelmbase::MakeRefCounted<Foo>();
//
// Every count starts at 0 when the object is made; the first scoped_refptr
// that adopts the object raises it to 1, and the release that takes it back
// to 0 destroys the object through the traits type (an ordinary delete by
// default). Keep destructors private or protected so nothing but the last
// release can destroy a counted object.
//
// RefCountedThreadSafe may be shared and released on any thread: the object
// is destroyed on the thread that drops the last reference. RefCounted is
// for objects that stay on one thread.

#include <cstdint>
#include <limits>
#include <utility>

#include "agent/base/memory/atomic_ref_count.h"
#include "agent/base/memory/scoped_refptr.h"
#include "logging/check.h"

namespace kelmbase {
namespace subtle {

class RefCountedBaseTestPeer;

// The single-thread count. It is unsigned so that both misuse checks can
// fire: an increment past the largest value wraps to 0, and a decrement of
// a count that is already 0 wraps to the largest value.
class RefCountedBase {
 public:
  RefCountedBase(const RefCountedBase&) = delete;
  RefCountedBase& operator=(const RefCountedBase&) = delete;

  bool HasSingleRef() const { return ref_count_ == 1; }

  // Adds one reference. Fatal when the count wraps.
  void IncrementChecked() const { CHECK(++ref_count_ != 0); }

  // Drops one reference; returns true when the count reached 0 (the caller
  // then destroys the object). Fatal when the count was already 0.
  bool DecrementChecked() const {
    CHECK(--ref_count_ != std::numeric_limits<decltype(ref_count_)>::max());
    return ref_count_ == 0;
  }

 protected:
  RefCountedBase() = default;
  ~RefCountedBase() = default;

 private:
  friend class RefCountedBaseTestPeer;

  mutable uint32_t ref_count_ = 0;
};

// The count of objects shared between threads; see AtomicRefCount for the
// memory orderings.
class RefCountedThreadSafeBase {
 public:
  RefCountedThreadSafeBase(const RefCountedThreadSafeBase&) = delete;
  RefCountedThreadSafeBase& operator=(const RefCountedThreadSafeBase&) = delete;

  // Adds one reference (relaxed).
  void AddRef() const { ref_count_.Increment(); }

  // Adds one reference where the caller must already hold one: fatal when
  // the count was not positive, i.e. when this would revive a dead object.
  void AddRefChecked() const { CHECK(ref_count_.Increment() > 0); }

  // Drops one reference (acquire-release). Returns true when the count
  // reached 0; the caller then destroys the object.
  [[nodiscard]] bool Release() const { return !ref_count_.Decrement(); }

  // True when exactly one reference exists (acquire load): the caller's
  // reference is the only one and every other thread's writes are visible.
  bool HasSingleRef() const { return ref_count_.IsOne(); }

 protected:
  RefCountedThreadSafeBase() = default;
  ~RefCountedThreadSafeBase() = default;

 private:
  mutable AtomicRefCount ref_count_;
};

}  // namespace subtle

template <class T, typename Traits>
class RefCounted;

// Destroys a RefCounted<T> on its last release with an ordinary delete.
template <typename T>
struct DefaultRefCountedTraits {
  static void Destruct(const T* x) {
    RefCounted<T, DefaultRefCountedTraits>::DeleteInternal(x);
  }
};

template <class T, typename Traits = DefaultRefCountedTraits<T>>
class RefCounted : public subtle::RefCountedBase {
 public:
  void AddRef() const { IncrementChecked(); }

  void Release() const {
    if (DecrementChecked()) {
      Traits::Destruct(static_cast<const T*>(this));
    }
  }

 protected:
  RefCounted() = default;
  ~RefCounted() = default;

 private:
  friend struct DefaultRefCountedTraits<T>;
  template <typename U>
  static void DeleteInternal(const U* x) {
    delete x;
  }
};

template <class T, typename Traits>
class RefCountedThreadSafe;

// Destroys a RefCountedThreadSafe<T> on its last release with an ordinary
// delete. Classes that must be destroyed differently (task runners) give
// their own traits with a static Destruct(const T*).
template <typename T>
struct DefaultRefCountedThreadSafeTraits {
  static void Destruct(const T* x) {
    RefCountedThreadSafe<T, DefaultRefCountedThreadSafeTraits>::DeleteInternal(
        x);
  }
};

template <class T, typename Traits = DefaultRefCountedThreadSafeTraits<T>>
class RefCountedThreadSafe : public subtle::RefCountedThreadSafeBase {
 public:
  void AddRef() const { subtle::RefCountedThreadSafeBase::AddRef(); }

  void Release() const {
    if (subtle::RefCountedThreadSafeBase::Release()) {
      Traits::Destruct(static_cast<const T*>(this));
    }
  }

 protected:
  RefCountedThreadSafe() = default;
  ~RefCountedThreadSafe() = default;

 private:
  friend struct DefaultRefCountedThreadSafeTraits<T>;
  template <typename U>
  static void DeleteInternal(const U* x) {
    delete x;
  }
};

// Makes a counted T and adopts it: the result holds the only reference.
template <typename T, typename... Args>
scoped_refptr<T> MakeRefCounted(Args&&... args) {
  return scoped_refptr<T>(new T(std::forward<Args>(args)...));
}

// Adopts an existing counted object (adds a reference).
template <typename T>
scoped_refptr<T> WrapRefCounted(T* t) {
  return scoped_refptr<T>(t);
}

}  // namespace kelmbase

#endif  // AGENT_BASE_MEMORY_REF_COUNTED_H_
