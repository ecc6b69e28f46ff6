#ifndef AGENT_NET_BASE_NET_ERRORS_H_
#define AGENT_NET_BASE_NET_ERRORS_H_

namespace net {

// Results of network-stack operations: 0 for success, negative codes for
// failures.
enum Error : int {
  OK = 0,
  // A client-authentication signature could not be made.
  ERR_SSL_CLIENT_AUTH_SIGNATURE_FAILED = -141,
};

}  // namespace net

#endif  // AGENT_NET_BASE_NET_ERRORS_H_
