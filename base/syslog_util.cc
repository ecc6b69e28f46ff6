#include <string>

#include "absl/flags/flag.h"

ABSL_FLAG(bool, syslog_util_force_corp_for_testing, false,
          "treat the host as an office machine when choosing the system log "
          "(tests only)");
ABSL_FLAG(std::string, syslog_util_log_sockaddr, "/dev/log",
          "socket address of the system log");
ABSL_FLAG(std::string, syslog_util_collector_sockaddr,
          "@plovex-log-collector",
          "abstract socket address of the device maker's log collector");
