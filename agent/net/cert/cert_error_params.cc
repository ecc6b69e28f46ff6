#include "agent/net/cert/cert_error_params.h"

#include <cstdint>

#include "agent/base/strings/string_number_conversions.h"
#include "logging/check.h"

namespace net {

namespace {

std::string NamedDer(const char* name, const std::string& der) {
  return name + std::string(": ") + kelmbase::HexEncode(der.data(), der.size());
}

std::string NamedSize(const char* name, size_t value) {
  return name + std::string(": ") +
         kelmbase::NumberToString(static_cast<uint64_t>(value));
}

}  // namespace

CertErrorParams2Der::CertErrorParams2Der(const char* name1,
                                         const der::Input& der1,
                                         const char* name2,
                                         const der::Input& der2)
    : name1_(name1),
      der1_(der1.AsString()),
      name2_(name2),
      der2_(der2.AsString()) {}

std::string CertErrorParams2Der::ToDebugString() const {
  std::string result = NamedDer(name1_, der1_);
  if (name2_) {
    result += "\n";
    result += NamedDer(name2_, der2_);
  }
  return result;
}

CertErrorParams1SizeT::CertErrorParams1SizeT(const char* name, size_t value)
    : name_(name), value_(value) {}

std::string CertErrorParams1SizeT::ToDebugString() const {
  return NamedSize(name_, value_);
}

CertErrorParams2SizeT::CertErrorParams2SizeT(const char* name1,
                                             size_t value1,
                                             const char* name2,
                                             size_t value2)
    : name1_(name1), value1_(value1), name2_(name2), value2_(value2) {}

std::string CertErrorParams2SizeT::ToDebugString() const {
  return NamedSize(name1_, value1_) + "\n" + NamedSize(name2_, value2_);
}

std::unique_ptr<CertErrorParams> CreateCertErrorParams1Der(
    const char* name,
    const der::Input& der) {
  CHECK(name);
  return std::make_unique<CertErrorParams2Der>(name, der, nullptr,
                                               der::Input());
}

std::unique_ptr<CertErrorParams> CreateCertErrorParams2Der(
    const char* name1,
    const der::Input& der1,
    const char* name2,
    const der::Input& der2) {
  CHECK(name1);
  CHECK(name2);
  return std::make_unique<CertErrorParams2Der>(name1, der1, name2, der2);
}

std::unique_ptr<CertErrorParams> CreateCertErrorParams1SizeT(const char* name,
                                                            size_t value) {
  CHECK(name);
  return std::make_unique<CertErrorParams1SizeT>(name, value);
}

std::unique_ptr<CertErrorParams> CreateCertErrorParams2SizeT(const char* name1,
                                                            size_t value1,
                                                            const char* name2,
                                                            size_t value2) {
  CHECK(name1);
  CHECK(name2);
  return std::make_unique<CertErrorParams2SizeT>(name1, value1, name2, value2);
}

}  // namespace net
