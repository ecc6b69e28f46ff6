#ifndef AGENT_BASE_MEMORY_WEAK_PTR_H_
#define AGENT_BASE_MEMORY_WEAK_PTR_H_

// Weak pointers: pointers that an owner can void.
//
//   class Controller {
//    public:
//     void SpawnWorker() { Worker::Start(weak_factory_.GetWeakPtr()); }
//     void WorkComplete(const Result& result) { ... }
//    private:
//     // Last member, so weak pointers are voided before anything else goes.
//     kelmbase::WeakPtrFactory<Controller> weak_factory_{this};
//   };
//
// Every WeakPtr made by a factory shares one reference-counted flag with
// it. Invalidating the factory (InvalidateWeakPtrs() or its destruction)
// sets that flag, so every WeakPtr handed out so far turns null, and the
// factory takes a fresh flag for the weak pointers it makes afterwards.
//
// Threads: validity may be tested on any thread (the flag is an atomic set
// with release and read with acquire), but dereferencing is meant for the
// owner's sequence: only there can the owner not be destroyed between the
// test and the use.

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/synchronization/atomic_flag.h"
#include "logging/check.h"

namespace kelmbase {

template <typename T>
class WeakPtr;

namespace internal {

// A weak holder's view of the owner's flag; empty (never valid) when made
// by default.
class WeakReference {
 public:
  // The invalidated mark, shared by the owner and its weak pointers. Set
  // once by the owner, never cleared.
  class Flag : public RefCountedThreadSafe<Flag> {
   public:
    // A fresh, valid flag holding its first reference.
    static scoped_refptr<Flag> Create();

    // Marks the flag invalid (release store).
    void Invalidate();

    // True until Invalidate() (acquire load).
    bool IsValid() const;

   private:
    friend class RefCountedThreadSafe<Flag>;

    Flag() = default;
    ~Flag() = default;

    AtomicFlag invalidated_;
  };

  WeakReference();
  explicit WeakReference(scoped_refptr<const Flag> flag);
  WeakReference(const WeakReference& other);
  WeakReference(WeakReference&& other) noexcept;
  WeakReference& operator=(const WeakReference& other);
  WeakReference& operator=(WeakReference&& other) noexcept;
  ~WeakReference();

  // A flag is held and it has not been invalidated.
  bool IsValid() const;

  // The same test, for callers on other sequences that only want to know
  // whether the owner may still be alive (a true answer can be stale by
  // the time it is used; a false one is final).
  bool IsValidAnySequence() const;

 private:
  scoped_refptr<const Flag> flag_;
};

// The owner's side: holds the current flag.
class WeakReferenceSource {
 public:
  // Creates the first flag.
  WeakReferenceSource();
  WeakReferenceSource(const WeakReferenceSource&) = delete;
  WeakReferenceSource& operator=(const WeakReferenceSource&) = delete;
  // Invalidates the current flag and drops the owner's reference to it.
  ~WeakReferenceSource();

  // A reference to the current flag.
  WeakReference MakeReference() const;

  // Voids every reference made so far, and starts a fresh flag so later
  // references are valid again.
  void Invalidate();

  // True when references to the current flag exist besides the source's.
  bool HasRefs() const;

 private:
  scoped_refptr<WeakReference::Flag> flag_;
};

// The untyped part of WeakPtr<T>: the reference and the object's address.
class WeakPtrBase {
 public:
  // Empty: no flag, address 0.
  WeakPtrBase();
  WeakPtrBase(const WeakPtrBase& other) = default;
  WeakPtrBase(WeakPtrBase&& other) noexcept = default;
  WeakPtrBase& operator=(const WeakPtrBase& other) = default;
  WeakPtrBase& operator=(WeakPtrBase&& other) noexcept = default;
  ~WeakPtrBase();

 protected:
  WeakPtrBase(const WeakReference& ref, uintptr_t ptr);

