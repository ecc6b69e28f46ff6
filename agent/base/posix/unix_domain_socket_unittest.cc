#include "agent/base/posix/unix_domain_socket.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/pickle.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// Number of descriptors open in this process.
int OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// A pipe whose write end is returned in `*write_end` and read end returned.
ScopedFD MakePipe(ScopedFD* write_end) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  write_end->reset(fds[1]);
  return ScopedFD(fds[0]);
}

// Whether bytes written to `write_end` come out of `read_end`.
bool Connected(int write_end, int read_end) {
  if (write(write_end, "z", 1) != 1) return false;
  char byte = 0;
  return read(read_end, &byte, 1) == 1 && byte == 'z';
}

TEST(UnixDomainSocketTest, SendsAMessageWithDescriptors) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  int type = 0;
  socklen_t type_length = sizeof(type);
  ASSERT_EQ(getsockopt(a.get(), SOL_SOCKET, SO_TYPE, &type, &type_length), 0);
  EXPECT_EQ(type, SOCK_SEQPACKET);

  ScopedFD write_end1, write_end2;
  ScopedFD read_end1 = MakePipe(&write_end1);
  ScopedFD read_end2 = MakePipe(&write_end2);
  ASSERT_TRUE(UnixDomainSocket::Send(a.get(), "hello", 5,
                                     {write_end1.get(), write_end2.get()}));
  // The sender keeps its descriptors.
  EXPECT_NE(fcntl(write_end1.get(), F_GETFD), -1);

  char buffer[16];
  std::vector<ScopedFD> fds;
  const int open_before = OpenDescriptorCount();
  fds.emplace_back(dup(read_end1.get()));  // Closed: the vector is emptied.
  pid_t pid = 12345;
  ASSERT_EQ(UnixDomainSocket::Receive(b.get(), buffer, sizeof(buffer), 0, &fds,
                                      &pid),
            5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(pid, -1);  // No credentials without SO_PASSCRED.
  ASSERT_EQ(fds.size(), 2u);
  EXPECT_EQ(OpenDescriptorCount(), open_before + 2);
  EXPECT_TRUE(Connected(fds[0].get(), read_end1.get()));
  EXPECT_TRUE(Connected(fds[1].get(), read_end2.get()));
}

TEST(UnixDomainSocketTest, ReceivesTheSendersPidWithCredentials) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  int on = 1;
  ASSERT_EQ(setsockopt(b.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)), 0);
  ScopedFD write_end;
  ScopedFD read_end = MakePipe(&write_end);
  ASSERT_TRUE(UnixDomainSocket::Send(a.get(), "x", 1, {write_end.get()}));

  char buffer[4];
  std::vector<ScopedFD> fds;
  pid_t pid = 0;
  ASSERT_EQ(UnixDomainSocket::Receive(b.get(), buffer, sizeof(buffer), 0, &fds,
                                      &pid),
            1);
  EXPECT_EQ(pid, getpid());
  EXPECT_EQ(fds.size(), 1u);
}

TEST(UnixDomainSocketTest, EmptyMessageWithoutDescriptors) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  ASSERT_TRUE(UnixDomainSocket::Send(a.get(), nullptr, 0, {}));
  char buffer[4];
  std::vector<ScopedFD> fds;
  EXPECT_EQ(UnixDomainSocket::Receive(b.get(), buffer, sizeof(buffer), 0, &fds,
                                      nullptr),
            0);
  EXPECT_TRUE(fds.empty());
}

TEST(UnixDomainSocketTest, SendToAClosedPeerFails) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  b.reset();
  // No SIGPIPE ends the test: the send fails with EPIPE instead.
  EXPECT_FALSE(UnixDomainSocket::Send(a.get(), "x", 1, {}));
  EXPECT_EQ(errno, EPIPE);
}

TEST(UnixDomainSocketTest, ReceiveFailureReturnsMinusOne) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  char buffer[4];
  std::vector<ScopedFD> fds;
  EXPECT_EQ(UnixDomainSocket::Receive(a.get(), buffer, sizeof(buffer),
                                      MSG_DONTWAIT, &fds, nullptr),
            -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST(UnixDomainSocketTest, TruncatedMessageClosesItsDescriptors) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  ScopedFD write_end;
  ScopedFD read_end = MakePipe(&write_end);
  ASSERT_TRUE(UnixDomainSocket::Send(a.get(), "too long", 8, {write_end.get()}));
  write_end.reset();

  const int open_before = OpenDescriptorCount();
  char buffer[4];
  std::vector<ScopedFD> fds;
  pid_t pid = 99;
  testing::internal::CaptureStderr();
  EXPECT_EQ(UnixDomainSocket::Receive(b.get(), buffer, sizeof(buffer), 0, &fds,
                                      &pid),
            -1);
  EXPECT_EQ(errno, EMSGSIZE);
  // Only a control part that did not fit is logged.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(fds.empty());
  EXPECT_EQ(pid, 99);
  EXPECT_EQ(OpenDescriptorCount(), open_before);
}

class TooManyDescriptorsTest : public testing::TestWithParam<int> {};

TEST_P(TooManyDescriptorsTest, MessageIsRefusedAndNothingLeaks) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  ScopedFD write_end;
  ScopedFD read_end = MakePipe(&write_end);
  std::vector<int> many(GetParam(), write_end.get());
  ASSERT_TRUE(UnixDomainSocket::Send(a.get(), "m", 1, many));

  const int open_before = OpenDescriptorCount();
  char buffer[4];
  std::vector<ScopedFD> fds;
  testing::internal::CaptureStderr();
  EXPECT_EQ(UnixDomainSocket::Receive(b.get(), buffer, sizeof(buffer), 0, &fds,
                                      nullptr),
            -1);
  EXPECT_EQ(errno, EMSGSIZE);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("] recvmsg returned MSG_CTRUNC flag, buffer len is "),
            std::string::npos)
      << log;
  EXPECT_EQ(log[0], 'E') << log;
  EXPECT_TRUE(fds.empty());
  EXPECT_EQ(OpenDescriptorCount(), open_before);
}

