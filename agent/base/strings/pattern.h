#ifndef AGENT_BASE_STRINGS_PATTERN_H_
#define AGENT_BASE_STRINGS_PATTERN_H_

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// Whether `pattern` matches the whole of `text`, both read as UTF-8
// characters. '*' matches any number of characters and '?' zero or one;
// a backslash makes the next pattern character literal. An ill-formed UTF-8
// character never matches anything.
//
// Matching never goes back on a choice: each literal segment of the
// pattern takes the first place in the text where it fits. So "*ab?" does not
// match "abab" (the segment "ab" is fixed at the start), while "*ab" does.
bool MatchWildcard(StringPiece text, StringPiece pattern);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_PATTERN_H_
