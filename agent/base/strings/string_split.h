#ifndef AGENT_BASE_STRINGS_STRING_SPLIT_H_
#define AGENT_BASE_STRINGS_STRING_SPLIT_H_

// Splitting a text into the parts between separators.

#include <string>
#include <vector>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// Whether each part is trimmed of ASCII whitespace (kAsciiWhitespace) at both
// ends before it is kept.
enum WhitespaceMode {
  kKeepWhitespace = 0,
  kTrimWhitespace = 1,
};

// Whether empty parts (after any trimming) are kept.
enum SplitMode {
  kWantAll = 0,
  kWantNonEmpty = 1,
};

// The parts of `input` between any of the bytes of `separators`, as views
// into `input`. Empty input gives no parts at all.
std::vector<StringPiece> SplitIntoPieces(StringPiece input,
                                         StringPiece separators,
                                         WhitespaceMode whitespace,
                                         SplitMode mode);

// The parts of `input` between occurrences of the string `separator`, as
// views into `input`. An empty separator gives the whole input as one part,
// whatever the modes; empty input gives one empty part under kWantAll.
std::vector<StringPiece> SplitIntoPiecesBySubstring(StringPiece input,
                                                    StringPiece separator,
                                                    WhitespaceMode whitespace,
                                                    SplitMode mode);

// SplitIntoPiecesBySubstring with each part copied into its own string.
std::vector<std::string> SplitBySubstring(StringPiece input,
                                          StringPiece separator,
                                          WhitespaceMode whitespace,
                                          SplitMode mode);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_STRING_SPLIT_H_
