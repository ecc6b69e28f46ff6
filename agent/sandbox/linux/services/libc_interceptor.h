#ifndef AGENT_SANDBOX_LINUX_SERVICES_LIBC_INTERCEPTOR_H_
#define AGENT_SANDBOX_LINUX_SERVICES_LIBC_INTERCEPTOR_H_

#include <stddef.h>
#include <time.h>

#include <string>

#include "agent/base/pickle.h"
#include "agent/base/strings/string_piece.h"

// This library defines `localtime` and `localtime_r` under the system
// library's own names, so every call of them in the process (this program's
// code and the shared libraries it loads alike) comes here. By default they
// forward to the system library's functions. In proxy mode, which a process
// switches on by setting the two variables below before its threads start,
// each conversion is instead sent to a peer over a Unix socket; a failed
// exchange gives a zeroed `struct tm` with a null zone name, never an error.

namespace sandbox {

// Proxy mode: send conversions over `g_localtime_proxy_fd`. Off by default.
extern bool g_localtime_proxy_enabled;
// The back-channel socket (SOCK_SEQPACKET) to the converting peer; -1 until
// set.
extern int g_localtime_proxy_fd;

// The method number that opens every proxy request.
inline constexpr int kLocaltimeMethod = 32;

// A conversion request for the peer: the int32 kLocaltimeMethod, then a
// string holding the raw bytes of the time value in host byte order (on the
// wire, 20 bytes for an 8-byte time_t).
class LocaltimeProxyRequest : public kelmbase::Pickle {
 public:
  explicit LocaltimeProxyRequest(time_t input);
};

// The peer's answer: ten int32 fields, tm_sec, tm_min, tm_hour, tm_mday,
// tm_mon, tm_year, tm_wday, tm_yday, tm_isdst, tm_gmtoff, in this order, then
// the zone name as a string. A reply never exceeds kMaxSize bytes.
class LocaltimeProxyReply : public kelmbase::Pickle {
 public:
  static constexpr size_t kMaxSize = 512;

  // A reply to send, with the fields of `time` (its tm_zone is not read; a
  // tm_gmtoff outside int32 is cut to it) and the zone name `zone`.
  LocaltimeProxyReply(const struct tm& time, kelmbase::StringPiece zone);

  // A read-only view of `length` received bytes at `data`, which must
  // outlive it.
  LocaltimeProxyReply(const char* data, size_t length);

  // Stores the ten fields in `*output`, leaving its tm_zone alone, and the
  // zone name in `*zone`. A short or malformed reply gives false and
  // changes neither.
  bool Read(struct tm* output, std::string* zone) const;
};

// Looks up the system library's `localtime` and `localtime_r` once per
// process. If the dynamic linker cannot find them, logs an ERROR once and
// uses `gmtime` / `gmtime_r` instead, so conversions come out in UTC.
void EnsureLibcLocaltimeFunctions();

// Asks the peer on `g_localtime_proxy_fd` to convert `input`. The request is
// a pickle of the int32 kLocaltimeMethod and a string holding the raw bytes
// of `input`; the reply is a pickle of at most 512 bytes with the int32
// fields tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday,
// tm_yday, tm_isdst, tm_gmtoff, then the zone name as a string.
//
// `*output` receives the fields. With `timezone_out`, at most
// `timezone_out_length` - 1 bytes of the zone name and a NUL are copied
// there and tm_zone points at it; without, tm_zone points at a process-wide
// copy of the name that lives until the process ends (each distinct name is
// stored once). On any failure `*output` is all zero (tm_zone null) and the
// result is false.
bool ProxyLocaltimeCall(time_t input, struct tm* output, char* timezone_out,
                        size_t timezone_out_length);

}  // namespace sandbox

#endif  // AGENT_SANDBOX_LINUX_SERVICES_LIBC_INTERCEPTOR_H_
