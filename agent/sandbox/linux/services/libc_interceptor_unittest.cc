#include "agent/sandbox/linux/services/libc_interceptor.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/files/scoped_file.h"
#include "agent/base/pickle.h"
#include "agent/base/posix/unix_domain_socket.h"
#include "gtest/gtest.h"

namespace sandbox {
namespace {

struct ReplyFields {
  int32_t values[10];  // tm_sec ... tm_gmtoff, in wire order.
  std::string zone;
};

std::string MakeReply(const ReplyFields& fields) {
  kelmbase::Pickle pickle;
  for (int32_t value : fields.values) {
    pickle.WriteInt(value);
  }
  pickle.WriteString(fields.zone);
  return std::string(static_cast<const char*>(pickle.data()), pickle.size());
}

// Plays the converting peer: answers `count` requests on its end of a
// socket pair with the given raw replies, keeping each request's bytes.
class LocaltimePeer {
 public:
  explicit LocaltimePeer(std::vector<std::string> replies)
      : replies_(std::move(replies)) {
    EXPECT_TRUE(kelmbase::UnixDomainSocket::CreatePair(&client_, &server_));
    thread_ = std::thread([this] { Serve(); });
  }
  ~LocaltimePeer() { Finish(); }

  int client_fd() const { return client_.get(); }

  // Stops the peer (closing the client end ends a peer still waiting for a
  // request) and returns the requests it received.
  const std::vector<std::string>& Finish() {
    client_.reset();
    if (thread_.joinable()) {
      thread_.join();
    }
    return requests_;
  }

 private:
  void Serve() {
    for (const std::string& reply : replies_) {
      char buffer[256];
      std::vector<kelmbase::ScopedFD> fds;
      const ssize_t length = kelmbase::UnixDomainSocket::Receive(
          server_.get(), buffer, sizeof(buffer), 0, &fds, nullptr);
      if (length <= 0 || fds.size() != 1) {
        return;
      }
      requests_.emplace_back(buffer, static_cast<size_t>(length));
      kelmbase::UnixDomainSocket::Send(fds[0].get(), reply.data(),
                                       reply.size(), {});
    }
  }

  std::vector<std::string> replies_;
  std::vector<std::string> requests_;
  kelmbase::ScopedFD client_;
  kelmbase::ScopedFD server_;
  std::thread thread_;
};

class LocaltimeTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    if (tz) {
      saved_tz_ = tz;
    }
  }
  void TearDown() override {
    g_localtime_proxy_enabled = false;
    g_localtime_proxy_fd = -1;
    if (saved_tz_) {
      setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  void UseProxy(int fd) {
    g_localtime_proxy_fd = fd;
    g_localtime_proxy_enabled = true;
  }

 private:
  std::optional<std::string> saved_tz_;
};

bool IsAllZero(const struct tm& value) {
  struct tm zero;
  memset(&zero, 0, sizeof(zero));
  return memcmp(&value, &zero, sizeof(zero)) == 0;
}

TEST_F(LocaltimeTest, ForwardsToTheSystemLibraryByDefault) {
  // A zone given by rule needs no zone files: three hours east of UTC.
  setenv("TZ", "XYZ-3", 1);
  tzset();
  const time_t epoch = 0;

  struct tm* shared = localtime(&epoch);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->tm_year, 70);
  EXPECT_EQ(shared->tm_hour, 3);
  EXPECT_EQ(shared->tm_gmtoff, 3 * 3600);
  EXPECT_STREQ(shared->tm_zone, "XYZ");

  struct tm own;
  EXPECT_EQ(localtime_r(&epoch, &own), &own);
  EXPECT_EQ(own.tm_hour, 3);
  EXPECT_STREQ(own.tm_zone, "XYZ");
}

TEST_F(LocaltimeTest, ProcessWideNamesAreTheseDefinitions) {
  // Shared libraries look the names up dynamically; they must find these
  // definitions, and the system library's must still be reachable behind
  // them.
  using LocaltimeFunction = struct tm* (*)(const time_t*);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "localtime"),
            reinterpret_cast<void*>(static_cast<LocaltimeFunction>(localtime)));
  EXPECT_NE(dlsym(RTLD_NEXT, "localtime"), dlsym(RTLD_DEFAULT, "localtime"));
  EXPECT_NE(dlsym(RTLD_NEXT, "localtime_r"),
            dlsym(RTLD_DEFAULT, "localtime_r"));
}

