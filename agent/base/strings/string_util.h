#ifndef AGENT_BASE_STRINGS_STRING_UTIL_H_
#define AGENT_BASE_STRINGS_STRING_UTIL_H_

// Byte-string helpers: trimming, whitespace collapsing, ASCII case, affix
// tests, joining and C-style copying. Nothing here depends on a locale:
// "case" means ASCII A-Z / a-z only.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "agent/base/containers/span.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// Which ends of a text to trim; a bit mask.
enum TrimPositions {
  kTrimNone = 0,
  kTrimLeading = 1 << 0,
  kTrimTrailing = 1 << 1,
  kTrimAll = kTrimLeading | kTrimTrailing,
};

// How StartsWith / EndsWith compare.
enum CaseMode : int {
  kExact = 0,
  kIgnoreAsciiCase = 1,
};

// The six ASCII whitespace bytes: tab, vertical tab, form feed, space, LF, CR.
extern const char kAsciiWhitespace[];

// The Unicode whitespace code points, zero-terminated (25 entries and the 0).
// SqueezeWhitespaceRuns compares single bytes against this list.
extern const char32_t kUnicodeWhitespace[];

// Writes to `output` a copy of `input` without the bytes of `trim_chars` at
// the ends selected by `positions`, and returns the ends at which bytes were
// actually dropped. Input made only of set bytes clears `output` and returns
// `positions`; empty input clears it and returns kTrimNone. `output` may be
// the string that `input` views (trimming in place).
TrimPositions TrimChars(StringPiece input, StringPiece trim_chars,
                        TrimPositions positions, std::string* output);

// The range TrimChars would keep, as a view into `input` (an empty view at the
// end of `input` when everything is trimmed).
StringPiece TrimCharsPiece(StringPiece input, StringPiece trim_chars,
                           TrimPositions positions);

// TrimChars with kAsciiWhitespace.
TrimPositions TrimAsciiWhitespace(StringPiece input, TrimPositions positions,
                                  std::string* output);

// Collapses whitespace (any byte equal to an entry of kUnicodeWhitespace):
// leading and trailing runs vanish and each inner run becomes one space. With
// `trim_line_break_runs`, a run holding a CR or LF vanishes entirely.
std::string SqueezeWhitespaceRuns(StringPiece text, bool trim_line_break_runs);

// Copies with A-Z lowered / a-z raised; every other byte is kept.
std::string AsciiToLower(StringPiece text);
std::string AsciiToUpper(StringPiece text);

// -1, 0 or 1 comparing the texts byte by byte with A-Z lowered; on a common
// prefix the shorter text is less.
int CompareIgnoringAsciiCase(StringPiece a, StringPiece b);

// Same length and equal once A-Z are lowered.
bool EqualsIgnoringAsciiCase(StringPiece a, StringPiece b);

// Whether `text` begins / ends with `affix`. kExact compares bytes;
// kIgnoreAsciiCase compares with A-Z lowered on both sides. False when the
// affix is longer than the text, and for any other mode value.
bool StartsWith(StringPiece text, StringPiece affix, CaseMode mode);
bool EndsWith(StringPiece text, StringPiece affix, CaseMode mode);

// True if no byte has bit 7 set (so true for empty input).
bool IsAscii(StringPiece bytes);
// True if every 16-bit unit is below 0x80.
bool IsAscii16(std::u16string_view units);

// Appends every piece to `dest`, growing it once to the final length.
void AppendStrings(std::string* dest, span<const StringPiece> pieces);
void AppendStrings(std::string* dest,
                   std::initializer_list<StringPiece> pieces);

// The pieces with `separator` between each two; empty for no pieces. The
// result is allocated once at its final size.
std::string JoinStrings(span<const StringPiece> pieces, StringPiece separator);
std::string JoinStrings(std::initializer_list<StringPiece> pieces,
                        StringPiece separator);

// Resizes `str` to `length_with_null` - 1 bytes and returns its writable
// buffer, for C functions that write a string and its terminator (the string
// keeps its own terminator past the end). `length_with_null` must be at least
// 1; zero asks for an impossible size and aborts.
char* ResizeForWrite(std::string* str, size_t length_with_null);

// BSD strlcpy: copies `src` into `dst` of `dst_size` bytes, stopping after
// the terminator; when `src` does not fit it is cut and `dst[dst_size - 1]`
// gets the terminator. A `dst_size` of 0 writes nothing. Returns strlen(src),
// so a result >= dst_size means the copy was cut.
size_t strlcpy(char* dst, const char* src, size_t dst_size);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_STRING_UTIL_H_
