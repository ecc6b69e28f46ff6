#ifndef AGENT_NET_CERT_CERT_ERROR_ID_H_
#define AGENT_NET_CERT_CERT_ERROR_ID_H_

namespace net {

// Identifies a kind of certificate error. The value is the address of a
// constant, NUL-terminated description text, and ids compare by that
// address, never by the text: two ids whose texts are equal but which are
// separate objects stay different.
//
// Define an id as a named character array, so that it is an object of its
// own (string literals with equal text may share one address):
//   extern const char kMyError[];          // in a header, when shared
//   const char kMyError[] = "My error";    // in one source file
// and pass `kMyError` wherever a CertErrorId is wanted.
using CertErrorId = const void*;

// The description text of `id`.
const char* CertErrorIdToDebugString(CertErrorId id);

}  // namespace net

#endif  // AGENT_NET_CERT_CERT_ERROR_ID_H_
