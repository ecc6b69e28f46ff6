#ifndef DEV_KELM_CORE_AUTH_DEV_PKI_DATA_H_
#define DEV_KELM_CORE_AUTH_DEV_PKI_DATA_H_

// The development PKI that the library is built with (dev/pki/data), as PEM
// text embedded at build time.

namespace kelm_auth_dev {

// The model template certificate: issued by the model intermediate CA, its
// subject common name is the placeholder.
extern const char kModelTemplateCertPem[];

// The model intermediate CA certificate, issued by the first root.
extern const char kModelIntermediateCertPem[];

// The intermediate CA's private key: the key that signs device certificates.
extern const char kModelIntermediateKeyPem[];

}  // namespace kelm_auth_dev

#endif  // DEV_KELM_CORE_AUTH_DEV_PKI_DATA_H_
