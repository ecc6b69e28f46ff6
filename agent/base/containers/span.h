#ifndef AGENT_BASE_CONTAINERS_SPAN_H_
#define AGENT_BASE_CONTAINERS_SPAN_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>

#include "agent/base/containers/checked_iterators.h"
#include "logging/check.h"

namespace kelmbase {

namespace internal {

// A contiguous container whose elements can be viewed as T: it has data()
// and size(), and its element pointer converts to T* without slicing.
template <typename Container, typename T>
concept SpanCompatibleContainer = requires(Container& c) {
  { std::data(c) };
  { std::size(c) } -> std::convertible_to<size_t>;
} && std::is_convertible_v<
    std::remove_pointer_t<decltype(std::data(std::declval<Container&>()))> (*)[],
    T (*)[]>;

}  // namespace internal

// A non-owning view of `size` consecutive elements of type T starting at
// `data`, such as span<const uint8_t> for bytes to sign or verify. The viewed
// elements must outlive the span. Iteration goes through CheckedIterator, so
// walking off either end is a fatal CHECK; element access and sub-spans CHECK
// their bounds too.
template <typename T>
class span {
 public:
  using element_type = T;
  using value_type = std::remove_cv_t<T>;
  using size_type = size_t;
  using difference_type = std::ptrdiff_t;
  using pointer = T*;
  using const_pointer = const T*;
  using reference = T&;
  using const_reference = const T&;
  using iterator = CheckedIterator<T>;
  using reverse_iterator = std::reverse_iterator<iterator>;

  constexpr span() noexcept = default;
  constexpr span(T* data, size_t size) noexcept : data_(data), size_(size) {}
  // [begin, end): `end` must not lie before `begin`.
  constexpr span(T* begin, T* end) noexcept
      : data_(begin), size_(static_cast<size_t>(end - begin)) {
    CHECK(begin <= end);
  }
  template <size_t N>
  constexpr span(T (&array)[N]) noexcept  // NOLINT(runtime/explicit)
      : data_(array), size_(N) {}
  // Vectors, strings, std::arrays and other spans whose elements convert.
  template <typename Container>
    requires(internal::SpanCompatibleContainer<Container, T> &&
             !std::is_array_v<std::remove_cvref_t<Container>>)
  constexpr span(Container&& container) noexcept  // NOLINT(runtime/explicit)
      : data_(std::data(container)), size_(std::size(container)) {}
  constexpr span(const span& other) noexcept = default;
  constexpr span& operator=(const span& other) noexcept = default;

  // The first / last `count` elements; `count` must not exceed size().
  constexpr span first(size_t count) const {
    CHECK(count <= size_);
    return span(data_, count);
  }
  constexpr span last(size_t count) const {
    CHECK(count <= size_);
    return span(data_ + (size_ - count), count);
  }
  // `count` elements from `offset` (all the rest when `count` is npos-like
  // size_t(-1)); the range must lie within the span.
  constexpr span subspan(size_t offset, size_t count = size_t(-1)) const {
    CHECK(offset <= size_);
    if (count == size_t(-1)) return span(data_ + offset, size_ - offset);
    CHECK(count <= size_ - offset);
    return span(data_ + offset, count);
  }

  constexpr size_t size() const noexcept { return size_; }
  constexpr size_t size_bytes() const noexcept { return size_ * sizeof(T); }
  [[nodiscard]] constexpr bool empty() const noexcept { return size_ == 0; }

  constexpr T& operator[](size_t index) const {
    CHECK_LT(index, size());
    return data_[index];
  }
  constexpr T& front() const {
    CHECK(!empty());
    return data_[0];
  }
  constexpr T& back() const {
    CHECK(!empty());
    return data_[size_ - 1];
  }
  constexpr T* data() const noexcept { return data_; }

  constexpr iterator begin() const noexcept {
    return iterator(data_, data_, data_ + size_);
  }
  constexpr iterator end() const noexcept {
    return iterator(data_, data_ + size_, data_ + size_);
  }
  constexpr reverse_iterator rbegin() const noexcept {
    return reverse_iterator(end());
  }
  constexpr reverse_iterator rend() const noexcept {
    return reverse_iterator(begin());
  }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
};

template <typename T, size_t N>
span(T (&)[N]) -> span<T>;
template <typename T, size_t N>
span(std::array<T, N>&) -> span<T>;
template <typename T, size_t N>
span(const std::array<T, N>&) -> span<const T>;
template <typename Container>
span(Container&) -> span<std::remove_pointer_t<
    decltype(std::data(std::declval<Container&>()))>>;

// The span's elements as read-only / writable bytes.
template <typename T>
span<const uint8_t> as_bytes(span<T> s) noexcept {
  return span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()),
                             s.size_bytes());
}
template <typename T>
  requires(!std::is_const_v<T>)
span<uint8_t> as_writable_bytes(span<T> s) noexcept {
  return span<uint8_t>(reinterpret_cast<uint8_t*>(s.data()), s.size_bytes());
}

// Spans with the element type deduced.
template <typename T>
constexpr span<T> make_span(T* data, size_t size) noexcept {
  return span<T>(data, size);
}
template <typename Container>
constexpr auto make_span(Container&& container) noexcept {
  return span<std::remove_pointer_t<decltype(std::data(container))>>(
      container);
}

}  // namespace kelmbase

#endif  // AGENT_BASE_CONTAINERS_SPAN_H_