TEST_F(LocaltimeTest, ProxySendsTheTimeAndFillsTheFields) {
  const ReplyFields fields = {{5, 4, 3, 2, 1, 124, 6, 31, 1, -18000}, "EST"};
  LocaltimePeer peer({MakeReply(fields), MakeReply(fields)});
  UseProxy(peer.client_fd());

  const time_t when = 0x0102030405060708;
  struct tm* shared = localtime(&when);
  EXPECT_EQ(shared->tm_sec, 5);
  EXPECT_EQ(shared->tm_min, 4);
  EXPECT_EQ(shared->tm_hour, 3);
  EXPECT_EQ(shared->tm_mday, 2);
  EXPECT_EQ(shared->tm_mon, 1);
  EXPECT_EQ(shared->tm_year, 124);
  EXPECT_EQ(shared->tm_wday, 6);
  EXPECT_EQ(shared->tm_yday, 31);
  EXPECT_EQ(shared->tm_isdst, 1);
  EXPECT_EQ(shared->tm_gmtoff, -18000);
  EXPECT_STREQ(shared->tm_zone, "EST");
  // Every caller of localtime gets the one static result.
  EXPECT_EQ(localtime(&when), shared);

  // The request: payload size 16, the method, the string length 8 and the
  // raw bytes of the time value.
  g_localtime_proxy_enabled = false;
  const std::vector<std::string>& requests = peer.Finish();
  ASSERT_EQ(requests.size(), 2u);
  const std::string& request = requests[0];
  ASSERT_EQ(request.size(), 20u);
  int32_t words[3];
  memcpy(words, request.data(), sizeof(words));
  EXPECT_EQ(words[0], 16);
  EXPECT_EQ(words[1], kLocaltimeMethod);
  EXPECT_EQ(words[2], 8);
  EXPECT_EQ(memcmp(request.data() + 12, &when, sizeof(when)), 0);
}

TEST_F(LocaltimeTest, LongZoneNameIsCutForLocaltimeAndKeptForLocaltimeR) {
  const std::string long_zone(100, 'Z');
  const ReplyFields fields = {{0, 0, 0, 1, 0, 100, 0, 0, 0, 0}, long_zone};
  LocaltimePeer peer(
      {MakeReply(fields), MakeReply(fields), MakeReply(fields)});
  UseProxy(peer.client_fd());
  const time_t when = 1;

  struct tm* shared = localtime(&when);
  EXPECT_EQ(std::string(shared->tm_zone), long_zone.substr(0, 63));

  struct tm first;
  struct tm second;
  EXPECT_EQ(localtime_r(&when, &first), &first);
  EXPECT_EQ(localtime_r(&when, &second), &second);
  EXPECT_EQ(std::string(first.tm_zone), long_zone);
  EXPECT_EQ(first.tm_year, 100);
  // The name is stored once and shared by every result that carries it.
  EXPECT_EQ(first.tm_zone, second.tm_zone);
}

TEST_F(LocaltimeTest, NoBackChannelGivesZeroedResult) {
  const ReplyFields fields = {{1, 2, 3, 4, 5, 6, 0, 7, 0, 3600}, "AAA"};
  LocaltimePeer peer({MakeReply(fields)});
  UseProxy(peer.client_fd());
  const time_t when = 1000;
  struct tm* shared = localtime(&when);
  ASSERT_STREQ(shared->tm_zone, "AAA");

  // The same static result, now cleared by a failed exchange.
  UseProxy(-1);
  EXPECT_EQ(localtime(&when), shared);
  EXPECT_TRUE(IsAllZero(*shared));
  EXPECT_EQ(shared->tm_zone, nullptr);

  struct tm own;
  memset(&own, 0x5a, sizeof(own));
  EXPECT_EQ(localtime_r(&when, &own), &own);
  EXPECT_TRUE(IsAllZero(own));
}

