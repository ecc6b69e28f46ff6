#ifndef AGENT_NET_CERT_INTERNAL_PARSED_CERTIFICATE_H_
#define AGENT_NET_CERT_INTERNAL_PARSED_CERTIFICATE_H_

#include <openssl/pool.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/net/cert/internal/certificate_policies.h"
#include "agent/net/cert/internal/parse_certificate.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parse_values.h"

namespace net {

class CertErrors;
class NameConstraints;
class SignatureAlgorithm;
struct GeneralNames;

// An X.509 certificate parsed once, with every TBS field, its outer
// signature algorithm, its normalized subject and issuer and every
// extension this library knows already decoded. Immutable once created; any
// thread may read it, and it is shared through its atomic reference count.
//
// Every view it hands out points into the certificate's DER bytes: the
// buffer it holds a reference to, or, for CreateFromStaticBytes, the
// caller's bytes, which must then outlive the object.
class ParsedCertificate
    : public kelmbase::RefCountedThreadSafe<ParsedCertificate> {
 public:
  using ExtensionsMap = std::map<der::Input, ParsedExtension>;

  ParsedCertificate(const ParsedCertificate&) = delete;
  ParsedCertificate& operator=(const ParsedCertificate&) = delete;

  // Parses the certificate in `cert_data`, taking over that reference.
  // Returns null when any part fails to parse; `errors` (may be null) then
  // ends with one message naming the step that failed, after whatever the
  // step itself recorded. Serial-number warnings are recorded even on
  // success.
  static scoped_refptr<ParsedCertificate> Create(
      bssl::UniquePtr<CRYPTO_BUFFER> cert_data,
      const ParseCertificateOptions& options,
      CertErrors* errors);

  // The same over `length` bytes at `data` that the caller keeps alive and
  // unchanged for the life of the object; nothing is copied.
  static scoped_refptr<ParsedCertificate> CreateFromStaticBytes(
      const uint8_t* data,
      size_t length,
      const ParseCertificateOptions& options,
      CertErrors* errors);

  // The buffer the certificate was made from; null for static bytes.
  CRYPTO_BUFFER* cert_buffer() const { return cert_data_.get(); }
  // The whole certificate.
  const der::Input& der_cert() const { return cert_; }
  const der::Input& tbs_certificate_tlv() const { return tbs_certificate_tlv_; }
  const der::Input& signature_algorithm_tlv() const {
    return signature_algorithm_tlv_;
  }
  const der::BitString& signature_value() const { return signature_value_; }
  const ParsedTbsCertificate& tbs() const { return tbs_; }
  // The outer signatureAlgorithm (not the copy inside the TBSCertificate).
  const SignatureAlgorithm& signature_algorithm() const {
    return *signature_algorithm_;
  }

  // The subject's and the issuer's RDN sequences in normalized form: the
  // keys that issuers are chained and looked up by.
  der::Input normalized_subject() const { return der::Input(normalized_subject_); }
  der::Input normalized_issuer() const { return der::Input(normalized_issuer_); }

  bool has_basic_constraints() const { return has_basic_constraints_; }
  const ParsedBasicConstraints& basic_constraints() const {
    return basic_constraints_;
  }

  bool has_key_usage() const { return has_key_usage_; }
  const der::BitString& key_usage() const { return key_usage_; }

  bool has_extended_key_usage() const { return has_extended_key_usage_; }
  // The purpose OIDs in encoded order.
  const std::vector<der::Input>& extended_key_usage() const {
    return extended_key_usage_;
  }

  bool has_subject_alt_names() const { return subject_alt_names_ != nullptr; }
  const ParsedExtension& subject_alt_names_extension() const {
    return subject_alt_names_extension_;
  }
  // Null when the certificate has no subjectAltName.
  const GeneralNames* subject_alt_names() const {
    return subject_alt_names_.get();
  }

  bool has_name_constraints() const { return name_constraints_ != nullptr; }
  // Only valid when has_name_constraints().
  const NameConstraints& name_constraints() const { return *name_constraints_; }

  bool has_authority_info_access() const { return has_authority_info_access_; }
  const ParsedExtension& authority_info_access_extension() const {
    return authority_info_access_extension_;
  }
  const std::vector<std::string_view>& ca_issuers_uris() const {
    return ca_issuers_uris_;
  }
  const std::vector<std::string_view>& ocsp_uris() const { return ocsp_uris_; }

  bool has_policy_oids() const { return has_policy_oids_; }
  // Sorted, each once.
  const std::vector<der::Input>& policy_oids() const { return policy_oids_; }

  bool has_policy_constraints() const { return has_policy_constraints_; }
  const ParsedPolicyConstraints& policy_constraints() const {
    return policy_constraints_;
  }

  bool has_policy_mappings() const { return has_policy_mappings_; }
  const std::vector<ParsedPolicyMapping>& policy_mappings() const {
    return policy_mappings_;
  }

  bool has_inhibit_any_policy() const { return has_inhibit_any_policy_; }
  uint8_t inhibit_any_policy() const { return inhibit_any_policy_; }

  const std::optional<ParsedAuthorityKeyIdentifier>& authority_key_identifier()
      const {
    return authority_key_identifier_;
  }
  const std::optional<der::Input>& subject_key_identifier() const {
    return subject_key_identifier_;
  }

  // Every extension, known or not, by OID.
  const ExtensionsMap& extensions() const { return extensions_; }

  // Copies the extension with `extension_oid` into `parsed_extension` and
  // returns true; returns false, leaving `parsed_extension` empty, when the
  // certificate has no such extension.
  bool GetExtension(const der::Input& extension_oid,
                    ParsedExtension* parsed_extension) const;

 private:
  friend class kelmbase::RefCountedThreadSafe<ParsedCertificate>;

  ParsedCertificate();
  ~ParsedCertificate();

  static scoped_refptr<ParsedCertificate> CreateInternal(
      bssl::UniquePtr<CRYPTO_BUFFER> cert_data,
      der::Input static_bytes,
      const ParseCertificateOptions& options,
      CertErrors* errors);
  // Decodes the known extensions of extensions_ in their fixed order.
  bool ParseKnownExtensions(const der::Input& subject_value,
                            CertErrors* errors);

  bssl::UniquePtr<CRYPTO_BUFFER> cert_data_;
  der::Input cert_;
  der::Input tbs_certificate_tlv_;
  der::Input signature_algorithm_tlv_;
  der::BitString signature_value_;
  ParsedTbsCertificate tbs_;
  std::unique_ptr<SignatureAlgorithm> signature_algorithm_;
  std::string normalized_subject_;
  std::string normalized_issuer_;

  bool has_basic_constraints_ = false;
  ParsedBasicConstraints basic_constraints_;
  bool has_key_usage_ = false;
  der::BitString key_usage_;
  bool has_extended_key_usage_ = false;
  std::vector<der::Input> extended_key_usage_;
  ParsedExtension subject_alt_names_extension_;
  std::unique_ptr<GeneralNames> subject_alt_names_;
  std::unique_ptr<NameConstraints> name_constraints_;
  bool has_authority_info_access_ = false;
  ParsedExtension authority_info_access_extension_;
  std::vector<std::string_view> ca_issuers_uris_;
  std::vector<std::string_view> ocsp_uris_;
  bool has_policy_oids_ = false;
  std::vector<der::Input> policy_oids_;
  bool has_policy_constraints_ = false;
  ParsedPolicyConstraints policy_constraints_;
  bool has_policy_mappings_ = false;
  std::vector<ParsedPolicyMapping> policy_mappings_;
  bool has_inhibit_any_policy_ = false;
  uint8_t inhibit_any_policy_ = 0;
  std::optional<ParsedAuthorityKeyIdentifier> authority_key_identifier_;
  std::optional<der::Input> subject_key_identifier_;
  ExtensionsMap extensions_;
};

using ParsedCertificateList = std::vector<scoped_refptr<ParsedCertificate>>;

}  // namespace net

#endif  // AGENT_NET_CERT_INTERNAL_PARSED_CERTIFICATE_H_
