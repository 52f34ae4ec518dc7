#!/usr/bin/env bash
# Runs a Windows program under Wine, in a Wine prefix of the build's own.
#   wine_run.sh PREFIX --init            create the prefix (the first start of Wine)
#   wine_run.sh PREFIX PROGRAM [ARGS]    run PROGRAM with ARGS, exit with its status
# Debian's wine64 package puts the loader at /usr/lib/wine/wine64; the wine
# package adds wine/wine64 to PATH.  No display, no Mono, no Gecko is needed.
set -euo pipefail
export WINEPREFIX="$(realpath -m "$1")"
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

wine=""
for w in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$w" >/dev/null 2>&1; then wine=$(command -v "$w"); break; fi
done
if [ -z "$wine" ]; then
  echo "no Wine loader found (Debian: apt-get install wine64)" >&2
  exit 1
fi
server=$(dirname "$wine")/wineserver
command -v "$server" >/dev/null 2>&1 || server=wineserver

if [ "${1:-}" = "--init" ]; then
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init 2>&1 | grep -v -e 'syswow64' -e 'has been updated' -e 'created the configuration' || true
  fi
  # Let the prefix settle before the tests start their own Wine processes.
  "$server" -w || true
  test -f "$WINEPREFIX/system.reg"
  echo "Wine prefix ready: $WINEPREFIX ($("$wine" --version 2>/dev/null || echo wine))"
  exit 0
fi
# Debian's wineserver exits as soon as its last program does; a program that starts
# at that moment loses its connection before it runs ("wine client error: recvmsg:
# Connection reset by peer").  Such a start is tried once more, after the old server
# has gone; any other failure is the program's own status.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
set +e
"$wine" "$@" 2> >(tee "$err" >&2)
status=$?
set -e
wait
if [ "$status" -ne 0 ] && grep -q -e 'wine client error' -e 'recvmsg: Connection reset by peer' "$err"; then
  echo "wine_run.sh: Wine lost its server while starting; starting once more" >&2
  "$server" -w || true
  "$wine" "$@"
  exit $?
fi
exit "$status"
