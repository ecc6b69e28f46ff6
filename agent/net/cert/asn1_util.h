#ifndef AGENT_NET_CERT_ASN1_UTIL_H_
#define AGENT_NET_CERT_ASN1_UTIL_H_

#include "agent/base/strings/string_piece.h"

namespace net::asn1 {

// Finds the SubjectPublicKeyInfo in a DER certificate without parsing the
// rest: `*spki_out` becomes a view of the whole element (tag, length and
// value) inside `cert`. False when the certificate's framing up to that
// element is wrong or bytes follow the certificate. Nothing beyond the
// framing is checked, not even the key's own tag.
[[nodiscard]] bool ExtractSubjectPublicKeyInfo(kelmbase::StringPiece cert,
                                               kelmbase::StringPiece* spki_out);

}  // namespace net::asn1

#endif  // AGENT_NET_CERT_ASN1_UTIL_H_
