#ifndef AGENT_NET_CERT_INTERNAL_NAME_CONSTRAINTS_H_
#define AGENT_NET_CERT_INTERNAL_NAME_CONSTRAINTS_H_

// The nameConstraints extension (RFC 5280 4.2.1.10) and the test of a
// certificate's names against it.
//
// Only dNSName, directoryName and iPAddress names can be matched against
// constraints. A constraint on any other form (when the extension is
// critical) refuses every certificate that carries a name of that form; a
// non-critical extension restricts nothing of such a form.
//
// A NameConstraints holds views into the extension value it was created
// from, which must outlive it. It is immutable once created and may be read
// from any thread.

#include <cstdint>
#include <memory>
#include <string_view>

#include "agent/net/cert/internal/general_names.h"
#include "agent/net/der/input.h"

namespace net {

class CertErrors;

// How DnsNameMatchesConstraint treats a wildcard name ("*." and a domain).
enum WildcardMatchType {
  // The wildcard also matches when some name it stands for would: right for
  // excluded subtrees, where any overlap must be refused.
  WILDCARD_PARTIAL_MATCH = 0,
  // The asterisk is an ordinary byte: right for permitted subtrees, which
  // must hold every name the wildcard stands for.
  WILDCARD_FULL_MATCH = 1,
};

// Whether the DNS name lies within the dNSName constraint: an empty
// constraint holds every name; otherwise the name must equal the constraint
// or end with "." and the constraint, ignoring ASCII case and one trailing
// dot on either side. A constraint with a leading dot holds only names below
// it. See WildcardMatchType for wildcard names.
bool DnsNameMatchesConstraint(std::string_view name,
                              std::string_view constraint,
                              WildcardMatchType wildcard_matching);

class NameConstraints {
 public:
  ~NameConstraints();
  NameConstraints(const NameConstraints&) = delete;
  NameConstraints& operator=(const NameConstraints&) = delete;

  // Parses a nameConstraints extension value. `is_critical` decides which
  // forms the constraints may restrict (see the file comment). Null on
  // failure, with the reason in `errors` where there is one to give (may be
  // null).
  static std::unique_ptr<NameConstraints> Create(
      const der::Input& extension_value, bool is_critical, CertErrors* errors);

  // Tests a certificate's subject (the contents of its Name SEQUENCE) and
  // subjectAltName names (null when it has none) and adds an error to
  // `errors` (may be null) when they are not permitted. With no
  // subjectAltName and rfc822Name constrained, a subject carrying a PKCS#9
  // emailAddress is refused. The number of name comparisons is capped so
  // that many names against many constraints cannot make verification
  // quadratic: over the cap is an error too.
  void IsPermittedCert(const der::Input& subject_rdn_sequence,
                       const GeneralNames* subject_alt_names,
                       CertErrors* errors) const;

  // Whether a DNS name is outside every excluded dNSName subtree and, when
  // there are permitted dNSName subtrees, inside one of them.
  bool IsPermittedDnsName(std::string_view name) const;

  // The same for a directory name (the contents of a Name SEQUENCE).
  bool IsPermittedDirectoryName(const der::Input& name_rdn_sequence) const;

  // The same for an IP address against the address ranges.
  bool IsPermittedIp(const IPAddress& ip) const;

  // The GeneralNameTypes bits of the forms these constraints restrict.
  uint16_t constrained_name_types() const { return constrained_name_types_; }

  const GeneralNames& permitted_subtrees() const { return permitted_subtrees_; }
  const GeneralNames& excluded_subtrees() const { return excluded_subtrees_; }

 private:
  NameConstraints();

  bool Parse(const der::Input& extension_value, bool is_critical,
             CertErrors* errors);

  GeneralNames permitted_subtrees_;
  GeneralNames excluded_subtrees_;
  uint16_t constrained_name_types_ = GENERAL_NAME_NONE;
};

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_NAME_CONSTRAINTS_H_