TEST_F(LocaltimeTest, MalformedReplyGivesZeroedResult) {
  kelmbase::Pickle truncated;
  for (int i = 0; i < 3; ++i) {
    truncated.WriteInt(7);
  }
  const std::string short_reply(static_cast<const char*>(truncated.data()),
                                truncated.size());
  // Ten fields but no zone name.
  std::string no_zone = MakeReply({{1, 2, 3, 4, 5, 6, 0, 7, 0, 0}, ""});
  no_zone.resize(no_zone.size() - 4);
  const uint32_t shorter = 40;
  memcpy(no_zone.data(), &shorter, sizeof(shorter));

  LocaltimePeer peer({short_reply, no_zone, "xy"});
  UseProxy(peer.client_fd());
  const time_t when = 5;
  for (int i = 0; i < 3; ++i) {
    struct tm own;
    memset(&own, 0x5a, sizeof(own));
    EXPECT_FALSE(ProxyLocaltimeCall(when, &own, nullptr, 0)) << i;
    EXPECT_TRUE(IsAllZero(own)) << i;
  }
}

TEST(LocaltimeProxyMessageTest, RequestLayout) {
  const time_t when = 0x0102030405060708;
  const LocaltimeProxyRequest request(when);
  ASSERT_EQ(request.size(), 20u);
  int32_t words[3];
  memcpy(words, request.data(), sizeof(words));
  EXPECT_EQ(words[0], 16);
  EXPECT_EQ(words[1], kLocaltimeMethod);
  EXPECT_EQ(words[2], 8);
  EXPECT_EQ(memcmp(static_cast<const char*>(request.data()) + 12, &when,
                   sizeof(when)),
            0);
}

TEST(LocaltimeProxyMessageTest, ReplyWritesAndReadsTheFieldsInWireOrder) {
  // The same filler in both, padding included, so they compare whole.
  struct tm time;
  memset(&time, 0x5a, sizeof(time));
  time.tm_sec = 5;
  time.tm_min = 4;
  time.tm_hour = 3;
  time.tm_mday = 2;
  time.tm_mon = 1;
  time.tm_year = 124;
  time.tm_wday = 6;
  time.tm_yday = 31;
  time.tm_isdst = 1;
  time.tm_gmtoff = -18000;
  const LocaltimeProxyReply written(time, "EST");
  const std::string bytes(static_cast<const char*>(written.data()),
                          written.size());
  EXPECT_EQ(bytes, MakeReply({{5, 4, 3, 2, 1, 124, 6, 31, 1, -18000}, "EST"}));

  const LocaltimeProxyReply received(bytes.data(), bytes.size());
  struct tm read;
  memset(&read, 0x5a, sizeof(read));
  char zone_marker = 0;
  read.tm_zone = &zone_marker;
  std::string zone;
  ASSERT_TRUE(received.Read(&read, &zone));
  EXPECT_EQ(zone, "EST");
  EXPECT_EQ(read.tm_zone, &zone_marker);
  read.tm_zone = nullptr;
  time.tm_zone = nullptr;
  EXPECT_EQ(memcmp(&read, &time, sizeof(time)), 0);
}

TEST(LocaltimeProxyMessageTest, ShortReplyReadsNothing) {
  const std::string whole =
      MakeReply({{1, 2, 3, 4, 5, 6, 0, 7, 0, 0}, "UTC"});
  // Payload cut after the sixth field, and after the tenth (no zone name).
  for (const uint32_t payload : {24u, 40u}) {
    std::string cut = whole.substr(0, 4 + payload);
    memcpy(cut.data(), &payload, sizeof(payload));
    const LocaltimeProxyReply reply(cut.data(), cut.size());
    struct tm out;
    memset(&out, 0x5a, sizeof(out));
    std::string zone = "kept";
    EXPECT_FALSE(reply.Read(&out, &zone)) << payload;
    EXPECT_EQ(zone, "kept");
    struct tm untouched;
    memset(&untouched, 0x5a, sizeof(untouched));
    EXPECT_EQ(memcmp(&out, &untouched, sizeof(out)), 0) << payload;
  }
}

TEST_F(LocaltimeTest, ProxyCallReportsSuccess) {
  const ReplyFields fields = {{0, 30, 12, 15, 5, 99, 2, 165, 0, 7200}, "CEST"};
  LocaltimePeer peer({MakeReply(fields)});
  UseProxy(peer.client_fd());
  struct tm result;
  char zone[8];
  EXPECT_TRUE(ProxyLocaltimeCall(42, &result, zone, sizeof(zone)));
  EXPECT_EQ(result.tm_zone, zone);
  EXPECT_STREQ(zone, "CEST");
  EXPECT_EQ(result.tm_gmtoff, 7200);
}

}  // namespace
}  // namespace sandbox
