#ifndef AGENT_NET_CERT_INTERNAL_VERIFY_NAME_MATCH_H_
#define AGENT_NET_CERT_INTERNAL_VERIFY_NAME_MATCH_H_

// Comparison of X.509 Names. A Name is normalized into a canonical byte
// string (for chaining issuers to subjects and keying trust stores), and one
// Name can be tested against another as a directory-name subtree (for name
// constraints).
//
// Every `der::Input` argument here is the contents of a Name SEQUENCE, that
// is an RDN sequence without the outer tag and length. Nothing keeps a
// reference to its arguments after returning; no shared state.

#include <string>

#include "agent/net/der/input.h"

namespace net {

class CertErrors;
struct X509NameAttribute;

// Which characters NormalizeDirectoryString lets through.
enum CharsetEnforcement {
  NO_ENFORCEMENT = 0,
  ENFORCE_PRINTABLE_STRING = 1,
  ENFORCE_ASCII = 2,
};

// Normalizes `*output` in place: leading and trailing spaces dropped, inner
// runs of spaces collapsed to one, A-Z lowered (no other case folding; bytes
// of multi-byte UTF-8 pass unchanged). ENFORCE_ASCII refuses any byte of
// 0x80 or more; ENFORCE_PRINTABLE_STRING refuses anything but letters,
// digits, space and ' ( ) * + , - . / : = ?. On failure `*output` is left
// partly rewritten.
[[nodiscard]] bool NormalizeDirectoryString(CharsetEnforcement charset,
                                            std::string* output);

// The normalized text of one string-typed attribute value: UTF8String,
// UniversalString and BMPString with no charset restriction, PrintableString
// restricted to its alphabet, IA5String to ASCII. Any other tag, including
// TeletexString, fails. Failures are recorded in `errors` (may be null).
[[nodiscard]] bool NormalizeAttributeValue(const X509NameAttribute& attribute,
                                           std::string* output,
                                           CertErrors* errors);

// Writes the normalized form of `name_rdn_sequence` to `*normalized`: each
// RDN as a DER SET OF (sorted) AttributeTypeAndValue, string values replaced
// by their normalized text as UTF8String, other values kept with their own
// tag. The result has no outer SEQUENCE header. Fails on any read error or a
// value that does not normalize; errors (may be null) say which value.
[[nodiscard]] bool NormalizeName(const der::Input& name_rdn_sequence,
                                 std::string* normalized, CertErrors* errors);

// How MatchNames compares.
enum NameMatchType {
  // Same number of RDNs, every one matching.
  kExactMatch = 0,
  // `other`'s RDNs match the leading RDNs of `name`.
  kSubtreeMatch = 1,
};

// Whether two RDN sequences match. RDNs match when they hold the same number
// of attributes and every attribute of one pairs with a distinct attribute of
// the other of the same type and either both string-typed with equal
// normalized values, or of equal tag and equal bytes. Anything unreadable
// does not match.
bool MatchNames(const der::Input& name, const der::Input& other,
                NameMatchType match_type);

// Whether `name` lies within the directory-name subtree `parent`, that is
// whether `parent`'s RDNs match the leading RDNs of `name`.
bool NameInSubtree(const der::Input& name, const der::Input& parent);

// Looks for a PKCS#9 emailAddress attribute (1.2.840.113549.1.9.1). Returns
// false when the name does not parse; otherwise true, with
// `*contained_email_address` telling whether one was found.
[[nodiscard]] bool NameHasEmailAddress(const der::Input& name_rdn_sequence,
                                       bool* contained_email_address);

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_VERIFY_NAME_MATCH_H_
