// Feeds arbitrary text to PemCertChainToDerList, which reads the model chain
// that the platform library hands over. A chain that it accepts must be
// exactly the certificates that PEM_X509_INFO_read_bio finds, each of them
// whole DER, in a text that holds no private key or CRL as a PEM block.

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/mem.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "absl/flags/flag.h"
#include "internal/certificate/tarvik/client_auth_generator.h"
#include "logging/check.h"
#include "logging/log.h"

namespace {

// Whether the library's reader for `label` ("ANY PRIVATE KEY" stands for
// every private-key label it knows) finds no such block in `text`.
bool HasNoBlockOf(const std::string& text, const char* label) {
  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(text.data(), text.size()));
  CHECK(bio);
  uint8_t* data = nullptr;
  long length = 0;
  char* name = nullptr;
  if (PEM_bytes_read_bio(&data, &length, &name, label, bio.get(), nullptr,
                         nullptr)) {
    OPENSSL_free(data);
    OPENSSL_free(name);
    return false;
  }
  // Any other failure met a block of that kind that it could not decrypt.
  const uint32_t error = ERR_peek_last_error();
  ERR_clear_error();
  return ERR_GET_LIB(error) == ERR_LIB_PEM &&
         ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Most inputs are refused, each with an error record.
  absl::SetFlag(&FLAGS_minloglevel, KELM_LOG_LEVEL_FATAL);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> ders;
  if (!PemCertChainToDerList(text, &ders)) {
    ERR_clear_error();
    return 0;
  }
  // An accepted chain leaves nothing in the library's error queue.
  CHECK_EQ(ERR_peek_error(), 0u);

  bssl::UniquePtr<BIO> bio(BIO_new_mem_buf(data, size));
  CHECK(bio);
  bssl::UniquePtr<STACK_OF(X509_INFO)> infos(
      PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr));
  CHECK(infos);
  CHECK_EQ(sk_X509_INFO_num(infos.get()), ders.size());
  for (size_t i = 0; i < ders.size(); ++i) {
    const X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
    CHECK(info->x509 != nullptr);
    CHECK(info->x_pkey == nullptr);
    CHECK(info->crl == nullptr);
    const uint8_t* cursor = reinterpret_cast<const uint8_t*>(ders[i].data());
    const uint8_t* end = cursor + ders[i].size();
    bssl::UniquePtr<X509> cert(
        d2i_X509(nullptr, &cursor, static_cast<long>(ders[i].size())));
    CHECK(cert);
    CHECK(cursor == end);
    CHECK_EQ(X509_cmp(cert.get(), info->x509), 0);
  }
  CHECK(HasNoBlockOf(text, PEM_STRING_EVP_PKEY));
  CHECK(HasNoBlockOf(text, PEM_STRING_X509_CRL));
  return 0;
}
