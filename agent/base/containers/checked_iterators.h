#ifndef AGENT_BASE_CONTAINERS_CHECKED_ITERATORS_H_
#define AGENT_BASE_CONTAINERS_CHECKED_ITERATORS_H_

#include <cstddef>
#include <iterator>
#include <type_traits>

#include "logging/check.h"

namespace kelmbase {

// A random-access iterator over one contiguous range [start, end) that knows
// its bounds: stepping past either end, reading the end position or mixing
// iterators of two ranges is a fatal CHECK instead of undefined behaviour.
// It holds three pointers: start, current and end.
template <typename T>
class CheckedIterator {
 public:
  using difference_type = std::ptrdiff_t;
  using value_type = std::remove_cv_t<T>;
  using pointer = T*;
  using reference = T&;
  using iterator_category = std::random_access_iterator_tag;

  constexpr CheckedIterator() = default;
  // `current` must lie within [start, end].
  constexpr CheckedIterator(T* start, T* current, T* end)
      : start_(start), current_(current), end_(end) {
    CHECK(start <= current);
    CHECK(current <= end);
  }
  constexpr CheckedIterator(const CheckedIterator& other) = default;
  constexpr CheckedIterator& operator=(const CheckedIterator& other) = default;

  // An iterator over mutable elements converts to one over const elements.
  template <typename U,
            typename = std::enable_if_t<!std::is_same_v<U, T> &&
                                        std::is_convertible_v<U (*)[], T (*)[]>>>
  constexpr CheckedIterator(const CheckedIterator<U>& other)  // NOLINT
      : start_(other.start_), current_(other.current_), end_(other.end_) {}

  constexpr bool operator==(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ == other.current_;
  }
  constexpr bool operator!=(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ != other.current_;
  }
  constexpr bool operator<(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ < other.current_;
  }
  constexpr bool operator<=(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ <= other.current_;
  }
  constexpr bool operator>(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ > other.current_;
  }
  constexpr bool operator>=(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ >= other.current_;
  }

  constexpr CheckedIterator& operator++() {
    CHECK(current_ != end_);
    ++current_;
    return *this;
  }
  constexpr CheckedIterator operator++(int) {
    CheckedIterator old = *this;
    ++*this;
    return old;
  }
  constexpr CheckedIterator& operator--() {
    CHECK(current_ != start_);
    --current_;
    return *this;
  }
  constexpr CheckedIterator operator--(int) {
    CheckedIterator old = *this;
    --*this;
    return old;
  }

  // Moving by `n` must stay within [start, end].
  constexpr CheckedIterator& operator+=(difference_type n) {
    if (n > 0) {
      CHECK(n <= end_ - current_);
    } else {
      CHECK(-n <= current_ - start_);
    }
    current_ += n;
    return *this;
  }
  constexpr CheckedIterator& operator-=(difference_type n) {
    if (n > 0) {
      CHECK(n <= current_ - start_);
    } else {
      CHECK(-n <= end_ - current_);
    }
    current_ -= n;
    return *this;
  }
  constexpr CheckedIterator operator+(difference_type n) const {
    CheckedIterator result = *this;
    result += n;
    return result;
  }
  friend constexpr CheckedIterator operator+(difference_type n,
                                             const CheckedIterator& it) {
    return it + n;
  }
  constexpr CheckedIterator operator-(difference_type n) const {
    CheckedIterator result = *this;
    result -= n;
    return result;
  }
  constexpr difference_type operator-(const CheckedIterator& other) const {
    CheckComparable(other);
    return current_ - other.current_;
  }

  constexpr reference operator*() const {
    CHECK(current_ != end_);
    return *current_;
  }
  constexpr pointer operator->() const {
    CHECK(current_ != end_);
    return current_;
  }
  // The element `n` positions away, which must lie before the end.
  constexpr reference operator[](difference_type n) const {
    return *(*this + n);
  }

 private:
  template <typename U>
  friend class CheckedIterator;

  constexpr void CheckComparable(const CheckedIterator& other) const {
    CHECK(start_ == other.start_);
    CHECK(end_ == other.end_);
  }

  T* start_ = nullptr;
  T* current_ = nullptr;
  T* end_ = nullptr;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_CONTAINERS_CHECKED_ITERATORS_H_