// 17 still fit the control buffer when no credentials come with them; 40
// do not, and the kernel marks the control part truncated.
INSTANTIATE_TEST_SUITE_P(Counts, TooManyDescriptorsTest,
                         testing::Values(17, 24, 40));

TEST(UnixDomainSocketTest, SixteenDescriptorsAreAccepted) {
  ScopedFD a, b;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&a, &b));
  ScopedFD write_end;
  ScopedFD read_end = MakePipe(&write_end);
  std::vector<int> sixteen(16, write_end.get());
  ASSERT_TRUE(UnixDomainSocket::Send(a.get(), "m", 1, sixteen));
  char buffer[4];
  std::vector<ScopedFD> fds;
  EXPECT_EQ(UnixDomainSocket::Receive(b.get(), buffer, sizeof(buffer), 0, &fds,
                                      nullptr),
            1);
  EXPECT_EQ(fds.size(), 16u);
}

// Serves one request on `server`: checks the request pickle, then replies
// with `reply` and, when given, `reply_fd`, on the socket that came with it.
void ServeOne(int server, const std::string& reply, int reply_fd,
              std::string* request_text) {
  char buffer[256];
  std::vector<ScopedFD> fds;
  ssize_t length = UnixDomainSocket::Receive(server, buffer, sizeof(buffer), 0,
                                             &fds, nullptr);
  if (length < 0 || fds.size() != 1) return;
  Pickle request(buffer, static_cast<size_t>(length));
  PickleReader reader(request);
  reader.ReadString(request_text);
  std::vector<int> reply_fds;
  if (reply_fd != -1) reply_fds.push_back(reply_fd);
  UnixDomainSocket::Send(fds[0].get(), reply.data(), reply.size(), reply_fds);
}

TEST(UnixDomainSocketTest, ExchangeCarriesTheReplyOnAFreshSocket) {
  ScopedFD client, server;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&client, &server));
  ScopedFD write_end;
  ScopedFD read_end = MakePipe(&write_end);
  std::string request_text;
  std::thread peer(ServeOne, server.get(), "answer", write_end.get(),
                   &request_text);

  Pickle request;
  request.WriteString("question");
  uint8_t reply[32];
  int result_fd = -2;
  ssize_t length = UnixDomainSocket::SendAndReceive(
      client.get(), reply, sizeof(reply), &result_fd, request);
  peer.join();
  ASSERT_EQ(length, 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 6), "answer");
  EXPECT_EQ(request_text, "question");
  ASSERT_GE(result_fd, 0);
  ScopedFD result(result_fd);
  EXPECT_TRUE(Connected(result.get(), read_end.get()));
}

TEST(UnixDomainSocketTest, ExchangeWithoutAReplyDescriptor) {
  ScopedFD client, server;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&client, &server));
  std::string request_text;
  std::thread peer(ServeOne, server.get(), "ok", -1, &request_text);

  Pickle request;
  request.WriteString("q");
  uint8_t reply[8];
  int result_fd = -2;
  EXPECT_EQ(UnixDomainSocket::SendAndReceiveWithFlags(
                client.get(), reply, sizeof(reply), 0, &result_fd, request),
            2);
  peer.join();
  EXPECT_EQ(result_fd, -1);
}

TEST(UnixDomainSocketTest, UnexpectedReplyDescriptorFailsTheExchange) {
  ScopedFD client, server;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&client, &server));
  ScopedFD write_end;
  ScopedFD read_end = MakePipe(&write_end);
  std::string request_text;
  const int open_before = OpenDescriptorCount();
  std::thread peer(ServeOne, server.get(), "fd", write_end.get(),
                   &request_text);

  Pickle request;
  request.WriteString("q");
  uint8_t reply[8];
  EXPECT_EQ(UnixDomainSocket::SendAndReceive(client.get(), reply,
                                             sizeof(reply), nullptr, request),
            -1);
  peer.join();
  EXPECT_EQ(OpenDescriptorCount(), open_before);
}

TEST(UnixDomainSocketTest, ExchangeEndsWhenThePeerDropsTheRequest) {
  ScopedFD client, server;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&client, &server));
  std::thread peer([&server] {
    char buffer[64];
    std::vector<ScopedFD> fds;
    UnixDomainSocket::Receive(server.get(), buffer, sizeof(buffer), 0, &fds,
                              nullptr);
    // `fds` closes the reply socket without answering.
  });
  Pickle request;
  uint8_t reply[8];
  EXPECT_EQ(UnixDomainSocket::SendAndReceive(client.get(), reply,
                                             sizeof(reply), nullptr, request),
            0);
  peer.join();
}

TEST(UnixDomainSocketTest, ExchangeFailsWhenTheRequestCannotBeSent) {
  ScopedFD client, server;
  ASSERT_TRUE(UnixDomainSocket::CreatePair(&client, &server));
  server.reset();
  const int open_before = OpenDescriptorCount();
  Pickle request;
  uint8_t reply[8];
  int result_fd = -2;
  EXPECT_EQ(UnixDomainSocket::SendAndReceive(client.get(), reply,
                                             sizeof(reply), &result_fd,
                                             request),
            -1);
  EXPECT_EQ(result_fd, -2);
  EXPECT_EQ(OpenDescriptorCount(), open_before);
}

}  // namespace
}  // namespace kelmbase
