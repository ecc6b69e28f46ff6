#ifndef AGENT_BASE_POSIX_UNIX_DOMAIN_SOCKET_H_
#define AGENT_BASE_POSIX_UNIX_DOMAIN_SOCKET_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "agent/base/files/scoped_file.h"

namespace kelmbase {

class Pickle;

// Messages with descriptors over SOCK_SEQPACKET Unix-domain sockets, and a
// request/reply exchange in which the request carries a fresh socket on
// which the reply comes back, so that concurrent exchanges over one shared
// socket never receive each other's replies.
//
// The functions keep no state and may be called from any thread. Failures
// are returned (false or -1) with errno from the system call; only EINTR is
// retried.
class UnixDomainSocket {
 public:
  // The most descriptors that one received message may carry.
  static constexpr size_t kMaxFileDescriptors = 16;

  UnixDomainSocket() = delete;

  // Makes a connected SOCK_SEQPACKET socket pair.
  static bool CreatePair(ScopedFD* one, ScopedFD* two);

  // Sends `length` bytes at `buffer` as one message on `socket`, with the
  // descriptors `fds` attached (they stay open and owned by the caller).
  // True only when the whole message was sent.
  static bool Send(int socket, const void* buffer, size_t length,
                   const std::vector<int>& fds);

  // Receives one message of at most `max_length` bytes into `buffer`, with
  // `flags` passed to recvmsg. `*fds` is emptied first (closing what it
  // held) and then receives the message's descriptors in order. When `pid`
  // is not null it receives the sender's process id, or -1 when the
  // message carried no credentials (the socket needs SO_PASSCRED for them).
  //
  // Returns the message's byte count, or -1. A message that did not fit
  // (its bytes, or more than kMaxFileDescriptors descriptors) is an ERROR
  // record for a control part that did not fit, -1 with errno EMSGSIZE, and
  // every descriptor it brought closed.
  static ssize_t Receive(int socket, void* buffer, size_t max_length,
                         int flags, std::vector<ScopedFD>* fds, pid_t* pid);

  // Sends the whole `request` pickle, header included, on `socket` with
  // one end of a new socket pair attached, then waits for the reply of at
  // most `max_reply_length` bytes on the other end (recvmsg `flags`).
  //
  // With `result_fd`, the reply may carry one descriptor, which is stored
  // there (-1 when none came); without it, the reply must carry none.
  // Returns the reply's byte count, or -1 (received descriptors are then
  // closed).
  static ssize_t SendAndReceiveWithFlags(int socket, uint8_t* reply,
                                         size_t max_reply_length, int flags,
                                         int* result_fd,
                                         const Pickle& request);

  // SendAndReceiveWithFlags() with recvmsg flags 0.
  static ssize_t SendAndReceive(int socket, uint8_t* reply,
                                size_t max_reply_length, int* result_fd,
                                const Pickle& request);
};

}  // namespace kelmbase

#endif  // AGENT_BASE_POSIX_UNIX_DOMAIN_SOCKET_H_
