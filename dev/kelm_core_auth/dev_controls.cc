#include "dev/kelm_core_auth/dev_controls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace kelm_auth_dev {
namespace {

using Choice = std::pair<std::string_view, Behaviour>;

Behaviour ReadBehaviour(const char* variable,
                        std::initializer_list<Choice> choices) {
  const char* value = getenv(variable);
  if (value == nullptr || value[0] == '\0') return Behaviour::kNormal;
  for (const Choice& choice : choices) {
    if (choice.first == value) return choice.second;
  }
  fprintf(stderr,
          "libkelm_core_auth (development): unknown %s value \"%s\"; "
          "failing the call\n",
          variable, value);
  return Behaviour::kFail;
}

}  // namespace

Behaviour ModelChainBehaviour() {
  return ReadBehaviour("KELM_AUTH_DEV_MODEL_CHAIN",
                       {{"fail", Behaviour::kFail},
                        {"empty", Behaviour::kEmpty},
                        {"template_only", Behaviour::kTemplateOnly},
                        {"garbage", Behaviour::kGarbage},
                        {"with_key", Behaviour::kWithKey},
                        {"no_placeholder", Behaviour::kNoPlaceholder}});
}

Behaviour GenerateBehaviour() {
  return ReadBehaviour("KELM_AUTH_DEV_GENERATE",
                       {{"fail", Behaviour::kFail},
                        {"empty", Behaviour::kEmpty},
                        {"key_only", Behaviour::kKeyOnly},
                        {"garbage_cert", Behaviour::kGarbageCert}});
}

Behaviour SignBehaviour() {
  return ReadBehaviour("KELM_AUTH_DEV_SIGN",
                       {{"fail", Behaviour::kFail},
                        {"empty", Behaviour::kEmpty},
                        {"corrupt", Behaviour::kCorrupt},
                        {"hang", Behaviour::kHang}});
}

int ResultByte() {
  const char* value = getenv("KELM_AUTH_DEV_RESULT");
  if (value == nullptr || value[0] == '\0') return -1;
  const std::string_view text(value);
  constexpr std::string_view kDigits = "0123456789abcdefABCDEF";
  if (text.size() != 4 || text.substr(0, 2) != "0x" ||
      kDigits.find(text[2]) == std::string_view::npos ||
      kDigits.find(text[3]) == std::string_view::npos) {
    fprintf(stderr,
            "libkelm_core_auth (development): unknown KELM_AUTH_DEV_RESULT "
            "value \"%s\"; failing the call\n",
            value);
    return 0;
  }
  return static_cast<int>(strtoul(value + 2, nullptr, 16));
}

bool RecordCall(const char* function) {
  const char* path = getenv("KELM_AUTH_DEV_CALL_LOG");
  if (path == nullptr || path[0] == '\0') return true;
  int fd;
  do {
    fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  const std::string line = std::string(function) + "\n";
  // One write of a short line to an O_APPEND file: lines of concurrent
  // processes do not interleave.
  ssize_t written = -1;
  if (fd >= 0) {
    do {
      written = write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
  }
  const int error = errno;
  if (fd >= 0) close(fd);
  if (written == static_cast<ssize_t>(line.size())) return true;
  // A count that silently stays short would make a test's count of calls
  // wrong without a word; the call fails instead, as for a mistyped value.
  fprintf(stderr,
          "libkelm_core_auth (development): cannot append to "
          "KELM_AUTH_DEV_CALL_LOG file \"%s\": %s; failing the call\n",
          path, written < 0 ? strerror(error) : "short write");
  return false;
}

}  // namespace kelm_auth_dev
