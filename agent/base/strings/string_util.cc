#include "agent/base/strings/string_util.h"

#include <cstdint>
#include <cstring>
#include <functional>

namespace kelmbase {

const char kAsciiWhitespace[] = "\t\v\f \n\r";

const char32_t kUnicodeWhitespace[] = {
    0x09,   0x0B,   0x0C,   0x20,   0x0A,   0x0D,   0x85,   0xA0,   0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0,
};

namespace {

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

bool IsUnicodeWhitespaceByte(unsigned char c) {
  for (const char32_t* w = kUnicodeWhitespace; *w != 0; ++w) {
    if (*w == c) return true;
  }
  return false;
}

// Equal length is the caller's business; compares `n` bytes ignoring case.
bool EqualBytesIgnoringAsciiCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

// Where TrimChars keeps bytes: [first, last], or nothing when `empty`.
struct KeptRange {
  bool empty;
  size_t first;
  size_t last;
};

KeptRange FindKeptRange(StringPiece input, StringPiece trim_chars,
                        TrimPositions positions) {
  if (input.empty()) return {true, 0, 0};
  const size_t first = (positions & kTrimLeading)
                           ? input.find_first_not_of(trim_chars)
                           : 0;
  const size_t last = (positions & kTrimTrailing)
                          ? input.find_last_not_of(trim_chars)
                          : input.size() - 1;
  if (first == StringPiece::npos || last == StringPiece::npos || first > last)
    return {true, 0, 0};
  return {false, first, last};
}

// One OR-ed word of high bits tells whether any unit in it is non-ASCII.
// `mask` has the high bit of every unit of the word.
template <typename Unit>
bool DoIsAscii(const Unit* units, size_t length, uint64_t mask) {
  constexpr size_t kWord = sizeof(uint64_t);
  constexpr size_t kBlock = 128;
  constexpr size_t kUnitMask = 0x80;
  const char* p = reinterpret_cast<const char*>(units);
  const char* end = p + length * sizeof(Unit);

  // Units before the first word boundary, one at a time.
  Unit head = 0;
  while (p < end && reinterpret_cast<uintptr_t>(p) % kWord != 0) {
    Unit u;
    memcpy(&u, p, sizeof(Unit));
    head |= u;
    p += sizeof(Unit);
  }
  if (head & ~static_cast<Unit>(kUnitMask - 1)) return false;

  // Whole blocks as 16-byte words (two 8-byte halves), tested per block.
  while (static_cast<size_t>(end - p) >= kBlock) {
    uint64_t lo = 0;
    uint64_t hi = 0;
    for (size_t i = 0; i < kBlock; i += 2 * kWord) {
      uint64_t a;
      uint64_t b;
      memcpy(&a, p + i, kWord);
      memcpy(&b, p + i + kWord, kWord);
      lo |= a;
      hi |= b;
    }
    if ((lo | hi) & mask) return false;
    p += kBlock;
  }

  // The remaining words and the tail, tested once.
  uint64_t rest = 0;
  while (static_cast<size_t>(end - p) >= kWord) {
    uint64_t w;
    memcpy(&w, p, kWord);
    rest |= w;
    p += kWord;
  }
  Unit tail = 0;
  while (p < end) {
    Unit u;
    memcpy(&u, p, sizeof(Unit));
    tail |= u;
    p += sizeof(Unit);
  }
  return !(rest & mask) && !(tail & ~static_cast<Unit>(kUnitMask - 1));
}

size_t TotalLength(span<const StringPiece> pieces) {
  size_t total = 0;
  for (const StringPiece& piece : pieces) total += piece.size();
  return total;
}

// Whether `piece` views bytes of `str`'s buffer.
bool ViewsInto(const std::string& str, StringPiece piece) {
  if (piece.empty()) return false;
  std::less_equal<const char*> le;
  std::less<const char*> lt;
  return le(str.data(), piece.data()) &&
         lt(piece.data(), str.data() + str.capacity());
}

}  // namespace

TrimPositions TrimChars(StringPiece input, StringPiece trim_chars,
                        TrimPositions positions, std::string* output) {
  const KeptRange kept = FindKeptRange(input, trim_chars, positions);
  if (kept.empty) {
    output->clear();
    return input.empty() ? kTrimNone : positions;
  }
  output->assign(input.data() + kept.first, kept.last - kept.first + 1);
  int trimmed = kTrimNone;
  if (kept.first != 0) trimmed |= kTrimLeading;
  if (kept.last != input.size() - 1) trimmed |= kTrimTrailing;
  return static_cast<TrimPositions>(trimmed);
}

StringPiece TrimCharsPiece(StringPiece input, StringPiece trim_chars,
                           TrimPositions positions) {
  const KeptRange kept = FindKeptRange(input, trim_chars, positions);
  if (kept.empty) return input.substr(input.size());
  return input.substr(kept.first, kept.last - kept.first + 1);
}

TrimPositions TrimAsciiWhitespace(StringPiece input, TrimPositions positions,
                                  std::string* output) {
  return TrimChars(input, kAsciiWhitespace, positions, output);
}

std::string SqueezeWhitespaceRuns(StringPiece text, bool trim_line_break_runs) {
  std::string result;
  result.reserve(text.size());
  bool in_whitespace = true;
  bool already_trimmed = true;
  for (char c : text) {
    if (IsUnicodeWhitespaceByte(static_cast<unsigned char>(c))) {
      if (!in_whitespace) result.push_back(' ');
      in_whitespace = true;
      // The run's single space was written when it began; a line break in
      // the run takes that space back.
      if (trim_line_break_runs && !already_trimmed &&
          (c == '\r' || c == '\n')) {
        result.pop_back();
        already_trimmed = true;
      }
    } else {
      result.push_back(c);
      in_whitespace = false;
      already_trimmed = false;
    }
  }
  if (in_whitespace && !already_trimmed) result.pop_back();
  return result;
}

std::string AsciiToLower(StringPiece text) {
  std::string result(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) result[i] = ToLowerAscii(text.data()[i]);
  return result;
}

std::string AsciiToUpper(StringPiece text) {
  std::string result(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) result[i] = ToUpperAscii(text.data()[i]);
  return result;
}

int CompareIgnoringAsciiCase(StringPiece a, StringPiece b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = static_cast<unsigned char>(ToLowerAscii(a.data()[i]));
    const unsigned char y = static_cast<unsigned char>(ToLowerAscii(b.data()[i]));
    if (x < y) return -1;
    if (x > y) return 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsIgnoringAsciiCase(StringPiece a, StringPiece b) {
  return a.size() == b.size() && CompareIgnoringAsciiCase(a, b) == 0;
}

bool StartsWith(StringPiece text, StringPiece affix, CaseMode mode) {
  if (affix.size() > text.size()) return false;
  const char* start = text.data();
  switch (mode) {
    case kExact:
      return affix.empty() || memcmp(start, affix.data(), affix.size()) == 0;
    case kIgnoreAsciiCase:
      return EqualBytesIgnoringAsciiCase(start, affix.data(), affix.size());
  }
  return false;
}

bool EndsWith(StringPiece text, StringPiece affix, CaseMode mode) {
  if (affix.size() > text.size()) return false;
  const char* start = text.data() + (text.size() - affix.size());
  switch (mode) {
    case kExact:
      return affix.empty() || memcmp(start, affix.data(), affix.size()) == 0;
    case kIgnoreAsciiCase:
      return EqualBytesIgnoringAsciiCase(start, affix.data(), affix.size());
  }
  return false;
}

bool IsAscii(StringPiece bytes) {
  return DoIsAscii(reinterpret_cast<const unsigned char*>(bytes.data()),
                   bytes.size(), 0x8080808080808080ULL);
}

bool IsAscii16(std::u16string_view units) {
  return DoIsAscii(units.data(), units.size(), 0xFF80FF80FF80FF80ULL);
}

void AppendStrings(std::string* dest, span<const StringPiece> pieces) {
  // Growing `dest` may move its bytes: pieces that view them are copied out
  // first.
  for (const StringPiece& piece : pieces) {
    if (ViewsInto(*dest, piece)) {
      std::string copy;
      copy.reserve(TotalLength(pieces));
      for (const StringPiece& p : pieces) copy.append(p.data(), p.size());
      dest->append(copy);
      return;
    }
  }
  const size_t old_size = dest->size();
  dest->resize(old_size + TotalLength(pieces));
  char* out = dest->data() + old_size;
  for (const StringPiece& piece : pieces) {
    if (piece.empty()) continue;
    memcpy(out, piece.data(), piece.size());
    out += piece.size();
  }
}

void AppendStrings(std::string* dest,
                   std::initializer_list<StringPiece> pieces) {
  AppendStrings(dest, span<const StringPiece>(pieces.begin(), pieces.size()));
}

std::string JoinStrings(span<const StringPiece> pieces, StringPiece separator) {
  std::string result;
  if (pieces.empty()) return result;
  result.reserve((pieces.size() - 1) * separator.size() + TotalLength(pieces));
  bool first = true;
  for (const StringPiece& piece : pieces) {
    if (!first) result.append(separator.data(), separator.size());
    first = false;
    result.append(piece.data(), piece.size());
  }
  return result;
}

std::string JoinStrings(std::initializer_list<StringPiece> pieces,
                        StringPiece separator) {
  return JoinStrings(span<const StringPiece>(pieces.begin(), pieces.size()),
                     separator);
}

char* ResizeForWrite(std::string* str, size_t length_with_null) {
  str->resize(length_with_null - 1);
  return str->data();
}

size_t strlcpy(char* dst, const char* src, size_t dst_size) {
  for (size_t i = 0; i < dst_size; ++i) {
    dst[i] = src[i];
    if (src[i] == '\0') return i;
  }
  // Nothing, or not the terminator, fitted.
  if (dst_size != 0) dst[dst_size - 1] = '\0';
  return strlen(src);
}

}  // namespace kelmbase
