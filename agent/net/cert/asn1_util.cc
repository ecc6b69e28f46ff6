#include "agent/net/cert/asn1_util.h"

#include "agent/net/der/input.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"

namespace net::asn1 {

bool ExtractSubjectPublicKeyInfo(kelmbase::StringPiece cert,
                                 kelmbase::StringPiece* spki_out) {
  der::Parser parser(
      der::Input(reinterpret_cast<const uint8_t*>(cert.data()), cert.size()));
  der::Parser certificate;
  if (!parser.ReadSequence(&certificate) || parser.HasMore())
    return false;
  der::Parser tbs_certificate;
  if (!certificate.ReadSequence(&tbs_certificate))
    return false;

  bool present;
  if (!tbs_certificate.SkipOptionalElement(der::ContextSpecificConstructed(0),
                                           &present)) {
    return false;
  }
  // serialNumber, signature, issuer, validity, subject.
  const der::Tag kSkipped[] = {der::kInteger, der::kSequence, der::kSequence,
                               der::kSequence, der::kSequence};
  for (der::Tag tag : kSkipped) {
    if (!tbs_certificate.SkipValueWithTag(tag))
      return false;
  }

  der::Input spki;
  if (!tbs_certificate.ReadRawElement(&spki))
    return false;
  *spki_out = kelmbase::StringPiece(
      reinterpret_cast<const char*>(spki.data()), spki.length());
  return true;
}

}  // namespace net::asn1
