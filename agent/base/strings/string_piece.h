#ifndef AGENT_BASE_STRINGS_STRING_PIECE_H_
#define AGENT_BASE_STRINGS_STRING_PIECE_H_

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace kelmbase {

// A non-owning view of a run of bytes: a pointer and a length. The viewed
// bytes must outlive the piece. Pieces are cheap to copy and are the argument
// type of most text functions of the base library; they never allocate.
//
// Misuse (a null C string, an index or length past the end) is a fatal CHECK,
// not undefined behaviour.
class StringPiece {
 public:
  using value_type = char;
  using size_type = size_t;
  using const_iterator = const char*;
  using iterator = const char*;

  // The largest size_t: "no position" for the searches and "to the end" for
  // substr.
  static constexpr size_t npos = static_cast<size_t>(-1);

  constexpr StringPiece() = default;
  // View of a NUL-terminated string, without the terminator. `s` must not be
  // null.
  StringPiece(const char* s);  // NOLINT(runtime/explicit)
  constexpr StringPiece(const char* data, size_t length)
      : data_(data), length_(length) {}
  StringPiece(const std::string& s)  // NOLINT(runtime/explicit)
      : data_(s.data()), length_(s.size()) {}
  constexpr StringPiece(std::string_view s)  // NOLINT(runtime/explicit)
      : data_(s.data()), length_(s.size()) {}

  constexpr const char* data() const { return data_; }
  constexpr size_t size() const { return length_; }
  constexpr size_t length() const { return length_; }
  constexpr bool empty() const { return length_ == 0; }

  constexpr const char* begin() const { return data_; }
  constexpr const char* end() const { return data_ + length_; }

  // The byte at `pos`; `pos` must be below size().
  char operator[](size_t pos) const;

  // Makes the piece empty (null data, length 0).
  void clear() {
    data_ = nullptr;
    length_ = 0;
  }

  // Drop `n` bytes from the front / back; `n` must not exceed size().
  void remove_prefix(size_t n);
  void remove_suffix(size_t n);

  // The piece from `pos` of min(n, size() - pos) bytes; `pos` must not
  // exceed size().
  StringPiece substr(size_t pos, size_t n = npos) const;

  // A new string holding a copy of the viewed bytes.
  std::string ToString() const { return std::string(data_, length_); }
  // The same bytes as a standard view, for code that speaks std::string_view.
  constexpr std::string_view as_string_view() const {
    return std::string_view(data_, length_);
  }

  // Byte-wise three-way comparison: negative, zero or positive. On a common
  // prefix the shorter piece is less.
  int compare(StringPiece other) const;

  // First position >= pos where `needle` starts and fits wholly inside the
  // piece; npos if pos > size() or nothing matches. An empty needle matches
  // at pos.
  size_t find(StringPiece needle, size_t pos = 0) const;
  size_t find(char c, size_t pos = 0) const;

  // First position >= pos holding any byte of `set`; npos when the piece or
  // the set is empty, or when nothing matches.
  size_t find_first_of(StringPiece set, size_t pos = 0) const;
  size_t find_first_of(char c, size_t pos = 0) const { return find(c, pos); }

  // First position >= pos holding no byte of `set`; npos if pos >= size() or
  // every byte from pos is in the set. An empty set gives pos.
  size_t find_first_not_of(StringPiece set, size_t pos = 0) const;

  // Last position <= min(pos, size() - 1) holding no byte of `set`; npos for
  // an empty piece or when every such byte is in the set. An empty set gives
  // min(pos, size() - 1).
  size_t find_last_not_of(StringPiece set, size_t pos = npos) const;

 private:
  const char* data_ = nullptr;
  size_t length_ = 0;
};

bool operator==(StringPiece a, StringPiece b);
inline bool operator!=(StringPiece a, StringPiece b) { return !(a == b); }
// memcmp over the shorter length; on a tie the shorter piece sorts first.
// This is the order of maps and sets keyed by pieces.
bool operator<(StringPiece a, StringPiece b);
inline bool operator>(StringPiece a, StringPiece b) { return b < a; }
inline bool operator<=(StringPiece a, StringPiece b) { return !(b < a); }
inline bool operator>=(StringPiece a, StringPiece b) { return !(a < b); }

// Writes the viewed bytes.
std::ostream& operator<<(std::ostream& os, StringPiece piece);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_STRING_PIECE_H_
