#ifndef AGENT_BASE_MEMORY_SCOPED_REFPTR_H_
#define AGENT_BASE_MEMORY_SCOPED_REFPTR_H_

#include <compare>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

// The owning pointer to a reference-counted object (any type with AddRef()
// and Release(), normally kelmbase::RefCounted or RefCountedThreadSafe).
// Making one from a raw pointer or copying one adds a reference; destruction,
// reset() and assignment release the reference held before; moving
// transfers the reference without touching the count. One pointer wide.
//
// Like a raw pointer, a scoped_refptr is not synchronised: each thread uses
// its own, and the counted object decides whether that is safe.
template <class T>
class scoped_refptr {
 public:
  using element_type = T;

  constexpr scoped_refptr() = default;
  constexpr scoped_refptr(std::nullptr_t) {}  // NOLINT: null converts.

  // Adopts `p` (adds a reference unless it is null).
  scoped_refptr(T* p) : ptr_(p) {  // NOLINT: raw pointers convert.
    if (ptr_) ptr_->AddRef();
  }

  scoped_refptr(const scoped_refptr& r) : scoped_refptr(r.ptr_) {}

  template <typename U>
    requires std::is_convertible_v<U*, T*>
  scoped_refptr(const scoped_refptr<U>& r)  // NOLINT: upcasts convert.
      : scoped_refptr(r.get()) {}

  scoped_refptr(scoped_refptr&& r) noexcept : ptr_(std::exchange(r.ptr_, nullptr)) {}

  template <typename U>
    requires std::is_convertible_v<U*, T*>
  scoped_refptr(scoped_refptr<U>&& r) noexcept  // NOLINT: upcasts convert.
      : ptr_(std::exchange(r.ptr_, nullptr)) {}

  ~scoped_refptr() {
    if (ptr_) ptr_->Release();
  }

  scoped_refptr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  scoped_refptr& operator=(T* p) { return *this = scoped_refptr(p); }

  // Copy-and-swap: the old reference is released after the new one is
  // taken, so self-assignment is safe.
  scoped_refptr& operator=(scoped_refptr r) noexcept {
    swap(r);
    return *this;
  }

  T* get() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Releases the reference and leaves the pointer null.
  void reset() { scoped_refptr().swap(*this); }

  void swap(scoped_refptr& r) noexcept { std::swap(ptr_, r.ptr_); }

  template <typename U>
  bool operator==(const scoped_refptr<U>& rhs) const {
    return ptr_ == rhs.get();
  }
  template <typename U>
  bool operator==(const U* rhs) const {
    return ptr_ == rhs;
  }
  bool operator==(std::nullptr_t) const { return ptr_ == nullptr; }

  template <typename U>
  std::strong_ordering operator<=>(const scoped_refptr<U>& rhs) const {
    return std::compare_three_way()(ptr_, rhs.get());
  }

 private:
  template <typename U>
  friend class scoped_refptr;

  T* ptr_ = nullptr;
};

template <typename T>
void swap(scoped_refptr<T>& a, scoped_refptr<T>& b) noexcept {
  a.swap(b);
}

template <typename T>
struct std::hash<scoped_refptr<T>> {
  size_t operator()(const scoped_refptr<T>& p) const {
    return std::hash<T*>()(p.get());
  }
};

#endif  // AGENT_BASE_MEMORY_SCOPED_REFPTR_H_
