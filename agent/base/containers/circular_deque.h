#ifndef AGENT_BASE_CONTAINERS_CIRCULAR_DEQUE_H_
#define AGENT_BASE_CONTAINERS_CIRCULAR_DEQUE_H_

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <limits>
#include <new>
#include <utility>

#include "agent/base/containers/vector_buffer.h"
#include "logging/check.h"

namespace kelmbase {

template <typename T>
class CircularDeque;

namespace internal {

// Walks a CircularDeque by logical position (0 is the front). Any change
// to the deque's size invalidates it.
template <typename T, bool kConst>
class CircularDequeIterator {
 public:
  using iterator_category = std::bidirectional_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = std::conditional_t<kConst, const T*, T*>;
  using reference = std::conditional_t<kConst, const T&, T&>;
  using Deque =
      std::conditional_t<kConst, const CircularDeque<T>, CircularDeque<T>>;

  CircularDequeIterator() = default;
  CircularDequeIterator(Deque* deque, size_t index)
      : deque_(deque), index_(index) {}
  // A mutable iterator converts to a read-only one.
  template <bool kOtherConst>
    requires(kConst && !kOtherConst)
  CircularDequeIterator(  // NOLINT: iterators convert to const ones.
      const CircularDequeIterator<T, kOtherConst>& other)
      : deque_(other.deque_), index_(other.index_) {}

  reference operator*() const { return (*deque_)[index_]; }
  pointer operator->() const { return &(*deque_)[index_]; }

  CircularDequeIterator& operator++() {
    ++index_;
    return *this;
  }
  CircularDequeIterator operator++(int) {
    CircularDequeIterator old = *this;
    ++index_;
    return old;
  }
  CircularDequeIterator& operator--() {
    --index_;
    return *this;
  }
  CircularDequeIterator operator--(int) {
    CircularDequeIterator old = *this;
    --index_;
    return old;
  }

  bool operator==(const CircularDequeIterator& other) const {
    return deque_ == other.deque_ && index_ == other.index_;
  }

 private:
  template <typename U, bool kOtherConst>
  friend class CircularDequeIterator;

  Deque* deque_ = nullptr;
  size_t index_ = 0;
};

}  // namespace internal

// A double-ended queue in one ring buffer; the base library's queue and
// stack. Not synchronised: owners lock around it.
//
// One slot of the buffer always stays empty, so the usable capacity is the
// slot count minus 1 (0 with no buffer), and the deque is empty when the
// begin and end indexes are equal. Capacity follows the size:
//   - Before a push that needs room, with usable capacity c and size n after
//     the push, the capacity becomes the largest of n, 3 and c + c / 4
//     (the first element gives capacity 3).
//   - After a pop, with capacity c >= 4 and size n, when at least n slots
//     are free the capacity drops to the larger of n + n / 4 and 3, if that
//     is below c.
// Changing the capacity moves the elements, in order, to the start of a
// new buffer; it invalidates references, pointers and iterators.
template <typename T>
class CircularDeque {
 public:
  using value_type = T;
  using size_type = size_t;
  using difference_type = std::ptrdiff_t;
  using reference = T&;
  using const_reference = const T&;
  using iterator = internal::CircularDequeIterator<T, false>;
  using const_iterator = internal::CircularDequeIterator<T, true>;

  CircularDeque() = default;

  CircularDeque(const CircularDeque& other)
    requires std::is_copy_constructible_v<T>
  {
    reserve(other.size());
    for (const T& value : other) push_back(value);
  }
  CircularDeque& operator=(const CircularDeque& other)
    requires std::is_copy_constructible_v<T>
  {
    if (this == &other) return *this;
    CircularDeque copy(other);
    swap(copy);
    return *this;
  }

  CircularDeque(CircularDeque&& other) noexcept
      : buffer_(std::move(other.buffer_)),
        begin_(std::exchange(other.begin_, 0)),
        end_(std::exchange(other.end_, 0)) {}
  CircularDeque& operator=(CircularDeque&& other) noexcept {
    if (this == &other) return *this;
    CircularDeque moved(std::move(other));
    swap(moved);
    return *this;
  }

  ~CircularDeque() { DestructAll(); }

  size_t size() const {
    if (begin_ <= end_) return end_ - begin_;
    return buffer_.capacity() - begin_ + end_;
  }
  bool empty() const { return begin_ == end_; }

  // The number of elements the deque holds without reallocating.
  size_t capacity() const {
    return buffer_.capacity() == 0 ? 0 : buffer_.capacity() - 1;
  }

  // Element `i` counted from the front; fatal unless i < size().
  T& operator[](size_t i) {
    CHECK_LT(i, size());
    return buffer_[Wrap(begin_ + i)];
  }
  const T& operator[](size_t i) const {
    CHECK_LT(i, size());
    return buffer_[Wrap(begin_ + i)];
  }

  // Fatal on an empty deque.
  T& front() {
    CHECK(!empty());
    return buffer_[begin_];
  }
  const T& front() const {
    CHECK(!empty());
    return buffer_[begin_];
  }
  T& back() {
    CHECK(!empty());
    return buffer_[Previous(end_)];
  }
  const T& back() const {
    CHECK(!empty());
    return buffer_[Previous(end_)];
  }

