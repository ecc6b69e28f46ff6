#ifndef LOGGING_CHECK_H_
#define LOGGING_CHECK_H_

// Fatal assertions, always active:
//   CHECK(cond)        "Check failed: cond"
//   CHECK_EQ(a, b) ... "Check failed: a == b (<a> vs. <b>)"
//   PCHECK(cond)       "Check failed: cond: <strerror(errno)> [<errno>]"
// The record is FATAL: after it come "*** Check failure stack trace: ***",
// the stack, and abort(). Extra text may be streamed after any of them; one
// space sets it off from the failure.
//   QCHECK(cond)       "Check failed: cond", ending the process quietly: no
//                      stack trace, and _exit(1) in place of abort(). For
//                      failures caused by the process's configuration, where
//                      a stack trace would only distract.

#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>

#include "logging/log_message.h"

namespace kelm_log {
namespace internal {

template <typename T>
void PrintCheckOperand(std::ostream& os, const T& value) {
  if constexpr (std::is_same_v<T, std::nullptr_t>) {
    os << "nullptr";
  } else if constexpr (std::is_same_v<T, char> ||
                       std::is_same_v<T, signed char> ||
                       std::is_same_v<T, unsigned char>) {
    // Bytes print as numbers: they are rarely printable text in checks.
    os << static_cast<int>(value);
  } else if constexpr (std::is_enum_v<T>) {
    os << static_cast<std::underlying_type_t<T>>(value);
  } else if constexpr (requires { os << value; }) {
    os << value;
  } else {
    os << "(unprintable)";
  }
}

template <typename A, typename B>
std::string* MakeCheckOpString(const A& a, const B& b, const char* expr) {
  std::ostringstream ss;
  ss << expr << " (";
  PrintCheckOperand(ss, a);
  ss << " vs. ";
  PrintCheckOperand(ss, b);
  ss << ")";
  return new std::string(ss.str());
}

#define KELM_DEFINE_CHECK_OP_IMPL(name, op)                                   \
  template <typename A, typename B>                                           \
  inline std::string* Check##name##Impl(const A& a, const B& b,               \
                                        const char* expr) {                   \
    if (a op b) [[likely]]                                                    \
      return nullptr;                                                         \
    return MakeCheckOpString(a, b, expr);                                     \
  }
KELM_DEFINE_CHECK_OP_IMPL(EQ, ==)
KELM_DEFINE_CHECK_OP_IMPL(NE, !=)
KELM_DEFINE_CHECK_OP_IMPL(LE, <=)
KELM_DEFINE_CHECK_OP_IMPL(LT, <)
KELM_DEFINE_CHECK_OP_IMPL(GE, >=)
KELM_DEFINE_CHECK_OP_IMPL(GT, >)
#undef KELM_DEFINE_CHECK_OP_IMPL

// Text of errno for PCHECK: ": <message> [<errno>]".
std::string ErrnoSuffix();

}  // namespace internal
}  // namespace kelm_log

#define CHECK(condition)                                              \
  while (__builtin_expect(!(condition), 0))                           \
  ::kelm_log::LogMessageFatal(__FILE__, __LINE__, #condition).stream()

#define QCHECK(condition)                                             \
  while (__builtin_expect(!(condition), 0))                           \
  ::kelm_log::LogMessageQuietlyFatal(__FILE__, __LINE__, #condition).stream()

#define PCHECK(condition)                                             \
  while (__builtin_expect(!(condition), 0))                           \
  ::kelm_log::LogMessageFatal(                                        \
      __FILE__, __LINE__,                                             \
      std::string(#condition) + ::kelm_log::internal::ErrnoSuffix())  \
      .stream()

#define KELM_CHECK_OP(name, op, a, b)                                        \
  while (std::string* kelm_check_failure =                                   \
             ::kelm_log::internal::Check##name##Impl((a), (b),               \
                                                     #a " " #op " " #b))     \
  ::kelm_log::LogMessageFatal(__FILE__, __LINE__, *kelm_check_failure).stream()

#define CHECK_EQ(a, b) KELM_CHECK_OP(EQ, ==, a, b)
#define CHECK_NE(a, b) KELM_CHECK_OP(NE, !=, a, b)
#define CHECK_LE(a, b) KELM_CHECK_OP(LE, <=, a, b)
#define CHECK_LT(a, b) KELM_CHECK_OP(LT, <, a, b)
#define CHECK_GE(a, b) KELM_CHECK_OP(GE, >=, a, b)
#define CHECK_GT(a, b) KELM_CHECK_OP(GT, >, a, b)

#endif  // LOGGING_CHECK_H_
