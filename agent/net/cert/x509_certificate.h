#ifndef AGENT_NET_CERT_X509_CERTIFICATE_H_
#define AGENT_NET_CERT_X509_CERTIFICATE_H_

#include <openssl/pool.h>

#include <cstddef>
#include <string>
#include <vector>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/time/time.h"
#include "agent/net/cert/cert_principal.h"
#include "agent/net/cert/internal/parse_name.h"

namespace net {

// A certificate with the intermediates it was handed with, each held as a
// CRYPTO_BUFFER of the shared pool. Immutable once created: any thread may
// read it, and it is shared through its atomic reference count. Creation
// parses the TBSCertificate (names, validity, serial number) but checks no
// signature and no extension.
class X509Certificate : public kelmbase::RefCountedThreadSafe<X509Certificate> {
 public:
  // Bits of the format mask of CreateListFromBytes.
  enum Format {
    // One DER certificate.
    CERT_FORMAT_DER = 1 << 0,
    // Text with PEM "CERTIFICATE" blocks, each one DER certificate.
    CERT_FORMAT_PEM_SEQUENCE = 1 << 1,
    // A DER PKCS#7 SignedData whose certificates are taken.
    CERT_FORMAT_PKCS7 = 1 << 2,
    CERT_FORMAT_AUTO = CERT_FORMAT_DER | CERT_FORMAT_PEM_SEQUENCE |
                       CERT_FORMAT_PKCS7,
  };

  X509Certificate(const X509Certificate&) = delete;
  X509Certificate& operator=(const X509Certificate&) = delete;

  // A certificate object over `cert_buffer` with `intermediates` (kept in
  // order, unchecked). Null when the certificate does not parse.
  // PrintableString values of the names are checked strictly.
  static scoped_refptr<X509Certificate> CreateFromCertBuffer(
      bssl::UniquePtr<CRYPTO_BUFFER> cert_buffer,
      std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates);

  // The certificates in `length` bytes at `data` read as `format` (a mask
  // of Format bits), in input order, each without intermediates. PEM
  // blocks are tried first; the raw formats only when no PEM block gave a
  // certificate. Certificates that do not parse are dropped silently; the
  // result may be empty.
  static std::vector<scoped_refptr<X509Certificate>> CreateListFromBytes(
      const char* data,
      size_t length,
      int format);

  // A buffer of the bytes when they hold one Certificate SEQUENCE (outer
  // structure only); else null.
  static bssl::UniquePtr<CRYPTO_BUFFER> CreateCertBufferIfParses(
      const char* data,
      size_t length);

  // The buffers of `data` read as exactly one raw format (CERT_FORMAT_DER
  // or CERT_FORMAT_PKCS7); empty for anything else or on failure.
  static std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> CreateCertBuffersOfFormat(
      const char* data,
      size_t length,
      int format);

  const CertPrincipal& Subject() const { return subject_; }
  const CertPrincipal& Issuer() const { return issuer_; }
  kelmbase::Time ValidStart() const { return valid_start_; }
  kelmbase::Time ValidExpiry() const { return valid_expiry_; }
  // The serial number's INTEGER content bytes as encoded (a leading zero
  // octet stays).
  const std::string& SerialNumber() const { return serial_number_; }

  CRYPTO_BUFFER* CertBuffer() const { return cert_buffer_.get(); }
  const std::vector<bssl::UniquePtr<CRYPTO_BUFFER>>& IntermediateBuffers()
      const {
    return intermediates_;
  }

  // Whether the subject equals the issuer once normalized and the
  // certificate's own key verifies its signature. No algorithm or key-size
  // policy applies.
  bool IsSelfSigned() const;

 private:
  friend class kelmbase::RefCountedThreadSafe<X509Certificate>;

  X509Certificate(bssl::UniquePtr<CRYPTO_BUFFER> cert_buffer,
                  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates,
                  PrintableStringHandling handling);
  ~X509Certificate();

  bool Initialize(PrintableStringHandling handling);

  CertPrincipal subject_;
  CertPrincipal issuer_;
  kelmbase::Time valid_start_;
  kelmbase::Time valid_expiry_;
  std::string serial_number_;
  bssl::UniquePtr<CRYPTO_BUFFER> cert_buffer_;
  std::vector<bssl::UniquePtr<CRYPTO_BUFFER>> intermediates_;
};

}  // namespace net

#endif  // AGENT_NET_CERT_X509_CERTIFICATE_H_
