#include "agent/base/base64.h"

#include <array>
#include <climits>
#include <utility>

#include "logging/check.h"

namespace kelmbase {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encoder tables, indexed by a whole input byte so that no shift or mask is
// needed on the hot path: kEncodeHigh gives the character of the byte's top
// six bits, kEncodeLow that of its low six bits.
constexpr std::array<char, 256> MakeEncodeTable(bool high) {
  std::array<char, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[i] = kAlphabet[high ? (i >> 2) : (i & 0x3f)];
  }
  return table;
}
constexpr std::array<char, 256> kEncodeHigh = MakeEncodeTable(true);
constexpr std::array<char, 256> kEncodeLow = MakeEncodeTable(false);

// Decoder tables, one per character position of a 4-character group: each
// gives the character's six bits already in their place among the group's
// three output bytes (byte 0 in the low eight bits). A character outside the
// alphabet gives kBadChar, whose bit 24 no valid entry has, so OR-ing a
// group's four lookups exceeds kMaxValid exactly when one is invalid.
constexpr uint32_t kBadChar = 0x01FFFFFF;
constexpr uint32_t kMaxValid = 0x01FFFFFE;

constexpr int SixBitValue(int c) {
  for (int i = 0; i < 64; ++i) {
    if (kAlphabet[i] == c) {
      return i;
    }
  }
  return -1;
}

constexpr uint32_t PlaceBits(int position, uint32_t v) {
  switch (position) {
    case 0:
      return v << 2;
    case 1:
      return (v >> 4) | ((v & 0x0f) << 12);
    case 2:
      return ((v >> 2) << 8) | ((v & 0x03) << 22);
    default:
      return v << 16;
  }
}

constexpr std::array<uint32_t, 256> MakeDecodeTable(int position) {
  std::array<uint32_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int v = SixBitValue(c);
    table[c] = v < 0 ? kBadChar : PlaceBits(position, static_cast<uint32_t>(v));
  }
  return table;
}
constexpr std::array<uint32_t, 256> kDecode0 = MakeDecodeTable(0);
constexpr std::array<uint32_t, 256> kDecode1 = MakeDecodeTable(1);
constexpr std::array<uint32_t, 256> kDecode2 = MakeDecodeTable(2);
constexpr std::array<uint32_t, 256> kDecode3 = MakeDecodeTable(3);

// Largest input whose text length, (n + 2) / 3 * 4, still fits an int.
constexpr size_t kMaxEncodeInput = INT_MAX / 4 * 3;
// Largest text the decoder's int length can describe.
constexpr size_t kMaxDecodeInput = INT_MAX;

std::string EncodeToString(const void* data, size_t length) {
  CHECK_LE(length, kMaxEncodeInput);
  std::string text((length + 2) / 3 * 4 + 1, '\0');
  const int written =
      internal::Base64EncodeBlock(text.data(), data, static_cast<int>(length));
  text.resize(static_cast<size_t>(written));
  return text;
}

}  // namespace

namespace internal {

int Base64EncodeBlock(char* out, const void* data, int length) {
  CHECK_GE(length, 0);
  const uint8_t* in = static_cast<const uint8_t*>(data);
  char* p = out;
  int i = 0;
  for (; i + 2 < length; i += 3) {
    const uint8_t t1 = in[i];
    const uint8_t t2 = in[i + 1];
    const uint8_t t3 = in[i + 2];
    *p++ = kEncodeHigh[t1];
    *p++ = kEncodeLow[((t1 & 0x03) << 4) | (t2 >> 4)];
    *p++ = kEncodeLow[((t2 & 0x0f) << 2) | (t3 >> 6)];
    *p++ = kEncodeLow[t3];
  }
  const int rest = length - i;
  if (rest == 1) {
    const uint8_t t1 = in[i];
    *p++ = kEncodeHigh[t1];
    *p++ = kEncodeLow[(t1 & 0x03) << 4];
    *p++ = '=';
    *p++ = '=';
  } else if (rest == 2) {
    const uint8_t t1 = in[i];
    const uint8_t t2 = in[i + 1];
    *p++ = kEncodeHigh[t1];
    *p++ = kEncodeLow[((t1 & 0x03) << 4) | (t2 >> 4)];
    *p++ = kEncodeLow[(t2 & 0x0f) << 2];
    *p++ = '=';
  }
  *p = '\0';
  return static_cast<int>(p - out);
}

int Base64DecodeBlock(void* out, const char* text, int length) {
  CHECK_GE(length, 0);
  if (length == 0) {
    return 0;
  }
  if (length % 4 != 0) {
    return -1;
  }

  // Padding counts only at the very end; a "=" anywhere else is an invalid
  // character for the tables below.
  if (text[length - 1] == '=') {
    --length;
    if (text[length - 1] == '=') {
      --length;
    }
  }

  const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
  uint8_t* p = static_cast<uint8_t*>(out);
  // The last group keeps 2, 3 or 4 characters after the padding went.
  const int full_groups = (length - 1) / 4;
  for (int g = 0; g < full_groups; ++g, in += 4) {
    const uint32_t x =
        kDecode0[in[0]] | kDecode1[in[1]] | kDecode2[in[2]] | kDecode3[in[3]];
    if (x > kMaxValid) {
      return -1;
    }
    *p++ = static_cast<uint8_t>(x);
    *p++ = static_cast<uint8_t>(x >> 8);
    *p++ = static_cast<uint8_t>(x >> 16);
  }

  const int last = length - full_groups * 4;
  uint32_t x = kDecode0[in[0]] | kDecode1[in[1]];
  if (last >= 3) {
    x |= kDecode2[in[2]];
  }
  if (last == 4) {
    x |= kDecode3[in[3]];
  }
  if (x > kMaxValid) {
    return -1;
  }
  // Bits of the last character beyond the final whole byte are dropped.
  *p++ = static_cast<uint8_t>(x);
  if (last >= 3) {
    *p++ = static_cast<uint8_t>(x >> 8);
  }
  if (last == 4) {
    *p++ = static_cast<uint8_t>(x >> 16);
  }
  return full_groups * 3 + (last - 1);
}

}  // namespace internal

std::string Base64EncodeToString(span<const uint8_t> bytes) {
  return EncodeToString(bytes.data(), bytes.size());
}

std::string Base64EncodeToString(StringPiece bytes) {
  return EncodeToString(bytes.data(), bytes.size());
}

void Base64Encode(span<const uint8_t> bytes, std::string* out) {
  *out = EncodeToString(bytes.data(), bytes.size());
}

void Base64Encode(StringPiece bytes, std::string* out) {
  *out = EncodeToString(bytes.data(), bytes.size());
}

bool Base64Decode(StringPiece text, std::string* out) {
  CHECK_LE(text.size(), kMaxDecodeInput);
  std::string bytes(text.size() / 4 * 3 + 2, '\0');
  const int written = internal::Base64DecodeBlock(
      bytes.data(), text.data(), static_cast<int>(text.size()));
  if (written < 0) {
    return false;
  }
  bytes.resize(static_cast<size_t>(written));
  out->swap(bytes);
  return true;
}

}  // namespace kelmbase
