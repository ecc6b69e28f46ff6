// Feeds arbitrary bytes to the Name parser, the value converters, the
// normalizer and the matcher, and checks what must hold between them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/net/cert/internal/parse_name.h"
#include "agent/net/cert/internal/verify_name_match.h"
#include "agent/net/der/input.h"
#include "agent/net/der/parser.h"
#include "agent/net/der/tag.h"
#include "logging/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const net::der::Input input(data, size);

  net::RDNSequence rdns;
  if (net::ParseName(input, &rdns)) {
    for (const net::RelativeDistinguishedName& rdn : rdns) {
      for (const net::X509NameAttribute& attribute : rdn) {
        std::string text;
        (void)attribute.ValueAsString(&text);
        text.clear();
        (void)attribute.ValueAsStringWithHandling(
            net::PrintableStringHandling::kUnchecked, &text);
        text.clear();
        (void)attribute.ValueAsStringUnchecked(&text);
      }
    }
  }

  // The same bytes as the contents of a Name.
  std::string normalized;
  if (net::NormalizeName(input, &normalized, nullptr)) {
    // A name whose every value normalizes matches itself, and normalizing
    // is idempotent.
    CHECK(net::MatchNames(input, input, net::kExactMatch));
    std::string normalized_again;
    CHECK(net::NormalizeName(net::der::Input(normalized), &normalized_again,
                             nullptr));
    CHECK(normalized == normalized_again);
    CHECK(net::MatchNames(net::der::Input(normalized), input,
                          net::kExactMatch));
  }

  // Split the bytes into two names at the first element boundary, if any,
  // and compare them both ways.
  net::der::Parser parser(input);
  net::der::Input first;
  if (parser.ReadRawElement(&first)) {
    const net::der::Input rest(first.data() + first.length(),
                               size - first.length());
    (void)net::MatchNames(first, rest, net::kSubtreeMatch);
    (void)net::MatchNames(rest, first, net::kExactMatch);
  }

  bool has_email = false;
  (void)net::NameHasEmailAddress(input, &has_email);
  return 0;
}
