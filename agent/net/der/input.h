#ifndef AGENT_NET_DER_INPUT_H_
#define AGENT_NET_DER_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "agent/base/containers/span.h"

namespace net::der {

// A non-owning view of DER bytes: a pointer to the first byte and a count.
// The viewed bytes must outlive the view and every view or parser made from
// it. Copy freely; an Input is two words.
class Input {
 public:
  // The empty view (null, 0).
  constexpr Input() = default;
  constexpr Input(const uint8_t* data, size_t length)
      : data_(data), length_(length) {}
  // Views a byte array, such as a constant table of OID bytes.
  template <size_t N>
  constexpr explicit Input(const uint8_t (&data)[N])
      : data_(data), length_(N) {}
  // Views the bytes of `s`, which must outlive the view.
  explicit Input(const std::string& s)
      : Input(reinterpret_cast<const uint8_t*>(s.data()), s.size()) {}
  explicit Input(std::string_view s)
      : Input(reinterpret_cast<const uint8_t*>(s.data()), s.size()) {}
  explicit Input(kelmbase::span<const uint8_t> bytes)
      : Input(bytes.data(), bytes.size()) {}

  constexpr const uint8_t* data() const { return data_; }
  constexpr size_t length() const { return length_; }
  constexpr bool empty() const { return length_ == 0; }

  // A new string holding a copy of the bytes.
  std::string AsString() const;
  // The bytes as text; valid as long as the viewed bytes.
  std::string_view AsStringView() const;
  kelmbase::span<const uint8_t> AsSpan() const { return {data_, length_}; }

 private:
  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
};

// Same length and same bytes.
bool operator==(const Input& lhs, const Input& rhs);
bool operator!=(const Input& lhs, const Input& rhs);
// Lexicographic order of the bytes read as unsigned values; of two inputs
// with a common prefix the shorter is smaller. Orders sets of OIDs.
bool operator<(const Input& lhs, const Input& rhs);

// A forward cursor over an Input. Reads never pass the end: a read that
// would fails and leaves the cursor where it was.
class ByteReader {
 public:
  explicit ByteReader(const Input& in);

  // Stores the next byte and advances by one; false at the end.
  [[nodiscard]] bool ReadByte(uint8_t* out);
  // Stores a view of the next `length` bytes and advances past them; false
  // when fewer remain.
  [[nodiscard]] bool ReadBytes(size_t length, Input* out);
  // Whether any bytes remain.
  bool HasMore() const { return len_ != 0; }
  // Skips `len` bytes; skipping past the end is a fatal CHECK.
  void Advance(size_t len);

 private:
  const uint8_t* data_;
  size_t len_;
};

}  // namespace net::der

#endif  // AGENT_NET_DER_INPUT_H_
