#include "agent/base/xdg_user_dir_lookup.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>

namespace {

// Lines longer than this are read in pieces, each taken as a line of its own.
constexpr int kLineBufferSize = 512;

constexpr char kHomePrefix[] = "$HOME/";
constexpr size_t kHomePrefixLength = sizeof(kHomePrefix) - 1;

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

char* CopyToHeap(const std::string& text) {
  char* copy = static_cast<char*>(malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// The directory that `line` configures for `type`, or false if the line
// says nothing about it.
bool ParseLine(const char* line, const char* type, const char* home,
               std::string* dir) {
  const char* p = SkipBlanks(line);
  if (strncmp(p, "XDG_", 4) != 0) return false;
  p += 4;
  const size_t type_length = strlen(type);
  if (strncmp(p, type, type_length) != 0) return false;
  p += type_length;
  if (strncmp(p, "_DIR", 4) != 0) return false;
  p = SkipBlanks(p + 4);
  if (*p != '=') return false;
  p = SkipBlanks(p + 1);
  if (*p != '"') return false;
  ++p;

  std::string value;
  if (strncmp(p, kHomePrefix, kHomePrefixLength) == 0) {
    value = home;
    value += '/';
    p += kHomePrefixLength;
  } else if (*p != '/') {
    return false;
  }
  for (; *p != '"' && *p != '\0'; ++p) {
    if (*p == '\\' && p[1] != '\0') ++p;
    value += *p;
  }
  *dir = std::move(value);
  return true;
}

// The configured directory, or false if the file cannot be read or has no
// line for `type`.
bool ReadConfiguredDir(const char* type, const char* home, std::string* dir) {
  std::string config_file;
  const char* config_home = getenv("XDG_CONFIG_HOME");
  if (config_home != nullptr && config_home[0] != '\0') {
    config_file = config_home;
  } else {
    config_file = home;
    config_file += "/.config";
  }
  config_file += "/user-dirs.dirs";

  FILE* file = fopen(config_file.c_str(), "re");
  if (file == nullptr) return false;

  bool found = false;
  char buffer[kLineBufferSize];
  while (fgets(buffer, sizeof(buffer), file) != nullptr) {
    size_t length = strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n') buffer[length - 1] = '\0';
    if (ParseLine(buffer, type, home, dir)) found = true;
  }
  fclose(file);
  return found;
}

}  // namespace

char* LookupXdgUserDir(const char* type) {
  const char* home = getenv("HOME");
  if (home == nullptr) return CopyToHeap("/tmp");

  std::string dir;
  if (ReadConfiguredDir(type, home, &dir)) return CopyToHeap(dir);

  if (strcmp(type, "DESKTOP") == 0) {
    return CopyToHeap(std::string(home) + "/Desktop");
  }
  return CopyToHeap(home);
}
