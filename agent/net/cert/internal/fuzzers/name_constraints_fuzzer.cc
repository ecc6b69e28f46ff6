// Parses arbitrary nameConstraints values and checks arbitrary subjects and
// subjectAltNames against the ones that parse.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/net/base/ip_address.h"
#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/general_names.h"
#include "agent/net/cert/internal/name_constraints.h"
#include "agent/net/der/input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool is_critical = provider.ConsumeBool();
  const bool has_subject_alt_name = provider.ConsumeBool();
  const std::string constraints_value =
      provider.ConsumeRandomLengthString(size);
  const std::string subject = provider.ConsumeRandomLengthString(size);
  const std::string subject_alt_name = provider.ConsumeRemainingBytesAsString();

  net::CertErrors errors;
  std::unique_ptr<net::NameConstraints> constraints =
      net::NameConstraints::Create(net::der::Input(constraints_value),
                                   is_critical, &errors);
  if (!constraints) return 0;

  std::unique_ptr<net::GeneralNames> names;
  if (has_subject_alt_name) {
    names = net::ParseGeneralNames(net::der::Input(subject_alt_name), nullptr);
    if (!names) return 0;
    for (std::string_view dns_name : names->dns_names) {
      (void)constraints->IsPermittedDnsName(dns_name);
    }
    for (const net::IPAddress& address : names->ip_addresses) {
      (void)constraints->IsPermittedIp(address);
    }
  }
  constraints->IsPermittedCert(net::der::Input(subject), names.get(), &errors);
  (void)constraints->IsPermittedDirectoryName(net::der::Input(subject));
  return 0;
}
