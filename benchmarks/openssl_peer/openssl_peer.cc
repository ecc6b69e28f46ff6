// Compiled against OpenSSL 3's headers only (never BoringSSL's). Function
// types come from those headers; the functions themselves from a private
// dlopen of OpenSSL's libcrypto, so nothing here is resolved at link time
// and BoringSSL's symbols in the same process are never mixed in.

#include "benchmarks/openssl_peer/openssl_peer.h"

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

namespace openssl_peer {

namespace {

struct Functions {
  decltype(&::d2i_X509) d2i_X509;
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
  std::fprintf(stderr, "openssl_peer: %s: %s\n", what, dlerror());
  std::abort();
}

template <typename T>
void LoadFunction(void* library, const char* name, T* out) {
  void* symbol = dlsym(library, name);
  if (!symbol)
    Die(name);
  *out = reinterpret_cast<T>(symbol);
}

X509* Parse(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return g_functions.d2i_X509(nullptr, &p, static_cast<long>(der.size()));
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

// Runs X509_verify_cert for `leaf` with `root` in a new store and
// `intermediate` as untrusted, for `purpose` unless it is 0, and frees the
// three certificates (any of which may be null: the chain then fails).
bool VerifyAndFree(X509* leaf, X509* intermediate, X509* root, int purpose,
                   time_t at) {
  const Functions& f = g_functions;
  X509_STORE* store = f.X509_STORE_new();
  OPENSSL_STACK* untrusted = f.OPENSSL_sk_new_null();
  X509_STORE_CTX* ctx = f.X509_STORE_CTX_new();
  bool ok = false;
  if (leaf && intermediate && root && store && untrusted && ctx &&
      f.X509_STORE_add_cert(store, root) == 1 &&
      f.OPENSSL_sk_push(untrusted, intermediate) > 0 &&
      f.X509_STORE_CTX_init(ctx, store, leaf,
                            reinterpret_cast<STACK_OF(X509)*>(untrusted)) ==
          1 &&
      (purpose == 0 || f.X509_STORE_CTX_set_purpose(ctx, purpose) == 1)) {
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
  if (leaf)
    f.X509_free(leaf);
  return ok;
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
  LoadFunction(library, "d2i_X509", &f.d2i_X509);
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

bool ParseAndFree(const std::string& der) {
  X509* cert = Parse(der);
  if (!cert)
    return false;
  g_functions.X509_free(cert);
  return true;
}

bool VerifyChain(const std::string& leaf_der,
                 const std::string& intermediate_der,
                 const std::string& root_der,
                 time_t at) {
  return VerifyAndFree(Parse(leaf_der), Parse(intermediate_der),
                       Parse(root_der), 0, at);
}

bool VerifyPemChain(const std::string& device_pem,
                    const std::string& intermediate_pem,
                    const std::string& root_pem,
                    time_t at) {
  return VerifyAndFree(ParsePem(device_pem), ParsePem(intermediate_pem),
                       ParsePem(root_pem), X509_PURPOSE_SSL_CLIENT, at);
}

}  // namespace openssl_peer
