#include "agent/base/strings/utf_string_conversions.h"

#include <cstdint>

#include "agent/base/strings/string_util.h"
#include "agent/base/strings/utf8.h"

namespace kelmbase {
namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

bool IsLeadSurrogate(char16_t unit) { return (unit & 0xFC00) == 0xD800; }
bool IsTrailSurrogate(char16_t unit) { return (unit & 0xFC00) == 0xDC00; }
bool IsSurrogate(char16_t unit) { return (unit & 0xF800) == 0xD800; }

}  // namespace

bool Utf16ToUtf8(const char16_t* src, size_t src_len, std::string* output) {
  if (IsAscii16(std::u16string_view(src, src_len))) {
    output->resize(src_len);
    for (size_t i = 0; i < src_len; ++i) (*output)[i] = static_cast<char>(src[i]);
    return true;
  }

  // Three bytes per unit always suffice: a BMP character takes at most three
  // bytes for its one unit, a supplementary one four for its two.
  output->resize(src_len * 3);
  char* out = output->data();
  size_t written = 0;
  bool success = true;
  for (size_t i = 0; i < src_len; ++i) {
    const char16_t unit = src[i];
    uint32_t code_point;
    if (!IsSurrogate(unit)) {
      code_point = unit;
    } else if (IsLeadSurrogate(unit) && i + 1 < src_len &&
               IsTrailSurrogate(src[i + 1])) {
      code_point = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) +
                   (static_cast<uint32_t>(src[i + 1]) - 0xDC00);
      ++i;
    } else {
      code_point = kReplacementCharacter;
      success = false;
    }
    // The index is relative to the write position, so long inputs never
    // overflow the 32-bit index.
    int32_t length = 0;
    WriteUtf8CodePoint(out + written, &length, code_point);
    written += static_cast<size_t>(length);
  }
  output->resize(written);
  output->shrink_to_fit();
  return success;
}

bool Utf16ToUtf8(std::u16string_view src, std::string* output) {
  return Utf16ToUtf8(src.data(), src.size(), output);
}

}  // namespace kelmbase
