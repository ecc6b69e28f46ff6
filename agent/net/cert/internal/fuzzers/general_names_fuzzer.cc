// Feeds arbitrary bytes to the subjectAltName parser and to the single
// GeneralName parser in both iPAddress modes.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "agent/net/cert/cert_errors.h"
#include "agent/net/cert/internal/general_names.h"
#include "agent/net/der/input.h"
#include "logging/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const net::der::Input input(data, size);

  net::CertErrors errors;
  std::unique_ptr<net::GeneralNames> names =
      net::ParseGeneralNames(input, &errors);
  // A failure always says why.
  CHECK(names || !errors.empty());
  if (names) {
    for (const net::IPAddress& address : names->ip_addresses) {
      CHECK(address.IsIPv4() || address.IsIPv6());
    }
    CHECK(names->ip_address_ranges.empty());
  }

  for (net::GeneralNameIpMode mode :
       {net::ADDRESS_ONLY, net::ADDRESS_AND_MASK}) {
    net::GeneralNames single;
    if (net::ParseGeneralName(input, mode, &single, nullptr)) {
      CHECK(single.present_name_types != net::GENERAL_NAME_NONE);
      for (const auto& [address, prefix_length] : single.ip_address_ranges) {
        CHECK(prefix_length <= address.size() * 8);
      }
    }
  }
  return 0;
}
