#include "agent/base/json/string_escape.h"

#include <cstddef>
#include <limits>

#include "agent/base/strings/string_printf.h"
#include "agent/base/strings/utf8.h"
#include "logging/check.h"

namespace kelmbase {

namespace {

constexpr uint32_t kReplacementCodePoint = 0xFFFD;

// The decoder works on int32 lengths and indexes.
constexpr size_t kMaxTextLength =
    static_cast<size_t>(std::numeric_limits<int32_t>::max());

bool IsUnicodeScalarValue(uint32_t code_point) {
  return code_point < 0xD800 ||
         (code_point >= 0xE000 && code_point <= 0x10FFFF);
}

}  // namespace

bool AppendSpecialEscape(uint32_t code_point, std::string* out) {
  switch (code_point) {
    case '\b':
      out->append("\\b");
      return true;
    case '\t':
      out->append("\\t");
      return true;
    case '\n':
      out->append("\\n");
      return true;
    case '\f':
      out->append("\\f");
      return true;
    case '\r':
      out->append("\\r");
      return true;
    case '"':
      out->append("\\\"");
      return true;
    case '\\':
      out->append("\\\\");
      return true;
    // '<' could end a surrounding <script> element when the text is embedded
    // in HTML.
    case '<':
      out->append("\\u003C");
      return true;
    // Line and paragraph separators end a JavaScript string literal.
    case 0x2028:
      out->append("\\u2028");
      return true;
    case 0x2029:
      out->append("\\u2029");
      return true;
    default:
      return false;
  }
}

bool EscapeJsonText(StringPiece text, bool put_in_quotes, std::string* out) {
  if (put_in_quotes) out->push_back('"');

  CHECK_LE(text.size(), kMaxTextLength);
  const int32_t length = static_cast<int32_t>(text.size());
  bool well_formed = true;
  for (int32_t index = 0; index < length; ++index) {
    uint32_t code_point = 0;
    // Leaves `index` on the last byte that the character took.
    if (!ReadUtf8CodePoint(text.data(), length, &index, &code_point) ||
        !IsUnicodeScalarValue(code_point)) {
      code_point = kReplacementCodePoint;
      well_formed = false;
    }
    if (AppendSpecialEscape(code_point, out)) continue;
    if (code_point < 0x20) {
      AppendFormat(out, "\\u%04X", static_cast<unsigned>(code_point));
      continue;
    }
    AppendUtf8CodePoint(code_point, out);
  }

  if (put_in_quotes) out->push_back('"');
  return well_formed;
}

bool AppendEscapedJsonString(StringPiece text, bool put_in_quotes,
                             std::string* out) {
  return EscapeJsonText(text, put_in_quotes, out);
}

}  // namespace kelmbase
