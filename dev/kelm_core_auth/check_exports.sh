#!/usr/bin/env bash
# Checks the development platform library's dynamic interface and how a
# program linked through kelm_core_auth_link imports it.
#   check_exports.sh <libkelm_core_auth.so> <program> <run path> [--weak]
# The library must define exactly the three KelmAuth_* functions, each with
# the version KELM_AUTH_1.0, and nothing else. The program must import them
# with that version (weak ones with --weak), be bound at start-up, carry
# <run path> at the front of its RUNPATH, and, copied to bin/ beside a lib/
# holding the library, load it from there. The program must be a GoogleTest
# binary (it is run with --gtest_list_tests).
set -uo pipefail
lib=$1
program=$2
runpath=$3
want_weak=${4:-}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

expected=$'KelmAuth_GenerateDeviceKeyAndCert@@KELM_AUTH_1.0\nKelmAuth_GetModelCertChain@@KELM_AUTH_1.0\nKelmAuth_SignHash@@KELM_AUTH_1.0'
# Defined dynamic symbols apart from the version definition itself.
defined=$(nm -D --defined-only --with-symbol-versions "$lib" |
          awk '{print $3}' | grep -v '^KELM_AUTH_1\.0$' | sort)
if [ "$defined" != "$expected" ]; then
  fail "library exports differ; got:"$'\n'"$defined"
fi
# Each is a global function (not weak, not hidden).
# (Tool output is captured first and handed to grep without a pipe: grep -q
# stops reading early, which a pipe's writer would see as a failure.)
lib_syms=$(readelf --dyn-syms -W "$lib")
lib_dynamic=$(readelf -d "$lib")
program_syms=$(readelf --dyn-syms -W "$program")
program_dynamic=$(readelf -d "$program")
for name in KelmAuth_GetModelCertChain KelmAuth_GenerateDeviceKeyAndCert \
            KelmAuth_SignHash; do
  grep -Eq " FUNC +GLOBAL +DEFAULT +[0-9]+ ${name}@@KELM_AUTH_1\.0$" \
    <<<"$lib_syms" ||
    fail "$name is not a global function of version KELM_AUTH_1.0"
done
grep -q 'Library soname: \[libkelm_core_auth\.so\]' <<<"$lib_dynamic" ||
  fail "library soname is not libkelm_core_auth.so"

grep -q 'Shared library: \[libkelm_core_auth\.so\]' <<<"$program_dynamic" ||
  fail "program does not need libkelm_core_auth.so"
grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$program_dynamic" ||
  fail "program is not bound at start-up"
got_runpath=$(sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]/\1/p' \
              <<<"$program_dynamic")
case "$got_runpath" in
  "$runpath"|"$runpath":*) ;;
  *) fail "program RUNPATH is '$got_runpath', want it to start with '$runpath'" ;;
esac
binding='(GLOBAL|WEAK)'
[ "$want_weak" = --weak ] && binding=WEAK
for name in KelmAuth_GetModelCertChain KelmAuth_GenerateDeviceKeyAndCert \
            KelmAuth_SignHash; do
  grep -Eq " UND ${name}@KELM_AUTH_1\.0( \([0-9]+\))?$" <<<"$program_syms" ||
    fail "program does not import $name@KELM_AUTH_1.0"
  grep -Eq " FUNC +${binding} +DEFAULT +UND ${name}@KELM_AUTH_1\.0" \
    <<<"$program_syms" ||
    fail "program's import of $name is not ${binding}"
done

# Laid out as on a device, a program beside lib/.. finds the library through
# $ORIGIN/../lib before the build tree's own entry.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/lib"
cp "$program" "$work/bin/program"
cp "$lib" "$work/lib/libkelm_core_auth.so"
loaded=$(LD_DEBUG=libs "$work/bin/program" --gtest_list_tests 2>&1 >/dev/null |
         grep 'calling init: .*libkelm_core_auth\.so' || true)
case "$loaded" in
  *"$work/bin/../lib/libkelm_core_auth.so"*) ;;
  *) fail "program did not load the library from \$ORIGIN/../lib: $loaded" ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "libkelm_core_auth interface checks passed"
