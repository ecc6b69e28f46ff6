#include "logging/record_text.h"

namespace kelm_log {

std::string EscapeForRecord(std::string_view value) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(value.size());
  for (const char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        shown += "\\\\";
        continue;
      case '\n':
        shown += "\\n";
        continue;
      case '\t':
        shown += "\\t";
        continue;
      case '\r':
        shown += "\\r";
        continue;
      default:
        break;
    }
    if (byte >= 0x20 && byte != 0x7f) {
      shown += c;
      continue;
    }
    shown += "\\x";
    shown += kHexDigits[byte >> 4];
    shown += kHexDigits[byte & 0xf];
  }
  return shown;
}

}  // namespace kelm_log
