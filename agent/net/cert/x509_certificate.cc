#include "agent/net/cert/x509_certificate.h"

#include <openssl/bytestring.h>
#include <openssl/pkcs7.h>
#include <openssl/stack.h>

#include <utility>

#include "agent/crypto/scoped_crypto_error_clearer.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/parse_certificate.h"
#include "agent/net/cert/internal/signature_algorithm.h"
#include "agent/net/cert/internal/verify_name_match.h"
#include "agent/net/cert/internal/verify_signed_data.h"
#include "agent/net/cert/pem.h"
#include "agent/net/cert/x509_util.h"
#include "agent/net/der/generalized_time.h"
#include "agent/net/der/parse_values.h"

namespace net {

namespace {

// The raw formats, in the order they are tried.
constexpr int kRawFormats[] = {X509Certificate::CERT_FORMAT_DER,
                               X509Certificate::CERT_FORMAT_PKCS7};

std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> CreateCertBuffersFromPkcs7Bytes(
    const char* data,
    size_t length) {
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> result;
  crypto::ScopedCryptoErrorClearer clearer(FROM_HERE);

  CBS der_data;
  CBS_init(&der_data, reinterpret_cast<const uint8_t*>(data), length);
  STACK_OF(CRYPTO_BUFFER)* certs = sk_CRYPTO_BUFFER_new_null();
  if (certs &&
      PKCS7_get_raw_certificates(certs, &der_data, CertBufferPool())) {
    // Each buffer moves out of the stack, in stack order.
    while (sk_CRYPTO_BUFFER_num(certs) > 0) {
      result.push_back(
          bssl::UniquePtr<CRYPTO_BUFFER>(sk_CRYPTO_BUFFER_shift(certs)));
    }
  }
  sk_CRYPTO_BUFFER_pop_free(certs, CRYPTO_BUFFER_free);
  return result;
}

// Tries the raw formats of `format` in their fixed order; the first that
// gives a buffer wins.
std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> CreateFromRawFormats(
    const char* data,
    size_t length,
    int format) {
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> buffers;
  for (int raw_format : kRawFormats) {
    if ((format & raw_format) == 0)
      continue;
    buffers =
        X509Certificate::CreateCertBuffersOfFormat(data, length, raw_format);
    if (!buffers.empty())
      break;
  }
  return buffers;
}

}  // namespace

X509Certificate::X509Certificate(
    bssl::UniquePtr<CRYPTO_BUFFER> cert_buffer,
    std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates,
    PrintableStringHandling handling)
    : cert_buffer_(std::move(cert_buffer)),
      intermediates_(std::move(intermediates)) {
  if (!Initialize(handling))
    cert_buffer_.reset();
}

X509Certificate::~X509Certificate() = default;

scoped_refptr<X509Certificate> X509Certificate::CreateFromCertBuffer(
    bssl::UniquePtr<CRYPTO_BUFFER> cert_buffer,
    std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates) {
  scoped_refptr<X509Certificate> cert(
      new X509Certificate(std::move(cert_buffer), std::move(intermediates),
                          PrintableStringHandling::kStrict));
  if (!cert->cert_buffer_)
    return nullptr;
  return cert;
}

bool X509Certificate::Initialize(PrintableStringHandling handling) {
  if (!cert_buffer_)
    return false;
  der::Input tbs_certificate_tlv;
  der::Input signature_algorithm_tlv;
  der::BitString signature_value;
  if (!ParseCertificate(CryptoBufferBytes(cert_buffer_.get()),
                        &tbs_certificate_tlv, &signature_algorithm_tlv,
                        &signature_value, nullptr)) {
    return false;
  }
  ParsedTbsCertificate tbs;
  if (!ParseTbsCertificate(tbs_certificate_tlv,
                           DefaultParseCertificateOptions(), &tbs, nullptr)) {
    return false;
  }
  if (!subject_.ParseFromName(tbs.subject_tlv, handling) ||
      !issuer_.ParseFromName(tbs.issuer_tlv, handling)) {
    return false;
  }
  // A leap second (second 60) parses but names no calendar time, so such a
  // certificate gives no object.
  if (!der::GeneralizedTimeToTime(tbs.validity_not_before, &valid_start_) ||
      !der::GeneralizedTimeToTime(tbs.validity_not_after, &valid_expiry_)) {
    return false;
  }
  serial_number_ = tbs.serial_number.AsString();
  return true;
}

std::vector<scoped_refptr<X509Certificate>>
X509Certificate::CreateListFromBytes(const char* data,
                                     size_t length,
                                     int format) {
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> buffers;

  PEMTokenizer tokenizer(kelmbase::StringPiece(data, length),
                         (format & CERT_FORMAT_PKCS7)
                             ? std::vector<std::string>{"CERTIFICATE", "PKCS7"}
                             : std::vector<std::string>{"CERTIFICATE"});
  int mask = format;
  while (tokenizer.GetNext()) {
    const std::string& block = tokenizer.data();
    if (mask & CERT_FORMAT_PEM_SEQUENCE) {
      bssl::UniquePtr<CRYPTO_BUFFER> buffer =
          CreateCertBufferIfParses(block.data(), block.size());
      if (buffer) {
        buffers.push_back(std::move(buffer));
        // Once one block is a certificate, every block must be one.
        mask = CERT_FORMAT_PEM_SEQUENCE;
        continue;
      }
    }
    // A block holding a raw format counts only as the first and only one.
    if ((mask & ~CERT_FORMAT_PEM_SEQUENCE) != 0 && buffers.empty())
      buffers = CreateFromRawFormats(block.data(), block.size(), mask);
    break;
  }

  if (buffers.empty())
    buffers = CreateFromRawFormats(data, length, format);

  std::vector<scoped_refptr<X509Certificate>> results;
  for (bssl::UniquePtr<CRYPTO_BUFFER>& buffer : buffers) {
    scoped_refptr<X509Certificate> cert =
        CreateFromCertBuffer(std::move(buffer), {});
    if (cert)
      results.push_back(std::move(cert));
  }
  return results;
}

bssl::UniquePtr<CRYPTO_BUFFER> X509Certificate::CreateCertBufferIfParses(
    const char* data,
    size_t length) {
  der::Input tbs_certificate_tlv;
  der::Input signature_algorithm_tlv;
  der::BitString signature_value;
  if (!ParseCertificate(
          der::Input(reinterpret_cast<const uint8_t*>(data), length),
          &tbs_certificate_tlv, &signature_algorithm_tlv, &signature_value,
          nullptr)) {
    return nullptr;
  }
  return CreateCertBuffer(data, length);
}

std::vector<bssl::UniquePtr<CRYPTO_BUFFER>>
X509Certificate::CreateCertBuffersOfFormat(const char* data,
                                           size_t length,
                                           int format) {
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> results;
  switch (format) {
    case CERT_FORMAT_DER: {
      bssl::UniquePtr<CRYPTO_BUFFER> buffer =
          CreateCertBufferIfParses(data, length);
      if (buffer)
        results.push_back(std::move(buffer));
      break;
    }
    case CERT_FORMAT_PKCS7:
      results = CreateCertBuffersFromPkcs7Bytes(data, length);
      break;
    default:
      break;
  }
  return results;
}

bool X509Certificate::IsSelfSigned() const {
  der::Input tbs_certificate_tlv;
  der::Input signature_algorithm_tlv;
  der::BitString signature_value;
  if (!ParseCertificate(CryptoBufferBytes(cert_buffer_.get()),
                        &tbs_certificate_tlv, &signature_algorithm_tlv,
                        &signature_value, nullptr)) {
    return false;
  }
  ParsedTbsCertificate tbs;
  if (!ParseTbsCertificate(tbs_certificate_tlv,
                           DefaultParseCertificateOptions(), &tbs, nullptr)) {
    return false;
  }

  der::Input subject_value;
  der::Input issuer_value;
  std::string normalized_subject;
  std::string normalized_issuer;
  CertErrors unused_errors;
  if (!ReadSequenceContents(tbs.subject_tlv, &subject_value) ||
      !NormalizeName(subject_value, &normalized_subject, &unused_errors) ||
      !ReadSequenceContents(tbs.issuer_tlv, &issuer_value) ||
      !NormalizeName(issuer_value, &normalized_issuer, &unused_errors)) {
    return false;
  }
  if (normalized_subject != normalized_issuer)
    return false;

  std::unique_ptr<SignatureAlgorithm> algorithm =
      SignatureAlgorithm::Create(signature_algorithm_tlv, nullptr);
  if (!algorithm)
    return false;
  return VerifySignedDataWithSpki(*algorithm, tbs_certificate_tlv,
                                  signature_value, tbs.spki_tlv);
}

}  // namespace net
