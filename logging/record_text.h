#ifndef LOGGING_RECORD_TEXT_H_
#define LOGGING_RECORD_TEXT_H_

#include <string>
#include <string_view>

namespace kelm_log {

// `value` as a record shows a value that came from outside the process (a
// switch, an environment variable, a path): control bytes (below 0x20, and
// 0x7f) written as C escapes (\n, \t, \r, else \xHH) and a backslash as
// "\\", every other byte as it is. So no value can end a record and start a
// false one, and every shown text reads back to exactly one value:
// EscapeForRecord("a\\nb") is a\\nb while EscapeForRecord("a\nb") is a\nb.
std::string EscapeForRecord(std::string_view value);

}  // namespace kelm_log

#endif  // LOGGING_RECORD_TEXT_H_
