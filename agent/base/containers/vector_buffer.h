#ifndef AGENT_BASE_CONTAINERS_VECTOR_BUFFER_H_
#define AGENT_BASE_CONTAINERS_VECTOR_BUFFER_H_

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cstddef>
#include <limits>
#include <new>
#include <ostream>
#include <type_traits>
#include <utility>

#include "logging/check.h"

namespace kelmbase {
namespace internal {

// A raw, fixed-size buffer of slots for T, allocated with malloc and freed
// with free. It never constructs or destroys elements on its own: the
// container on top (CircularDeque) decides which slots hold live elements
// and uses DestructRange and MoveRange on them.
template <typename T>
class VectorBuffer {
 public:
  constexpr VectorBuffer() = default;

  // `count` uninitialised slots (none for 0). A size that overflows, or an
  // allocation the system refuses, is fatal: nothing is ever written
  // through a null buffer.
  explicit VectorBuffer(size_t count) : capacity_(count) {
    if (count == 0) return;
    CHECK_LE(count, std::numeric_limits<size_t>::max() / sizeof(T));
    buffer_ = static_cast<T*>(malloc(sizeof(T) * count));
    CHECK(buffer_ != nullptr);
  }

  VectorBuffer(const VectorBuffer&) = delete;
  VectorBuffer& operator=(const VectorBuffer&) = delete;

  VectorBuffer(VectorBuffer&& other) noexcept
      : buffer_(std::exchange(other.buffer_, nullptr)),
        capacity_(std::exchange(other.capacity_, 0)) {}

  // Frees the slots held before; the elements in them must already be
  // destroyed or moved out.
  VectorBuffer& operator=(VectorBuffer&& other) noexcept {
    if (this == &other) return *this;
    free(buffer_);
    buffer_ = std::exchange(other.buffer_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }

  ~VectorBuffer() { free(buffer_); }

  // The number of slots.
  size_t capacity() const { return capacity_; }

  // Slot `i`. `i` may equal the slot count, to form the end of a range,
  // but not exceed it.
  T& operator[](size_t i) {
    CHECK(i <= capacity_);
    return buffer_[i];
  }
  const T& operator[](size_t i) const {
    CHECK(i <= capacity_);
    return buffer_[i];
  }

  T* begin() { return buffer_; }
  T* end() { return buffer_ + capacity_; }

  // Destroys the elements in [begin, end).
  void DestructRange(T* begin, T* end) {
    CHECK(begin <= end);
    if constexpr (!std::is_trivially_destructible_v<T>) {
      for (T* cur = begin; cur != end; ++cur) cur->~T();
    }
  }

  // Moves the elements in [from_begin, from_end) into the uninitialised
  // slots starting at `to`, which must not overlap the source. Each source
  // slot is left moved-from (owning handles null) and destroyed.
  static void MoveRange(T* from_begin, T* from_end, T* to) {
    if constexpr (std::is_trivially_copyable_v<T>) {
      CHECK(!RangesOverlap(from_begin, from_end, to))
          << "from_begin: 0x" << std::hex
          << reinterpret_cast<uintptr_t>(from_begin) << ", from_end: 0x"
          << reinterpret_cast<uintptr_t>(from_end) << ", to: 0x"
          << reinterpret_cast<uintptr_t>(to);
      if (from_begin != from_end) {
        memcpy(static_cast<void*>(to), static_cast<const void*>(from_begin),
               static_cast<size_t>(from_end - from_begin) * sizeof(T));
      }
    } else {
      CHECK(!RangesOverlap(from_begin, from_end, to));
      for (T* cur = from_begin; cur != from_end; ++cur, ++to) {
        new (to) T(std::move(*cur));
        cur->~T();
      }
    }
  }

 private:
  static bool RangesOverlap(const T* from_begin, const T* from_end,
                            const T* to) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(from_begin);
    const uintptr_t end = reinterpret_cast<uintptr_t>(from_end);
    const uintptr_t target = reinterpret_cast<uintptr_t>(to);
    const uintptr_t target_end = target + (end - begin);
    return target < end && begin < target_end;
  }

  T* buffer_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_CONTAINERS_VECTOR_BUFFER_H_
