#include "base/fatal_message.h"

#include <cstring>

#include "logging/log_message.h"

namespace base {
namespace {

char g_fatal_message[512];
bool g_fatal_message_present = false;

}  // namespace

void SaveFatalMessage(const char* record, size_t size) {
  g_fatal_message_present = true;
  // Leave out the record's newline and NUL; a record too short to hold them
  // contributes no text.
  size_t len = size >= 2 ? size - 2 : 0;
  if (len > sizeof(g_fatal_message) - 2) len = sizeof(g_fatal_message) - 2;
  memcpy(g_fatal_message, record, len);
  if (len == 0 || g_fatal_message[len - 1] != '\n') {
    g_fatal_message[len++] = '\n';
  }
  g_fatal_message[len] = '\0';
}

const char* SavedFatalMessage() {
  return g_fatal_message_present ? g_fatal_message : nullptr;
}

namespace {

[[maybe_unused]] const bool kSaverInstalled = [] {
  kelm_log::SetFatalMessageSaver(&SaveFatalMessage);
  return true;
}();

}  // namespace
}  // namespace base
