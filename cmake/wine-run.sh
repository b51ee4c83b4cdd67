#!/bin/bash
# Runs a Windows program under Wine in the given prefix; the caller's environment wins.
export WINEPREFIX="$1"; shift
export WINEDEBUG="${WINEDEBUG:--all}"
# The DLL is found through the search path, in bin/ beside the prefix; the
# programs and the simulator's libraries sit together in test/.
bin="$(dirname "$WINEPREFIX")/bin"
export WINEPATH="${WINEPATH:-Z:${bin//\//\\}}"
unset DISPLAY WAYLAND_DISPLAY
case "$WINEDEBUG" in
  *heap*) set -o pipefail; wine "$@" 2>&1 | { grep -v ':trace:heap:'; true; }; exit $? ;;
  *)      exec wine "$@" ;;
esac
