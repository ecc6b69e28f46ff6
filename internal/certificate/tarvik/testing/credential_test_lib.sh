# Shared by the end-to-end credential tests, which source it after setting
# tarvik_binary: a clean environment for the tool, failure counting, and
# the views of the files that each case compares before and after.
unset KELM_CLIENT_CERT KELM_CLIENT_PRIVKEY KELM_CLIENT_CERT_CHAIN \
  KELM_AUTH_DEV_MODEL_CHAIN KELM_AUTH_DEV_GENERATE KELM_AUTH_DEV_SIGN \
  KELM_AUTH_DEV_RESULT KELM_AUTH_DEV_CALL_LOG
umask 022
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# The tool, killed after 60 seconds (status 124 then).
tarvik() { timeout 60 "$tarvik_binary" "$@"; }
# A hash of each named path, "-" for a missing one.
state() {
  local path
  for path in "$@"; do
    if [ -e "$path" ] || [ -L "$path" ]; then
      sha256sum <"$path" 2>/dev/null | cut -c1-64 || echo "unreadable"
    else
      echo -
    fi
  done
}
temporaries() { find "$@" -maxdepth 1 -name '.*.tarvik-*' 2>/dev/null; }
has_record() { grep -q "\] $2" "$1"; }
# Holds a lock file's lock (-s shared, -x exclusive) for some seconds in a
# background process, $! afterwards, which is the sleep itself: killing it
# releases the lock and leaves no child holding the test's output open
# (CTest waits for every holder).
hold_lock() { # <-s|-x> <lock file> <seconds>
  (exec 9<>"$2" && flock "$1" 9 && exec sleep "$3") &
}
# Sets runner_tool and as_runner for runs of a user without root's
# privileges: as root, nobody, with the tool and the library it loads
# through its run path copied under $work where nobody cannot reach them.
setup_runner() {
  runner_tool=$tarvik_binary
  if [ "$(id -u)" -ne 0 ]; then
    as_runner() { "$@"; }
    return
  fi
  as_runner() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
  chmod 711 "$work"
  local library
  library=$(ldd "$tarvik_binary" | awk '/libkelm_core_auth/ { print $3 }')
  if ! as_runner test -x "$tarvik_binary" || ! as_runner test -r "$library"; then
    mkdir -p "$work/runner_tool/bin" "$work/runner_tool/lib"
    cp "$tarvik_binary" "$work/runner_tool/bin/tarvik"
    cp "$library" "$work/runner_tool/lib/"
    chmod -R a+rX "$work/runner_tool"
    runner_tool=$work/runner_tool/bin/tarvik
  fi
}
