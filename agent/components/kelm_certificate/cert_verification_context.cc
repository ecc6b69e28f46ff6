#include "agent/components/kelm_certificate/cert_verification_context.h"

#include <memory>
#include <utility>

#include "agent/net/cert/internal/verify_signed_data.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parse_values.h"

namespace kelm_certificate {

CertVerificationContextImpl::CertVerificationContextImpl(
    std::string spki, std::string common_name)
    : spki_(std::move(spki)), common_name_(std::move(common_name)) {}

CertVerificationContextImpl::~CertVerificationContextImpl() = default;

bool CertVerificationContextImpl::VerifySignature(
    const std::string& signature,
    const std::string& data,
    net::DigestAlgorithm digest) const {
  std::unique_ptr<net::SignatureAlgorithm> algorithm =
      net::SignatureAlgorithm::CreateRsaPkcs1(digest);
  return net::VerifySignedDataWithSpki(
      *algorithm, net::der::Input(data),
      net::der::BitString(net::der::Input(signature), 0),
      net::der::Input(spki_));
}

std::string CertVerificationContextImpl::CommonName() const {
  return common_name_;
}

}  // namespace kelm_certificate
