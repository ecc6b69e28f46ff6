// The validator called from several threads at once: the first use makes
// the built-in roots exactly once, and verifications against them run one
// at a time. Run under ThreadSanitizer too.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/components/kelm_certificate/kelm_cert_validator.h"
#include "gtest/gtest.h"

namespace kelm_certificate {
namespace {

std::string Der(const std::string& name) {
  std::string contents;
  EXPECT_TRUE(kelmbase::ReadFileToString(
      kelmbase::FilePath(KELM_VALIDATOR_TESTDATA_DIR).Append(name + ".der"),
      &contents));
  return contents;
}

// Counts how many revocation checks are running at the same moment.
class OverlapCountingCrl : public Crl {
 public:
  bool CheckRevocation(const net::ParsedCertificateList&,
                       const kelmbase::Time&) override {
    const int running = ++running_;
    int seen = max_seen.load();
    while (running > seen && !max_seen.compare_exchange_weak(seen, running)) {
    }
    // Long enough for another thread to arrive if nothing held it back.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    --running_;
    return true;
  }

  std::atomic<int> max_seen{0};

 private:
  std::atomic<int> running_{0};
};

TEST(KelmCertValidatorThreadsTest, VerificationsAgainstBuiltInRootsTakeTurns) {
  const std::vector<std::string> good = {Der("device"),
                                         Der("model_intermediate")};
  const std::vector<std::string> expired = {Der("device_expired"),
                                            Der("model_intermediate")};
  kelmbase::Time::Breakdown breakdown = {};
  breakdown.year = 2028;
  breakdown.month = 1;
  breakdown.day_of_month = 1;
  kelmbase::Time time;
  ASSERT_TRUE(kelmbase::Time::FromBreakdown(false, breakdown, &time));

  OverlapCountingCrl crl;
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  std::atomic<int> wrong{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) {
      }
      for (int round = 0; round < kRounds; ++round) {
        const bool use_good = (t + round) % 2 == 0;
        std::unique_ptr<CertVerificationContext> context;
        DeviceCertPolicy policy = NONE;
        const KelmCertError result = VerifyDeviceCertificate(
            use_good ? good : expired, time, &context, &policy, &crl,
            CRL_REQUIRED);
        if (result != (use_good ? OK : ERR_CERTS_DATE_INVALID))
          ++wrong;
      }
    });
  }
  go.store(true);
  for (std::thread& thread : threads)
    thread.join();

  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(1, crl.max_seen.load());
}

}  // namespace
}  // namespace kelm_certificate
