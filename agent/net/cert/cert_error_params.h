#ifndef AGENT_NET_CERT_CERT_ERROR_PARAMS_H_
#define AGENT_NET_CERT_CERT_ERROR_PARAMS_H_

#include <cstddef>
#include <memory>
#include <string>

#include "agent/net/der/input.h"

namespace net {

// Parameters that give detail to one certificate error entry. Each entry
// owns its parameters. Names passed to the factories below are not copied:
// they must be string constants.
class CertErrorParams {
 public:
  CertErrorParams() = default;
  CertErrorParams(const CertErrorParams&) = delete;
  CertErrorParams& operator=(const CertErrorParams&) = delete;
  virtual ~CertErrorParams() = default;

  // The parameters as text, one "name: value" line per parameter, lines
  // separated by "\n" (no newline at the end).
  virtual std::string ToDebugString() const = 0;
};

// One or two named DER values, each printed as upper-case hexadecimal; the
// second name is null in the one-value form. The bytes are copied.
class CertErrorParams2Der : public CertErrorParams {
 public:
  CertErrorParams2Der(const char* name1,
                      const der::Input& der1,
                      const char* name2,
                      const der::Input& der2);
  std::string ToDebugString() const override;

 private:
  const char* name1_;
  std::string der1_;
  const char* name2_;
  std::string der2_;
};

// One named size, printed in decimal.
class CertErrorParams1SizeT : public CertErrorParams {
 public:
  CertErrorParams1SizeT(const char* name, size_t value);
  std::string ToDebugString() const override;

 private:
  const char* name_;
  size_t value_;
};

// Two named sizes, printed in decimal.
class CertErrorParams2SizeT : public CertErrorParams {
 public:
  CertErrorParams2SizeT(const char* name1,
                        size_t value1,
                        const char* name2,
                        size_t value2);
  std::string ToDebugString() const override;

 private:
  const char* name1_;
  size_t value1_;
  const char* name2_;
  size_t value2_;
};

// One named DER value, printed as upper-case hexadecimal.
std::unique_ptr<CertErrorParams> CreateCertErrorParams1Der(const char* name,
                                                          const der::Input& der);

// Two named DER values.
std::unique_ptr<CertErrorParams> CreateCertErrorParams2Der(
    const char* name1,
    const der::Input& der1,
    const char* name2,
    const der::Input& der2);

// One named size, printed in decimal.
std::unique_ptr<CertErrorParams> CreateCertErrorParams1SizeT(const char* name,
                                                            size_t value);

// Two named sizes.
std::unique_ptr<CertErrorParams> CreateCertErrorParams2SizeT(const char* name1,
                                                            size_t value1,
                                                            const char* name2,
                                                            size_t value2);

}  // namespace net

#endif  // AGENT_NET_CERT_CERT_ERROR_PARAMS_H_
