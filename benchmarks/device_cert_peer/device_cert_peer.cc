// Compiled against OpenSSL 3's headers only (never BoringSSL's). Function
// types come from those headers; the functions themselves from a private
// dlopen of OpenSSL's libcrypto, so nothing here is resolved at link time
// and BoringSSL's symbols in the same process are never mixed in.

#include "benchmarks/device_cert_peer/device_cert_peer.h"

#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>

#if OPENSSL_VERSION_MAJOR < 3
#error "The peer benchmark measures OpenSSL 3"
#endif

namespace device_cert_peer {

namespace {

struct Functions {
  decltype(&::BIO_new_mem_buf) BIO_new_mem_buf;
  decltype(&::BIO_free) BIO_free;
  decltype(&::PEM_read_bio_X509) PEM_read_bio_X509;
  decltype(&::X509_free) X509_free;
  decltype(&::X509_STORE_new) X509_STORE_new;
  decltype(&::X509_STORE_free) X509_STORE_free;
  decltype(&::X509_STORE_add_cert) X509_STORE_add_cert;
  decltype(&::X509_STORE_CTX_new) X509_STORE_CTX_new;
  decltype(&::X509_STORE_CTX_free) X509_STORE_CTX_free;
  decltype(&::X509_STORE_CTX_init) X509_STORE_CTX_init;
  decltype(&::X509_STORE_CTX_set_time) X509_STORE_CTX_set_time;
  decltype(&::X509_STORE_CTX_set_purpose) X509_STORE_CTX_set_purpose;
  decltype(&::X509_verify_cert) X509_verify_cert;
  decltype(&::OPENSSL_sk_new_null) OPENSSL_sk_new_null;
  decltype(&::OPENSSL_sk_push) OPENSSL_sk_push;
  decltype(&::OPENSSL_sk_free) OPENSSL_sk_free;
};

Functions g_functions;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "device_cert_peer: %s: %s\n", what, dlerror());
  std::abort();
}

template <typename T>
void LoadFunction(void* library, const char* name, T* out) {
  void* symbol = dlsym(library, name);
  if (!symbol)
    Die(name);
  *out = reinterpret_cast<T>(symbol);
}

// The first certificate of `pem`, as `openssl verify` reads a file.
X509* ParsePem(const std::string& pem) {
  const Functions& f = g_functions;
  BIO* bio = f.BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio)
    return nullptr;
  X509* cert = f.PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  f.BIO_free(bio);
  return cert;
}

}  // namespace

void Load(const char* library_path) {
  // RTLD_DEEPBIND: OpenSSL's calls into itself must not land in BoringSSL,
  // which the process loaded first and which exports many of the same
  // names.
  void* library = dlopen(library_path, RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
  if (!library)
    Die(library_path);
  Functions& f = g_functions;
  LoadFunction(library, "BIO_new_mem_buf", &f.BIO_new_mem_buf);
  LoadFunction(library, "BIO_free", &f.BIO_free);
  LoadFunction(library, "PEM_read_bio_X509", &f.PEM_read_bio_X509);
  LoadFunction(library, "X509_free", &f.X509_free);
  LoadFunction(library, "X509_STORE_new", &f.X509_STORE_new);
  LoadFunction(library, "X509_STORE_free", &f.X509_STORE_free);
  LoadFunction(library, "X509_STORE_add_cert", &f.X509_STORE_add_cert);
  LoadFunction(library, "X509_STORE_CTX_new", &f.X509_STORE_CTX_new);
  LoadFunction(library, "X509_STORE_CTX_free", &f.X509_STORE_CTX_free);
  LoadFunction(library, "X509_STORE_CTX_init", &f.X509_STORE_CTX_init);
  LoadFunction(library, "X509_STORE_CTX_set_time", &f.X509_STORE_CTX_set_time);
  LoadFunction(library, "X509_STORE_CTX_set_purpose",
               &f.X509_STORE_CTX_set_purpose);
  LoadFunction(library, "X509_verify_cert", &f.X509_verify_cert);
  LoadFunction(library, "OPENSSL_sk_new_null", &f.OPENSSL_sk_new_null);
  LoadFunction(library, "OPENSSL_sk_push", &f.OPENSSL_sk_push);
  LoadFunction(library, "OPENSSL_sk_free", &f.OPENSSL_sk_free);
}

bool VerifyPemChain(const std::string& device_pem,
                    const std::string& intermediate_pem,
                    const std::string& root_pem,
                    time_t at) {
  const Functions& f = g_functions;
  X509* device = ParsePem(device_pem);
  X509* intermediate = ParsePem(intermediate_pem);
  X509* root = ParsePem(root_pem);
  X509_STORE* store = f.X509_STORE_new();
  OPENSSL_STACK* untrusted = f.OPENSSL_sk_new_null();
  X509_STORE_CTX* ctx = f.X509_STORE_CTX_new();
  bool ok = false;
  if (device && intermediate && root && store && untrusted && ctx &&
      f.X509_STORE_add_cert(store, root) == 1 &&
      f.OPENSSL_sk_push(untrusted, intermediate) > 0 &&
      f.X509_STORE_CTX_init(ctx, store, device,
                            reinterpret_cast<STACK_OF(X509)*>(untrusted)) ==
          1 &&
      f.X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_CLIENT) == 1) {
    f.X509_STORE_CTX_set_time(ctx, 0, at);
    ok = f.X509_verify_cert(ctx) == 1;
  }
  if (ctx)
    f.X509_STORE_CTX_free(ctx);
  if (untrusted)
    f.OPENSSL_sk_free(untrusted);
  if (store)
    f.X509_STORE_free(store);
  if (root)
    f.X509_free(root);
  if (intermediate)
    f.X509_free(intermediate);
  if (device)
    f.X509_free(device);
  return ok;
}

}  // namespace device_cert_peer
