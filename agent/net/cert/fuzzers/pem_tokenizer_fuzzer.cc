// Feeds arbitrary text to the PEM tokenizer and checks that every block it
// returns was decoded from text between a header and a footer of its type.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/net/cert/pem.h"
#include "logging/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> types = {"CERTIFICATE", "PKCS7", "X"};
  net::PEMTokenizer tokenizer(text, types);
  size_t blocks = 0;
  while (tokenizer.GetNext()) {
    ++blocks;
    CHECK(text.find("-----BEGIN " + tokenizer.block_type() + "-----") !=
          std::string::npos);
    // Base64 never grows the bytes it decodes.
    CHECK_LE(tokenizer.data().size(), size);
    CHECK_LE(blocks, size);
  }
  CHECK(!tokenizer.GetNext());
  return 0;
}
