#include "agent/net/cert/cert_errors.h"

#include <utility>

namespace net {

CertErrorNode::CertErrorNode(CertErrorSeverity severity,
                             CertErrorId id,
                             std::unique_ptr<CertErrorParams> params)
    : severity(severity), id(id), params(std::move(params)) {}

CertErrorNode::CertErrorNode(CertErrorNode&&) = default;
CertErrorNode& CertErrorNode::operator=(CertErrorNode&&) = default;
CertErrorNode::~CertErrorNode() = default;

std::string CertErrorNode::ToDebugString() const {
  std::string result;
  switch (severity) {
    case SEVERITY_ERROR:
      result = "ERROR: ";
      break;
    case SEVERITY_WARNING:
      result = "WARNING: ";
      break;
  }
  result += CertErrorIdToDebugString(id);
  result += "\n";
  if (!params)
    return result;
  // Every line of the parameters, empty ones too, indented under the id.
  const std::string text = params->ToDebugString();
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    result += "  ";
    result.append(text, start, end == std::string::npos ? end : end - start);
    result += "\n";
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return result;
}

CertErrors::CertErrors() = default;
CertErrors::CertErrors(CertErrors&&) = default;
CertErrors& CertErrors::operator=(CertErrors&&) = default;
CertErrors::~CertErrors() = default;

void CertErrors::Add(CertErrorSeverity severity,
                     CertErrorId id,
                     std::unique_ptr<CertErrorParams> params) {
  nodes_.emplace_back(severity, id, std::move(params));
}

void CertErrors::AddError(CertErrorId id,
                          std::unique_ptr<CertErrorParams> params) {
  Add(SEVERITY_ERROR, id, std::move(params));
}

void CertErrors::AddError(CertErrorId id) {
  Add(SEVERITY_ERROR, id, nullptr);
}

void CertErrors::AddWarning(CertErrorId id,
                            std::unique_ptr<CertErrorParams> params) {
  Add(SEVERITY_WARNING, id, std::move(params));
}

void CertErrors::AddWarning(CertErrorId id) {
  Add(SEVERITY_WARNING, id, nullptr);
}

std::string CertErrors::ToDebugString() const {
  std::string result;
  for (const CertErrorNode& node : nodes_)
    result += node.ToDebugString();
  return result;
}

bool CertErrors::ContainsError(CertErrorId id) const {
  for (const CertErrorNode& node : nodes_) {
    if (node.id == id)
      return true;
  }
  return false;
}

bool CertErrors::ContainsAnyErrorWithSeverity(
    CertErrorSeverity severity) const {
  for (const CertErrorNode& node : nodes_) {
    if (node.severity == severity)
      return true;
  }
  return false;
}

CertPathErrors::CertPathErrors() = default;
CertPathErrors::CertPathErrors(CertPathErrors&&) = default;
CertPathErrors& CertPathErrors::operator=(CertPathErrors&&) = default;
CertPathErrors::~CertPathErrors() = default;

CertErrors* CertPathErrors::GetErrorsForCert(size_t cert_index) {
  if (cert_index >= cert_errors_.size())
    cert_errors_.resize(cert_index + 1);
  return &cert_errors_[cert_index];
}

CertErrors* CertPathErrors::GetOtherErrors() {
  return &other_errors_;
}

bool CertPathErrors::ContainsError(CertErrorId id) const {
  for (const CertErrors& errors : cert_errors_) {
    if (errors.ContainsError(id))
      return true;
  }
  return other_errors_.ContainsError(id);
}

bool CertPathErrors::ContainsAnyErrorWithSeverity(
    CertErrorSeverity severity) const {
  for (const CertErrors& errors : cert_errors_) {
    if (errors.ContainsAnyErrorWithSeverity(severity))
      return true;
  }
  return other_errors_.ContainsAnyErrorWithSeverity(severity);
}

}  // namespace net
