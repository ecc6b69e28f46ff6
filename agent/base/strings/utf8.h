#ifndef AGENT_BASE_STRINGS_UTF8_H_
#define AGENT_BASE_STRINGS_UTF8_H_

// UTF-8 decoding and encoding of single code points.
//
// Decoding accepts exactly the well-formed sequences of the Unicode Standard:
// no overlong forms, no surrogates (U+D800-U+DFFF), nothing above U+10FFFF.
// An ill-formed or truncated sequence consumes the bytes read up to the
// offending one, and always at least one byte, so a decoding loop advances.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelmbase {

// Decodes the character at `*cursor` (which must lie before `end`) and moves
// `*cursor` past it. Returns the code point, or -1 for an ill-formed or
// truncated sequence. At `end` it returns -1 without moving.
int32_t NextUtf8Char(const char** cursor, const char* end);

// Decodes the character that starts at `src[*char_index]` of the `src_len`
// bytes of `src` and leaves `*char_index` on the character's last byte (so
// that a loop's `++index` reaches the next one). `*code_point` gets the
// decoded value, or 0xFFFFFFFF when the sequence is ill-formed. Returns
// whether a valid code point was read: below U+D800 or within U+E000 to
// U+10FFFF. An index outside [0, src_len) returns false and changes nothing.
bool ReadUtf8CodePoint(const char* src, int32_t src_len, int32_t* char_index,
                       uint32_t* code_point);

// Appends the 1-4 byte UTF-8 form of `code_point` to `output` and returns the
// number of bytes appended. No value is refused: values above U+10FFFF (and
// surrogates) are encoded by the same rules.
size_t AppendUtf8CodePoint(uint32_t code_point, std::string* output);

// Writes the 1-4 byte UTF-8 form of `code_point` at `buffer[*index]` and
// advances `*index` past it. The buffer must have room for 4 bytes there.
void WriteUtf8CodePoint(char* buffer, int32_t* index, uint32_t code_point);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_UTF8_H_
