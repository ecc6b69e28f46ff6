#ifndef AGENT_NET_CERT_CERT_ERRORS_H_
#define AGENT_NET_CERT_CERT_ERRORS_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "agent/net/cert/cert_error_id.h"
#include "agent/net/cert/cert_error_params.h"

namespace net {

// How bad an entry is. Only SEVERITY_ERROR makes a path invalid.
enum CertErrorSeverity : int32_t {
  SEVERITY_ERROR = 0,
  SEVERITY_WARNING = 1,
};

// One entry of a CertErrors list: severity, id and optional parameters.
struct CertErrorNode {
  CertErrorNode(CertErrorSeverity severity,
                CertErrorId id,
                std::unique_ptr<CertErrorParams> params);
  CertErrorNode(CertErrorNode&&);
  CertErrorNode& operator=(CertErrorNode&&);
  ~CertErrorNode();

  // "ERROR: " or "WARNING: ", the id's text and "\n"; then each line of the
  // parameters' text indented by two spaces and ended by "\n".
  std::string ToDebugString() const;

  CertErrorSeverity severity;
  CertErrorId id;
  std::unique_ptr<CertErrorParams> params;
};

// The problems one parse or verification step found, in the order added.
// Parsers and verifiers append to a list that their caller owns and reads
// afterwards. A list belongs to one caller: nothing here is locked.
class CertErrors {
 public:
  CertErrors();
  CertErrors(CertErrors&&);
  CertErrors& operator=(CertErrors&&);
  ~CertErrors();

  // Appends an entry; `params` may be null.
  void Add(CertErrorSeverity severity,
           CertErrorId id,
           std::unique_ptr<CertErrorParams> params);
  void AddError(CertErrorId id, std::unique_ptr<CertErrorParams> params);
  void AddError(CertErrorId id);
  void AddWarning(CertErrorId id, std::unique_ptr<CertErrorParams> params);
  void AddWarning(CertErrorId id);

  // The entries' texts in order, with nothing between them; "" when empty.
  std::string ToDebugString() const;

  // Whether an entry has this id (compared by address).
  bool ContainsError(CertErrorId id) const;
  // Whether an entry has this severity.
  bool ContainsAnyErrorWithSeverity(CertErrorSeverity severity) const;

  const std::vector<CertErrorNode>& nodes() const { return nodes_; }
  bool empty() const { return nodes_.empty(); }

 private:
  std::vector<CertErrorNode> nodes_;
};

// The errors of one certification path: a list per certificate, indexed by
// the certificate's position in the path (0 is the target), and one list
// for problems of the path as a whole.
class CertPathErrors {
 public:
  CertPathErrors();
  CertPathErrors(CertPathErrors&&);
  CertPathErrors& operator=(CertPathErrors&&);
  ~CertPathErrors();

  // The list of the certificate at `cert_index`, first adding empty lists
  // up to that index when there are fewer. The reference stays valid for
  // the life of this object, however many lists are added later.
  CertErrors* GetErrorsForCert(size_t cert_index);

  // The list for the path as a whole.
  CertErrors* GetOtherErrors();

  // Whether any list holds an entry with this id (compared by address).
  bool ContainsError(CertErrorId id) const;
  // Whether any list holds an entry with this severity.
  bool ContainsAnyErrorWithSeverity(CertErrorSeverity severity) const;

 private:
  // A deque, so that growing it never moves the lists already handed out.
  std::deque<CertErrors> cert_errors_;
  CertErrors other_errors_;
};

}  // namespace net

#endif  // AGENT_NET_CERT_CERT_ERRORS_H_
