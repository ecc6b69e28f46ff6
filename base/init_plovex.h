#ifndef BASE_INIT_PLOVEX_H_
#define BASE_INIT_PLOVEX_H_

// The framework's start-up file. Its static initialiser registers the V1
// flags below and two "module" initializers; the pure-virtual-call handler
// it defines replaces the runtime's for the whole process. The start-up
// routine itself is not part of this program, so the flags keep their
// defaults and the initializers never run.

#include <cstdint>
#include <string>

namespace base {

extern std::string FLAGS_uid;
extern std::string FLAGS_gid;
extern int32_t FLAGS_nice_priority_level;
extern bool FLAGS_syslog_on_start;
extern std::string FLAGS_data_version;
extern int32_t FLAGS_temp_bad_calls_before_init_plovex_returns_action;
extern int32_t
    FLAGS_temp_grandfathered_bad_calls_before_init_plovex_returns_action;

// The two texts that end a pure-virtual call: with the class name in between,
// and without one, for objects whose class has no type information.
inline constexpr char kPureVirtualNamedPrefix[] =
    "C++ pure virtual method on class ";
inline constexpr char kPureVirtualNamedSuffix[] =
    " invoked in constructor/destructor or after free; ";
inline constexpr char kPureVirtualUnnamed[] =
    "C++ pure virtual method invoked in constructor or"
    "in constructor/destructor or after free; ";
inline constexpr char kPureVirtualReference[] =
    "see the framework's notes on pure virtual calls";

// Writes the FATAL record of a pure-virtual call on an object whose vtable
// holds `type_record` (a std::type_info, or null when the class was built
// without type information) and ends the process.
[[noreturn]] void ReportPureVirtualCall(const void* type_record);

}  // namespace base

#endif  // BASE_INIT_PLOVEX_H_