  WeakReference ref_;
  uintptr_t ptr_;
};

// The untyped part of WeakPtrFactory<T>.
class WeakPtrFactoryBase {
 protected:
  // Creates the first flag and stores `ptr`.
  explicit WeakPtrFactoryBase(uintptr_t ptr);
  WeakPtrFactoryBase(const WeakPtrFactoryBase&) = delete;
  WeakPtrFactoryBase& operator=(const WeakPtrFactoryBase&) = delete;
  // Zeroes the address, then destroys the source, voiding every weak
  // pointer made so far.
  ~WeakPtrFactoryBase();

  WeakReferenceSource source_;
  uintptr_t ptr_;
};

}  // namespace internal

// A pointer to a T that turns null once the T's WeakPtrFactory is
// invalidated or destroyed. Copyable; holds one reference to the shared
// flag, never to the T itself.
template <typename T>
class WeakPtr : public internal::WeakPtrBase {
 public:
  WeakPtr() = default;
  WeakPtr(std::nullptr_t) {}  // NOLINT: null converts.

  // Upcast from a WeakPtr to a derived class.
  template <typename U>
    requires std::is_convertible_v<U*, T*>
  WeakPtr(const WeakPtr<U>& other)  // NOLINT: upcasts convert.
      : WeakPtrBase(other.ref_, Upcast<U>(other.ptr_)) {}
  template <typename U>
    requires std::is_convertible_v<U*, T*>
  WeakPtr(WeakPtr<U>&& other)  // NOLINT: upcasts convert.
      : WeakPtrBase(std::move(other.ref_), Upcast<U>(other.ptr_)) {}

  // The object while the reference is valid, else null.
  T* get() const {
    return ref_.IsValid() ? reinterpret_cast<T*>(ptr_) : nullptr;
  }

  // Dereferencing a void weak pointer is fatal.
  T& operator*() const {
    CHECK(ref_.IsValid());
    return *reinterpret_cast<T*>(ptr_);
  }
  T* operator->() const {
    CHECK(ref_.IsValid());
    return reinterpret_cast<T*>(ptr_);
  }

  // get() != nullptr.
  explicit operator bool() const { return get() != nullptr; }

  // Drops the reference; the pointer is null from here on.
  void reset() {
    ref_ = internal::WeakReference();
    ptr_ = 0;
  }

  // Whether the object may still be alive, answerable on any sequence. A
  // false answer is final; a true one may be stale by the time it is used,
  // so only the owner's sequence may act on it.
  bool IsValidAnySequence() const { return ref_.IsValidAnySequence(); }

  friend bool operator==(const WeakPtr& p, std::nullptr_t) {
    return p.get() == nullptr;
  }

 private:
  template <typename U>
  friend class WeakPtr;
  template <typename U>
  friend class WeakPtrFactory;

  WeakPtr(const internal::WeakReference& ref, T* ptr)
      : WeakPtrBase(ref, reinterpret_cast<uintptr_t>(ptr)) {}

  template <typename U>
  static uintptr_t Upcast(uintptr_t ptr) {
    return reinterpret_cast<uintptr_t>(
        static_cast<T*>(reinterpret_cast<U*>(ptr)));
  }
};

// Hands out WeakPtr<T>s to one T. Make it the last member of the T, so the
// weak pointers are voided before the T's other members are destroyed.
template <class T>
class WeakPtrFactory : public internal::WeakPtrFactoryBase {
 public:
  explicit WeakPtrFactory(T* ptr)
      : WeakPtrFactoryBase(reinterpret_cast<uintptr_t>(ptr)) {}
  WeakPtrFactory(const WeakPtrFactory&) = delete;
  WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;
  ~WeakPtrFactory() = default;

  // A weak pointer that stays valid until the next InvalidateWeakPtrs() or
  // the factory's destruction.
  WeakPtr<T> GetWeakPtr() const {
    return WeakPtr<T>(source_.MakeReference(), reinterpret_cast<T*>(ptr_));
  }

  // Voids every weak pointer made so far; weak pointers made afterwards
  // are valid.
  void InvalidateWeakPtrs() { source_.Invalidate(); }

  // True when weak pointers made since the last invalidation still exist.
  bool HasWeakPtrs() const { return source_.HasRefs(); }
};

}  // namespace kelmbase

#endif  // AGENT_BASE_MEMORY_WEAK_PTR_H_
