#include "agent/base/strings/pattern.h"

#include <cstddef>
#include <cstdint>

#include "agent/base/strings/utf8.h"

namespace kelmbase {
namespace {

bool IsWildcard(char c) { return c == '*' || c == '?'; }

// How the literal segment at the head of the pattern fared.
enum class SegmentResult {
  kMatchedToWildcard,  // reached an unescaped '*' or '?'
  kMatchedToEnd,       // pattern and text ended together
  kMismatch,
};

// Matches the pattern's literal segment starting at `*pattern` against the
// text at `text`. On kMatchedToWildcard, `*pattern` and `*text_reached` are
// the positions after the segment.
SegmentResult MatchSegment(const char* text, const char* text_end,
                           const char** pattern, const char* pattern_end,
                           const char** text_reached) {
  const char* t = text;
  const char* p = *pattern;
  bool escaped = false;
  for (;;) {
    if (p == pattern_end) {
      return t == text_end ? SegmentResult::kMatchedToEnd
                           : SegmentResult::kMismatch;
    }
    if (!escaped) {
      if (IsWildcard(*p)) {
        *pattern = p;
        *text_reached = t;
        return SegmentResult::kMatchedToWildcard;
      }
      if (*p == '\\') {
        escaped = true;
        ++p;
        continue;
      }
    }
    escaped = false;
    if (t == text_end) return SegmentResult::kMismatch;
    const int32_t pattern_char = NextUtf8Char(&p, pattern_end);
    const int32_t text_char = NextUtf8Char(&t, text_end);
    if (pattern_char < 0 || text_char < 0 || pattern_char != text_char)
      return SegmentResult::kMismatch;
  }
}

}  // namespace

bool MatchWildcard(StringPiece text, StringPiece pattern) {
  const char* t = text.begin();
  const char* const t_end = text.end();
  const char* p = pattern.begin();
  const char* const p_end = pattern.end();

  for (;;) {
    // The run of wildcards ahead of the next literal segment decides how
    // many text characters may be skipped before that segment.
    bool unlimited = false;
    size_t skips_left = 0;
    while (p != p_end && IsWildcard(*p)) {
      if (*p == '*') {
        unlimited = true;
      } else {
        ++skips_left;
      }
      ++p;
    }

    for (;;) {
      const char* segment_start = p;
      const char* reached = nullptr;
      const SegmentResult result =
          MatchSegment(t, t_end, &segment_start, p_end, &reached);
      if (result == SegmentResult::kMatchedToEnd) return true;
      if (result == SegmentResult::kMatchedToWildcard) {
        p = segment_start;
        t = reached;
        break;
      }
      if ((!unlimited && skips_left == 0) || t == t_end) return false;
      NextUtf8Char(&t, t_end);
      if (!unlimited) --skips_left;
    }
  }
}

}  // namespace kelmbase
