#include "agent/base/strings/string_piece.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "logging/check.h"

namespace kelmbase {
namespace {

// Membership table of a byte set, built once per search so that each
// scanned byte costs one lookup instead of a pass over the set.
class ByteSet {
 public:
  explicit ByteSet(StringPiece set) {
    for (char c : set) member_[static_cast<unsigned char>(c)] = true;
  }
  bool Contains(char c) const { return member_[static_cast<unsigned char>(c)]; }

 private:
  bool member_[256] = {};
};

}  // namespace

StringPiece::StringPiece(const char* s) {
  CHECK(s);
  data_ = s;
  length_ = strlen(s);
}

char StringPiece::operator[](size_t pos) const {
  CHECK_LT(pos, size());
  return data_[pos];
}

void StringPiece::remove_prefix(size_t n) {
  CHECK(n <= size());
  data_ += n;
  length_ -= n;
}

void StringPiece::remove_suffix(size_t n) {
  CHECK(n <= size());
  length_ -= n;
}

StringPiece StringPiece::substr(size_t pos, size_t n) const {
  CHECK(pos <= size());
  return StringPiece(data_ + pos, std::min(n, length_ - pos));
}

int StringPiece::compare(StringPiece other) const {
  const size_t common = std::min(length_, other.length_);
  if (common > 0) {
    int r = memcmp(data_, other.data_, common);
    if (r != 0) return r < 0 ? -1 : 1;
  }
  if (length_ == other.length_) return 0;
  return length_ < other.length_ ? -1 : 1;
}

size_t StringPiece::find(StringPiece needle, size_t pos) const {
  if (pos > length_) return npos;
  if (needle.length_ == 0) return pos;
  if (needle.length_ > length_ - pos) return npos;
  // The last position at which the whole needle still fits.
  const size_t last = length_ - needle.length_;
  const char first = needle.data_[0];
  for (size_t i = pos; i <= last; ++i) {
    const void* hit = memchr(data_ + i, first, last - i + 1);
    if (hit == nullptr) return npos;
    i = static_cast<const char*>(hit) - data_;
    if (memcmp(data_ + i, needle.data_, needle.length_) == 0) return i;
  }
  return npos;
}

size_t StringPiece::find(char c, size_t pos) const {
  if (pos >= length_) return npos;
  const void* hit = memchr(data_ + pos, c, length_ - pos);
  if (hit == nullptr) return npos;
  return static_cast<const char*>(hit) - data_;
}

size_t StringPiece::find_first_of(StringPiece set, size_t pos) const {
  if (length_ == 0 || set.length_ == 0) return npos;
  if (set.length_ == 1) return find(set.data_[0], pos);
  ByteSet table(set);
  for (size_t i = pos; i < length_; ++i) {
    if (table.Contains(data_[i])) return i;
  }
  return npos;
}

size_t StringPiece::find_first_not_of(StringPiece set, size_t pos) const {
  if (pos >= length_) return npos;
  if (set.length_ == 0) return pos;
  if (set.length_ == 1) {
    const char c = set.data_[0];
    for (size_t i = pos; i < length_; ++i) {
      if (data_[i] != c) return i;
    }
    return npos;
  }
  ByteSet table(set);
  for (size_t i = pos; i < length_; ++i) {
    if (!table.Contains(data_[i])) return i;
  }
  return npos;
}

size_t StringPiece::find_last_not_of(StringPiece set, size_t pos) const {
  if (length_ == 0) return npos;
  const size_t start = std::min(pos, length_ - 1);
  if (set.length_ == 0) return start;
  if (set.length_ == 1) {
    const char c = set.data_[0];
    for (size_t i = start + 1; i-- > 0;) {
      if (data_[i] != c) return i;
    }
    return npos;
  }
  ByteSet table(set);
  for (size_t i = start + 1; i-- > 0;) {
    if (!table.Contains(data_[i])) return i;
  }
  return npos;
}

bool operator==(StringPiece a, StringPiece b) {
  if (a.size() != b.size()) return false;
  return a.empty() || memcmp(a.data(), b.data(), a.size()) == 0;
}

bool operator<(StringPiece a, StringPiece b) { return a.compare(b) < 0; }

std::ostream& operator<<(std::ostream& os, StringPiece piece) {
  return os.write(piece.data(), static_cast<std::streamsize>(piece.size()));
}

}  // namespace kelmbase
