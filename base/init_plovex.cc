#include "base/init_plovex.h"

#include <typeinfo>

#include "absl/debugging/internal/demangle.h"
#include "absl/synchronization/mutex.h"
#include "base/commandlineflags.h"
#include "base/plovexinit.h"
#include "logging/check.h"
#include "logging/log.h"

namespace base {

std::string FLAGS_uid;
std::string FLAGS_gid = "=uid";
int32_t FLAGS_nice_priority_level = 0;
bool FLAGS_syslog_on_start = true;
std::string FLAGS_data_version;
int32_t FLAGS_temp_bad_calls_before_init_plovex_returns_action = 3;
int32_t FLAGS_temp_grandfathered_bad_calls_before_init_plovex_returns_action =
    -1;

namespace {

std::string default_uid;
std::string default_gid = "=uid";
int32_t default_nice_priority_level = 0;
bool default_syslog_on_start = true;
std::string default_data_version;
int32_t default_temp_bad_calls = 3;
int32_t default_temp_grandfathered_bad_calls = -1;

// Start-up state. The start-up routine that would set these is not part of
// this program.
absl::Mutex g_startup_mutex;
bool doing_command_line_flags_parsing = false;
bool after_command_line_flags_parsing = false;

void CommandLineFlagsParsing() {
  absl::MutexLock lock(&g_startup_mutex);
  if (doing_command_line_flags_parsing) return;
  CHECK(doing_command_line_flags_parsing)
      << "Can't call REQUIRE_MODULE_INITIALIZED(command_line_flags_parsing): "
         "InitPlovex does it for you.";
}

void CommandLineFlagsParsed() {
  absl::MutexLock lock(&g_startup_mutex);
  if (after_command_line_flags_parsing) return;
  CHECK(after_command_line_flags_parsing)
      << "Can't call REQUIRE_MODULE_INITIALIZED(command_line_flags_parsed): "
         "InitPlovex does it for you.";
}

[[maybe_unused]] const bool kV1FlagsRegistered = [] {
  RegisterV1Flag("uid", "string",
                 "user to switch to when started as root; empty keeps the "
                 "current user",
                 __FILE__, &FLAGS_uid, &default_uid);
  RegisterV1Flag("gid", "string",
                 "group to switch to when started as root; \"=uid\" follows "
                 "--uid",
                 __FILE__, &FLAGS_gid, &default_gid);
  RegisterV1Flag("nice_priority_level", "int32", "nice level of the program",
                 __FILE__, &FLAGS_nice_priority_level,
                 &default_nice_priority_level);
  RegisterV1Flag("syslog_on_start", "bool",
                 "write a system-log record at start-up", __FILE__,
                 &FLAGS_syslog_on_start, &default_syslog_on_start);
  RegisterV1Flag("data_version", "string", "data version of the server",
                 __FILE__, &FLAGS_data_version, &default_data_version);
  RegisterV1Flag("temp_bad_calls_before_init_plovex_returns_action", "int32",
                 "what an illegal call before start-up has finished does: "
                 "0 nothing, 1 INFO record, 2 ERROR record, 3 FATAL",
                 __FILE__,
                 &FLAGS_temp_bad_calls_before_init_plovex_returns_action,
                 &default_temp_bad_calls);
  RegisterV1Flag(
      "temp_grandfathered_bad_calls_before_init_plovex_returns_action",
      "int32",
      "the same for calls that are permitted for the time being; -1 uses "
      "the allow list's default",
      __FILE__,
      &FLAGS_temp_grandfathered_bad_calls_before_init_plovex_returns_action,
      &default_temp_grandfathered_bad_calls);
  return true;
}();

ModuleInitializer g_flags_parsing_initializer("module",
                                              "command_line_flags_parsing",
                                              &CommandLineFlagsParsing);
ModuleInitializer g_flags_parsed_initializer("module",
                                             "command_line_flags_parsed",
                                             &CommandLineFlagsParsed);

}  // namespace

void ReportPureVirtualCall(const void* type_record) {
  const char* mangled = nullptr;
  if (type_record != nullptr) {
    mangled = static_cast<const std::type_info*>(type_record)->name();
  }
  if (mangled == nullptr || mangled[0] == '\0') {
    KELM_LOG_FATAL.stream() << kPureVirtualUnnamed << kPureVirtualReference;
  }
  // Type names are mangled without the "_Z" of an encoding; give them one so
  // that the demangler takes them as a data name.
  char demangled[127];
  std::string encoding = std::string("_Z") + mangled;
  const char* name = mangled;
  if (absl::debugging_internal::Demangle(mangled, demangled,
                                         sizeof(demangled)) ||
      absl::debugging_internal::Demangle(encoding.c_str(), demangled,
                                         sizeof(demangled))) {
    name = demangled;
  }
  KELM_LOG_FATAL.stream() << kPureVirtualNamedPrefix << name
                          << kPureVirtualNamedSuffix << kPureVirtualReference;
}

}  // namespace base
