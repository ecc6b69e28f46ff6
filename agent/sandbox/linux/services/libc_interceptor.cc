#include "agent/sandbox/linux/services/libc_interceptor.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <sys/types.h>

#include <set>
#include <string>
#include <utility>

#include "agent/base/memory/lazy_singleton.h"
#include "agent/base/pickle.h"
#include "agent/base/posix/unix_domain_socket.h"
#include "agent/base/strings/string_piece.h"
#include "agent/base/synchronization/lock.h"
#include "logging/check.h"
#include "logging/log.h"

namespace sandbox {

bool g_localtime_proxy_enabled = false;
int g_localtime_proxy_fd = -1;

namespace {

using LocaltimeFunction = struct tm* (*)(const time_t* timep);
using LocaltimeRFunction = struct tm* (*)(const time_t* timep,
                                          struct tm* result);

pthread_once_t g_libc_localtime_funcs_guard = PTHREAD_ONCE_INIT;
LocaltimeFunction g_libc_localtime = nullptr;
LocaltimeRFunction g_libc_localtime_r = nullptr;

// Zone names handed out by localtime_r in proxy mode. The caller's struct tm
// points into this set, so names are never removed.
kelmbase::LazySingleton<std::set<std::string>> g_timezones;
kelmbase::LazySingleton<kelmbase::Lock> g_timezones_lock;

void InitLibcLocaltimeFunctionsImpl() {
  // RTLD_NEXT skips this program's own definitions and finds the system
  // library's.
  g_libc_localtime =
      reinterpret_cast<LocaltimeFunction>(dlsym(RTLD_NEXT, "localtime"));
  g_libc_localtime_r =
      reinterpret_cast<LocaltimeRFunction>(dlsym(RTLD_NEXT, "localtime_r"));

  if (!g_libc_localtime || !g_libc_localtime_r) {
    LOG(ERROR) << "Your system is broken: dlsym doesn't work! This has been "
                  "reported to be caused by Nvidia's libGL. You should expect "
                  "time related functions to misbehave. "
                  "https://bugs.launchpad.net/ubuntu/+source/"
                  "nvidia-graphics-drivers";
  }
  // UTC is wrong but safe; a null function would crash every caller.
  if (!g_libc_localtime) {
    g_libc_localtime = gmtime;
  }
  if (!g_libc_localtime_r) {
    g_libc_localtime_r = gmtime_r;
  }
}

// The process-wide copy of `name`, added on first sight.
const char* InternTimezone(const std::string& name) {
  kelmbase::ScopedLock lock(g_timezones_lock.Get());
  return g_timezones.Get().insert(name).first->c_str();
}

}  // namespace

LocaltimeProxyRequest::LocaltimeProxyRequest(time_t input) {
  WriteInt(kLocaltimeMethod);
  WriteString(kelmbase::StringPiece(reinterpret_cast<const char*>(&input),
                                    sizeof(input)));
}

LocaltimeProxyReply::LocaltimeProxyReply(const struct tm& time,
                                         kelmbase::StringPiece zone) {
  const int32_t fields[] = {
      time.tm_sec,  time.tm_min,  time.tm_hour,
      time.tm_mday, time.tm_mon,  time.tm_year,
      time.tm_wday, time.tm_yday, time.tm_isdst,
      static_cast<int32_t>(time.tm_gmtoff),
  };
  for (int32_t field : fields) {
    WriteInt(field);
  }
  WriteString(zone);
}

LocaltimeProxyReply::LocaltimeProxyReply(const char* data, size_t length)
    : kelmbase::Pickle(data, length) {}

bool LocaltimeProxyReply::Read(struct tm* output, std::string* zone) const {
  kelmbase::PickleReader reader(*this);
  int32_t fields[10];
  for (int32_t& field : fields) {
    if (!reader.ReadInt(&field)) {
      return false;
    }
  }
  std::string name;
  if (!reader.ReadString(&name)) {
    return false;
  }
  output->tm_sec = fields[0];
  output->tm_min = fields[1];
  output->tm_hour = fields[2];
  output->tm_mday = fields[3];
  output->tm_mon = fields[4];
  output->tm_year = fields[5];
  output->tm_wday = fields[6];
  output->tm_yday = fields[7];
  output->tm_isdst = fields[8];
  output->tm_gmtoff = fields[9];
  *zone = std::move(name);
  return true;
}

void EnsureLibcLocaltimeFunctions() {
  // Plain CHECK: the record carries the condition alone. Keep the line break
  // after the comma, which the record shows as one space.
  CHECK(0 == pthread_once(&g_libc_localtime_funcs_guard,
                          InitLibcLocaltimeFunctionsImpl));
}

bool ProxyLocaltimeCall(time_t input, struct tm* output, char* timezone_out,
                        size_t timezone_out_length) {
  const LocaltimeProxyRequest request(input);

  memset(output, 0, sizeof(*output));

  uint8_t reply_buffer[LocaltimeProxyReply::kMaxSize];
  const ssize_t reply_length = kelmbase::UnixDomainSocket::SendAndReceive(
      g_localtime_proxy_fd, reply_buffer, sizeof(reply_buffer), nullptr,
      request);
  if (reply_length == -1) {
    return false;
  }

  const LocaltimeProxyReply reply(reinterpret_cast<const char*>(reply_buffer),
                                  static_cast<size_t>(reply_length));
  std::string timezone;
  if (!reply.Read(output, &timezone)) {
    memset(output, 0, sizeof(*output));
    return false;
  }

  if (timezone_out) {
    if (timezone_out_length > 0) {
      const size_t copied = timezone.size() < timezone_out_length - 1
                                ? timezone.size()
                                : timezone_out_length - 1;
      memcpy(timezone_out, timezone.data(), copied);
      timezone_out[copied] = '\0';
      output->tm_zone = timezone_out;
    }
  } else {
    output->tm_zone = InternTimezone(timezone);
  }
  return true;
}

}  // namespace sandbox

// The system library's names, declared __THROW as its own are, so that
// the dynamic linker binds every caller in the process to these.
extern "C" {

__attribute__((visibility("default"))) struct tm* localtime(
    const time_t* timep) __THROW {
  if (sandbox::g_localtime_proxy_enabled) {
    // Shared by all callers, as the system function's result is.
    static struct tm static_time_struct;
    static char static_timezone[64];
    sandbox::ProxyLocaltimeCall(*timep, &static_time_struct, static_timezone,
                                sizeof(static_timezone));
    return &static_time_struct;
  }
  sandbox::EnsureLibcLocaltimeFunctions();
  return sandbox::g_libc_localtime(timep);
}

__attribute__((visibility("default"))) struct tm* localtime_r(
    const time_t* timep, struct tm* result) __THROW {
  if (sandbox::g_localtime_proxy_enabled) {
    sandbox::ProxyLocaltimeCall(*timep, result, nullptr, 0);
    return result;
  }
  sandbox::EnsureLibcLocaltimeFunctions();
  return sandbox::g_libc_localtime_r(timep, result);
}

}  // extern "C"
