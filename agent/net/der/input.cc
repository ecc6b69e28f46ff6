#include "agent/net/der/input.h"

#include <algorithm>
#include <cstring>

#include "logging/check.h"

namespace net::der {

std::string Input::AsString() const {
  return std::string(AsStringView());
}

std::string_view Input::AsStringView() const {
  if (length_ == 0)
    return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(data_), length_);
}

bool operator==(const Input& lhs, const Input& rhs) {
  if (lhs.length() != rhs.length())
    return false;
  // memcmp must not see a null pointer, even with a zero count.
  if (lhs.length() == 0)
    return true;
  return memcmp(lhs.data(), rhs.data(), lhs.length()) == 0;
}

bool operator!=(const Input& lhs, const Input& rhs) {
  return !(lhs == rhs);
}

bool operator<(const Input& lhs, const Input& rhs) {
  const size_t common = std::min(lhs.length(), rhs.length());
  if (common != 0) {
    const int cmp = memcmp(lhs.data(), rhs.data(), common);
    if (cmp != 0)
      return cmp < 0;
  }
  return lhs.length() < rhs.length();
}

ByteReader::ByteReader(const Input& in) : data_(in.data()), len_(in.length()) {}

bool ByteReader::ReadByte(uint8_t* out) {
  if (len_ < 1)
    return false;
  *out = *data_;
  Advance(1);
  return true;
}

bool ByteReader::ReadBytes(size_t length, Input* out) {
  if (length > len_)
    return false;
  *out = Input(data_, length);
  Advance(length);
  return true;
}

void ByteReader::Advance(size_t len) {
  CHECK(len <= len_);
  data_ += len;
  len_ -= len;
}

}  // namespace net::der