  iterator begin() { return iterator(this, 0); }
  iterator end() { return iterator(this, size()); }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }

  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  template <typename... Args>
  T& emplace_back(Args&&... args) {
    if (capacity() < size() + 1) {
      // The arguments may refer to an element that growing moves, so the
      // new element is made before the move.
      T value(std::forward<Args>(args)...);
      Grow();
      return ConstructBack(std::move(value));
    }
    return ConstructBack(std::forward<Args>(args)...);
  }

  void push_front(const T& value) { emplace_front(value); }
  void push_front(T&& value) { emplace_front(std::move(value)); }

  template <typename... Args>
  T& emplace_front(Args&&... args) {
    if (capacity() < size() + 1) {
      T value(std::forward<Args>(args)...);
      Grow();
      return ConstructFront(std::move(value));
    }
    return ConstructFront(std::forward<Args>(args)...);
  }

  // Removes the last element; fatal on an empty deque.
  void pop_back() {
    CHECK(!empty());
    end_ = Previous(end_);
    buffer_[end_].~T();
    ShrinkIfWasteful();
  }

  // Removes the first element; fatal on an empty deque.
  void pop_front() {
    CHECK(!empty());
    buffer_[begin_].~T();
    begin_ = Next(begin_);
    ShrinkIfWasteful();
  }

  // Destroys every element and frees the buffer (capacity 0).
  void clear() {
    DestructAll();
    buffer_ = internal::VectorBuffer<T>();
    begin_ = 0;
    end_ = 0;
  }

  // Raises the usable capacity to at least `new_capacity`.
  void reserve(size_t new_capacity) {
    if (new_capacity > capacity()) SetCapacityTo(new_capacity);
  }

  void swap(CircularDeque& other) noexcept {
    std::swap(buffer_, other.buffer_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
  }

 private:
  size_t Next(size_t index) const {
    return index + 1 == buffer_.capacity() ? 0 : index + 1;
  }
  size_t Previous(size_t index) const {
    return index == 0 ? buffer_.capacity() - 1 : index - 1;
  }
  // Maps begin_ + offset (which is below twice the slot count) to a slot.
  size_t Wrap(size_t index) const {
    return index >= buffer_.capacity() ? index - buffer_.capacity() : index;
  }

  template <typename... Args>
  T& ConstructBack(Args&&... args) {
    T* slot = new (&buffer_[end_]) T(std::forward<Args>(args)...);
    end_ = Next(end_);
    return *slot;
  }

  template <typename... Args>
  T& ConstructFront(Args&&... args) {
    size_t index = Previous(begin_);
    T* slot = new (&buffer_[index]) T(std::forward<Args>(args)...);
    begin_ = index;
    return *slot;
  }

  // Makes room for one more element.
  void Grow() {
    const size_t current = capacity();
    const size_t needed = size() + 1;
    if (current >= needed) return;
    SetCapacityTo(std::max({needed, size_t{3}, current + current / 4}));
  }

  void ShrinkIfWasteful() {
    const size_t current = capacity();
    const size_t count = size();
    if (current < 4 || current - count < count) return;
    const size_t candidate = std::max(count + count / 4, size_t{3});
    if (candidate < current) SetCapacityTo(candidate);
  }

  // Moves the elements, in order, to the start of a buffer with
  // `new_capacity` usable slots (one more in all).
  void SetCapacityTo(size_t new_capacity) {
    CHECK(new_capacity < std::numeric_limits<size_t>::max());
    internal::VectorBuffer<T> new_buffer(new_capacity + 1);
    const size_t count = size();
    if (count == 0) {
      // Nothing to move (and possibly no old buffer to index).
    } else if (begin_ <= end_) {
      internal::VectorBuffer<T>::MoveRange(&buffer_[begin_], &buffer_[end_],
                                           new_buffer.begin());
    } else {
      const size_t head = buffer_.capacity() - begin_;
      internal::VectorBuffer<T>::MoveRange(
          &buffer_[begin_], &buffer_[buffer_.capacity()], new_buffer.begin());
      internal::VectorBuffer<T>::MoveRange(&buffer_[0], &buffer_[end_],
                                           new_buffer.begin() + head);
    }
    buffer_ = std::move(new_buffer);
    begin_ = 0;
    end_ = count;
  }

  void DestructAll() {
    if (empty()) return;
    if (begin_ <= end_) {
      buffer_.DestructRange(&buffer_[begin_], &buffer_[end_]);
    } else {
      buffer_.DestructRange(&buffer_[begin_], &buffer_[buffer_.capacity()]);
      buffer_.DestructRange(&buffer_[0], &buffer_[end_]);
    }
  }

  internal::VectorBuffer<T> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

template <typename T>
void swap(CircularDeque<T>& a, CircularDeque<T>& b) noexcept {
  a.swap(b);
}

}  // namespace kelmbase

#endif  // AGENT_BASE_CONTAINERS_CIRCULAR_DEQUE_H_
