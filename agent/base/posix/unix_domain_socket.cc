#include "agent/base/posix/unix_domain_socket.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "agent/base/pickle.h"
#include "logging/log.h"

namespace kelmbase {

namespace {

// Room for one SCM_RIGHTS message of kMaxFileDescriptors descriptors and
// one SCM_CREDENTIALS message.
constexpr size_t kControlBufferSize =
    CMSG_SPACE(sizeof(int) * UnixDomainSocket::kMaxFileDescriptors) +
    CMSG_SPACE(sizeof(struct ucred));

void CloseAll(const std::vector<int>& fds) {
  for (int fd : fds) close(fd);
}

}  // namespace

// static
bool UnixDomainSocket::CreatePair(ScopedFD* one, ScopedFD* two) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) return false;
  one->reset(fds[0]);
  two->reset(fds[1]);
  return true;
}

// static
bool UnixDomainSocket::Send(int socket, const void* buffer, size_t length,
                            const std::vector<int>& fds) {
  struct msghdr msg = {};
  struct iovec iov = {const_cast<void*>(buffer), length};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;

  std::vector<char> control;
  if (!fds.empty()) {
    const size_t fds_size = sizeof(int) * fds.size();
    control.assign(CMSG_SPACE(fds_size), 0);
    msg.msg_control = control.data();
    msg.msg_controllen = CMSG_SPACE(fds_size);
    struct cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = SOL_SOCKET;
    cmsg->cmsg_type = SCM_RIGHTS;
    cmsg->cmsg_len = CMSG_LEN(fds_size);
    memcpy(CMSG_DATA(cmsg), fds.data(), fds_size);
    msg.msg_controllen = cmsg->cmsg_len;
  }

  ssize_t sent;
  do {
    sent = sendmsg(socket, &msg, MSG_NOSIGNAL);
  } while (sent == -1 && errno == EINTR);
  return sent >= 0 && static_cast<size_t>(sent) == length;
}

// static
ssize_t UnixDomainSocket::Receive(int socket, void* buffer, size_t max_length,
                                  int flags, std::vector<ScopedFD>* fds,
                                  pid_t* pid) {
  fds->clear();

  struct msghdr msg = {};
  struct iovec iov = {buffer, max_length};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(struct cmsghdr) char control[kControlBufferSize];
  msg.msg_control = control;
  msg.msg_controllen = sizeof(control);

  ssize_t received;
  do {
    received = recvmsg(socket, &msg, flags);
  } while (received == -1 && errno == EINTR);
  if (received == -1) return -1;

  std::vector<int> received_fds;
  pid_t sender_pid = -1;
  if (msg.msg_controllen >= sizeof(struct cmsghdr)) {
    for (struct cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg != nullptr;
         cmsg = CMSG_NXTHDR(&msg, cmsg)) {
      if (cmsg->cmsg_level != SOL_SOCKET) continue;
      if (cmsg->cmsg_type == SCM_RIGHTS) {
        const size_t count = (cmsg->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        // A second list replaces the first; the replaced descriptors would
        // otherwise stay open with nobody to close them.
        CloseAll(received_fds);
        received_fds.resize(count);
        memcpy(received_fds.data(), CMSG_DATA(cmsg), count * sizeof(int));
      } else if (cmsg->cmsg_type == SCM_CREDENTIALS) {
        struct ucred credentials;
        memcpy(&credentials, CMSG_DATA(cmsg), sizeof(credentials));
        sender_pid = credentials.pid;
      }
    }
  }

  // The kernel delivers as many descriptors as the control buffer holds,
  // which is more than the limit when no credentials come along.
  const bool too_many_fds = received_fds.size() > kMaxFileDescriptors;
  if ((msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || too_many_fds) {
    if ((msg.msg_flags & MSG_CTRUNC) != 0 || too_many_fds) {
      LOG(ERROR) << "recvmsg returned MSG_CTRUNC flag, buffer len is "
                 << msg.msg_controllen;
    }
    CloseAll(received_fds);
    errno = EMSGSIZE;
    return -1;
  }

  for (int fd : received_fds) fds->emplace_back(fd);
  if (pid != nullptr) *pid = sender_pid;
  return received;
}

// static
ssize_t UnixDomainSocket::SendAndReceiveWithFlags(int socket, uint8_t* reply,
                                                  size_t max_reply_length,
                                                  int flags, int* result_fd,
                                                  const Pickle& request) {
  ScopedFD reply_socket;
  ScopedFD peer_socket;
  if (!CreatePair(&reply_socket, &peer_socket)) return -1;

  if (!Send(socket, request.data(), request.size(), {peer_socket.get()}))
    return -1;
  // The peer now holds the only other end: if it goes away without
  // replying, the receive below ends instead of waiting forever.
  peer_socket.reset();

  std::vector<ScopedFD> received_fds;
  const ssize_t reply_length =
      Receive(reply_socket.get(), reply, max_reply_length, flags,
              &received_fds, nullptr);
  reply_socket.reset();
  if (reply_length == -1) return -1;

  const size_t expected_fds = result_fd != nullptr ? 1 : 0;
  if (received_fds.size() > expected_fds) return -1;

  if (result_fd != nullptr)
    *result_fd = received_fds.empty() ? -1 : received_fds[0].release();
  return reply_length;
}

// static
ssize_t UnixDomainSocket::SendAndReceive(int socket, uint8_t* reply,
                                         size_t max_reply_length,
                                         int* result_fd,
                                         const Pickle& request) {
  return SendAndReceiveWithFlags(socket, reply, max_reply_length, 0,
                                 result_fd, request);
}

}  // namespace kelmbase
