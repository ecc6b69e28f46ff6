#ifndef AGENT_BASE_XDG_USER_DIR_LOOKUP_H_
#define AGENT_BASE_XDG_USER_DIR_LOOKUP_H_

// Looks up the user directory of `type` ("DESKTOP", "DOWNLOAD", ...) in the
// user's user-dirs.dirs ($XDG_CONFIG_HOME/user-dirs.dirs, else
// $HOME/.config/user-dirs.dirs), where a line such as
//   XDG_DESKTOP_DIR="$HOME/Desktop"
// configures it; the last such line wins. Values must be absolute or start
// with "$HOME/"; a backslash makes the next character literal.
// Without a configured value: $HOME/Desktop for "DESKTOP", $HOME for any
// other type, and "/tmp" when HOME is not set.
// Returns text allocated with malloc that the caller frees, or null if no
// memory could be had.
char* LookupXdgUserDir(const char* type);

#endif  // AGENT_BASE_XDG_USER_DIR_LOOKUP_H_
