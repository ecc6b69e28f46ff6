#include "internal/certificate/client_auth_signer.h"

#include <openssl/pool.h>

#include <atomic>
#include <memory>
#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/task/thread_task_runner_handle.h"
#include "agent/base/time/time.h"
#include "internal/certificate/cert_util.h"
#include "internal/certificate/device_policy.h"
#include "internal/certificate/metrics_recorder.h"
#include "internal/certificate/timed_log_throttle.h"
#include "logging/log.h"

namespace vantorel {

namespace {

constexpr const char* kAuthResultSuffixes[] = {
    "OK",
    "Error.CertMissing",
    "Error.CertParse",
    "Error.CertRestriction",
    "Error.CertDate",
    "Error.CertVerificationFailed",
    "Error.CRLInvalid",
    "Error.CertRevoked",
    "Error.Unexpected",
};

std::string BufferBytes(const CRYPTO_BUFFER* buffer) {
  return std::string(reinterpret_cast<const char*>(CRYPTO_BUFFER_data(buffer)),
                     CRYPTO_BUFFER_len(buffer));
}

void RecordUserAction(const std::string& name) {
  std::unique_ptr<MetricsEvent> event;
  if (MetricsRecorder* recorder = MetricsRecorder::GetInstance()) {
    event = recorder->CreateUserActionEvent(name);
  }
  RecordAction(name, std::move(event), 0);
}

// The key adapter's reply, on the requesting thread: hands the signature
// (or the empty string) to the caller as one more task there.
void SignCompleted(scoped_refptr<kelmbase::TaskRunner> reply_runner,
                   ClientAuthSigner::SignCallback callback,
                   kelmbase::MonotonicTime start, net::Error /*error*/,
                   std::vector<uint8_t> signature) {
  // Only an empty signature counts as failure; the adapter's error code
  // says nothing more.
  if (signature.empty()) {
    RecordUserAction(
        kelmbase::FormatString("%s.%s", "Kelm.Sign", "Error.SignatureEmpty"));
    reply_runner->PostTask(
        FROM_HERE, kelmbase::BindOneShot(std::move(callback), std::string()));
    return;
  }
  std::string bytes(signature.begin(), signature.end());
  reply_runner->PostTask(
      FROM_HERE, kelmbase::BindOneShot(std::move(callback), std::move(bytes)));
  RecordTimeHistogram(
      kSignWithAlgorithmHistogram,
      static_cast<int>(
          (kelmbase::MonotonicTime::Now() - start).InMilliseconds()),
      0, 15000, 30, 1);
}

// Set by ResetKeylessWarningThrottleForTesting: the next key-less request
// arms the throttle anew.
std::atomic<bool> g_rearm_no_key_throttle{false};

// Made and armed on first use, so that the first key-less request of the
// process is normally not logged.
TimedLogThrottle& NoKeyThrottle() {
  static TimedLogThrottle* throttle = [] {
    auto* created = new TimedLogThrottle();
    created->Reset();
    return created;
  }();
  if (g_rearm_no_key_throttle.exchange(false, std::memory_order_relaxed)) {
    throttle->Reset();
  }
  return *throttle;
}

}  // namespace

ClientAuthSigner::ClientAuthSigner(
    scoped_refptr<kelmbase::TaskRunner> signing_runner, ClientAuthCreds* creds)
    : signing_runner_(std::move(signing_runner)) {
  if (creds != nullptr) InitFromCreds(creds);
}

ClientAuthSigner::~ClientAuthSigner() = default;

void ClientAuthSigner::InitFromCreds(ClientAuthCreds* creds) {
  initialized_ = true;
  if (!ImportClientAuthCreds(creds, signing_runner_, &cert_, &key_)) {
    LOG(ERROR) << "Failed to get key and cert from ClientAuthCreds.";
    return;
  }
  creds_flag_ = creds->flag();
  cert_chain_pem_ = creds->cert_chain_pem();
  leaf_der_ = BufferBytes(cert_->CertBuffer());
  for (const auto& intermediate : cert_->IntermediateBuffers()) {
    intermediate_ders_.push_back(BufferBytes(intermediate.get()));
  }
  LOG(INFO) << "Created singleton instance of ClientAuthSigner.";
}

// static
void ClientAuthSigner::ResetKeylessWarningThrottleForTesting() {
  g_rearm_no_key_throttle.store(true, std::memory_order_relaxed);
}

void ClientAuthSigner::SignWithAlgorithm(uint16_t algorithm,
                                         const std::string& data,
                                         SignCallback callback) {
  if (!key_) {
    if (NoKeyThrottle().ShouldLog(1.0)) {
      LOG(WARNING) << "No private key, hence empty signature.";
    }
    kelmbase::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, kelmbase::BindOneShot(std::move(callback), std::string()));
    return;
  }
  const kelmbase::MonotonicTime start = kelmbase::MonotonicTime::Now();
  scoped_refptr<kelmbase::TaskRunner> reply_runner =
      kelmbase::ThreadTaskRunnerHandle::Get();
  key_->Sign(algorithm,
             kelmbase::span<const uint8_t>(
                 reinterpret_cast<const uint8_t*>(data.data()), data.size()),
             kelmbase::BindOneShot(&SignCompleted, std::move(reply_runner),
                                   std::move(callback), start));
}

void ClientAuthSigner::CheckCertificate(CrlSource* crl_source) {
  kelmbase::Time::Breakdown now;
  kelmbase::Time::Now().ToBreakdown(/*is_local=*/false, &now);
  // Before 2016 the clock has not been set: every chain would look
  // not-yet-valid.
  if (now.year < 2016) return;

  kelm_certificate::Crl* crl =
      crl_source != nullptr ? crl_source->GetCurrentCrl() : nullptr;
  int32_t policy = kelm_certificate::NONE;
  const kelm_certificate::KelmCertError result =
      VerifyClientCert(cert_, crl, kelm_certificate::CRL_REQUIRED, &policy);
  last_cert_result_ = result;
  cert_checked_ = true;
  if (result != kelm_certificate::OK) {
    LOG(ERROR) << "Kelm certificate verification: " << CertErrorText(result);
  } else if (!IsAudioOnlyDevice() && policy == kelm_certificate::AUDIO_ONLY) {
    LOG(ERROR)
        << "Kelm certificate verification: Audio-only cert on video device.";
  } else {
    LOG(INFO) << "Kelm certificate verification: "
              << CertErrorText(kelm_certificate::OK);
  }
  RecordAuthResultAction(result);
}

void RecordAuthResultAction(int32_t result) {
  if (result < 0 ||
      result >= static_cast<int32_t>(std::size(kAuthResultSuffixes))) {
    return;
  }
  RecordUserAction(
      kelmbase::FormatString("%s.%s", "Kelm.Auth", kAuthResultSuffixes[result]));
}

}  // namespace vantorel
