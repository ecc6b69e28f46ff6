#ifndef AGENT_BASE_JSON_STRING_ESCAPE_H_
#define AGENT_BASE_JSON_STRING_ESCAPE_H_

#include <cstdint>
#include <string>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// Appends `text`, a UTF-8 string, to `out` escaped for use inside a JSON
// string, between double quotes when `put_in_quotes` is set. Ill-formed
// UTF-8, encoded surrogates and code points above U+10FFFF are written as
// U+FFFD; the result is false when that happened, true otherwise.
//
// Escaped: backspace, tab, line feed, form feed and carriage return as \b,
// \t, \n, \f and \r; '"' and '\' with a backslash; '<' as \u003C and U+2028
// and U+2029 as \u2028 and \u2029, so that the text can be embedded in HTML
// and JavaScript; any other code point below 0x20 as \u00XX with upper-case
// hexadecimal digits. Everything else ('/', '>' and 0x7F included) is
// copied as UTF-8.
bool AppendEscapedJsonString(StringPiece text, bool put_in_quotes,
                             std::string* out);

// The escaping loop behind AppendEscapedJsonString, with the same contract.
// `text` must be shorter than 2^31 bytes (fatal CHECK).
bool EscapeJsonText(StringPiece text, bool put_in_quotes, std::string* out);

// Appends the special escape of `code_point` (one of the backslash forms
// listed above, not the generic \u00XX one) and returns true; returns false
// and appends nothing when the code point has none.
bool AppendSpecialEscape(uint32_t code_point, std::string* out);

}  // namespace kelmbase

#endif  // AGENT_BASE_JSON_STRING_ESCAPE_H_
