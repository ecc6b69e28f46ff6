#ifndef AGENT_BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define AGENT_BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace kelmbase {

// Replaces `*output` with the UTF-8 form of the UTF-16 units. A lead
// surrogate followed by a trail surrogate forms one supplementary character;
// any unpaired surrogate becomes U+FFFD and makes the result false (the
// conversion still completes). True when nothing was replaced.
bool Utf16ToUtf8(const char16_t* src, size_t src_len, std::string* output);
bool Utf16ToUtf8(std::u16string_view src, std::string* output);

}  // namespace kelmbase

#endif  // AGENT_BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
