#include "agent/base/strings/utf8.h"

namespace kelmbase {
namespace {

// Which second bytes a three-byte lead admits, indexed by the lead's low
// nibble; bit (second >> 5) is set for each admitted 32-byte range. E0 needs
// A0-BF (no overlong forms), ED needs 80-9F (no surrogates).
constexpr uint8_t kLead3SecondBits[16] = {
    0x20, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
    0x30, 0x30, 0x30, 0x30, 0x30, 0x10, 0x30, 0x30,
};

// Which four-byte leads admit a second byte, indexed by the second byte's high
// nibble; bit (lead & 7) is set for each admitting lead. F0 needs 90-BF (no
// overlong forms), F4 needs 80-8F (nothing above U+10FFFF).
constexpr uint8_t kLead4SecondBits[16] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x1E, 0x0F, 0x0F, 0x0F, 0x00, 0x00, 0x00, 0x00,
};

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Decodes one character of `s[0, length)` (length >= 1); `*consumed` gets the
// number of bytes taken (at least 1). Returns -1 when ill-formed.
int32_t Decode(const uint8_t* s, size_t length, size_t* consumed) {
  const uint8_t lead = s[0];
  *consumed = 1;
  if (lead < 0x80) return lead;
  if (lead < 0xC2 || lead > 0xF4) return -1;

  int32_t code_point;
  size_t trail_count;
  if (lead < 0xE0) {
    code_point = lead & 0x1F;
    trail_count = 1;
    if (length < 2 || !IsContinuation(s[1])) return -1;
  } else if (lead < 0xF0) {
    code_point = lead & 0x0F;
    trail_count = 2;
    if (length < 2 || !((kLead3SecondBits[lead & 0xF] >> (s[1] >> 5)) & 1))
      return -1;
  } else {
    code_point = lead & 0x07;
    trail_count = 3;
    if (length < 2 || !((kLead4SecondBits[s[1] >> 4] >> (lead & 7)) & 1))
      return -1;
  }
  // The second byte is known good; the others need only be continuations.
  code_point = (code_point << 6) | (s[1] & 0x3F);
  *consumed = 2;
  for (size_t i = 2; i <= trail_count; ++i) {
    if (i >= length || !IsContinuation(s[i])) return -1;
    code_point = (code_point << 6) | (s[i] & 0x3F);
    *consumed = i + 1;
  }
  return code_point;
}

bool IsValidCodePoint(int32_t code_point) {
  return (code_point >= 0 && code_point < 0xD800) ||
         (code_point >= 0xE000 && code_point <= 0x10FFFF);
}

// Writes the UTF-8 form of `code_point` to `out`, returns the byte count.
size_t Encode(uint32_t code_point, char* out) {
  if (code_point <= 0x7F) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point <= 0x7FF) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point <= 0xFFFF) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  // Values above U+10FFFF take the same form; the lead byte's cast drops
  // whatever does not fit.
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

}  // namespace

int32_t NextUtf8Char(const char** cursor, const char* end) {
  if (*cursor >= end) return -1;
  size_t consumed;
  const int32_t code_point =
      Decode(reinterpret_cast<const uint8_t*>(*cursor),
             static_cast<size_t>(end - *cursor), &consumed);
  *cursor += consumed;
  return code_point;
}

bool ReadUtf8CodePoint(const char* src, int32_t src_len, int32_t* char_index,
                       uint32_t* code_point) {
  if (*char_index < 0 || *char_index >= src_len) return false;
  size_t consumed;
  const int32_t value =
      Decode(reinterpret_cast<const uint8_t*>(src) + *char_index,
             static_cast<size_t>(src_len - *char_index), &consumed);
  *char_index += static_cast<int32_t>(consumed) - 1;
  *code_point = static_cast<uint32_t>(value);
  return IsValidCodePoint(value);
}

size_t AppendUtf8CodePoint(uint32_t code_point, std::string* output) {
  char bytes[4];
  const size_t length = Encode(code_point, bytes);
  output->append(bytes, length);
  return length;
}

void WriteUtf8CodePoint(char* buffer, int32_t* index, uint32_t code_point) {
  *index += static_cast<int32_t>(Encode(code_point, buffer + *index));
}

}  // namespace kelmbase
